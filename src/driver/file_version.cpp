#include "file_version.h"

#include "driver_api.h"
#include "framework_module.h"
#include "module_version.h"
#include "win_handle.h"

#include <memory>
#include <new>

CFileVersionInfo::CFileVersionInfo(const wchar_t* path)
{
    if (path && path[0]) {
        if (path[1] != L':') {
            const CStr folder = FrameworkFolder();
            // Without the plug-in's folder the file is not looked for at
            // all: the current directory is never the answer.
            if (!folder.empty()) {
                m_sPath = folder;
                m_sPath += L"\\";
                m_sPath += path;
            }
        } else {
            m_sPath = path;
        }
    }
    Read();
}

CFileVersionInfo::CFileVersionInfo(DWORD productVersionMS, DWORD productVersionLS, DWORD fileVersionMS,
                                   DWORD fileVersionLS, DWORD timeHigh, DWORD timeLow, DWORD size)
    : m_dwFileVersionMS(fileVersionMS),
      m_dwFileVersionLS(fileVersionLS),
      m_dwProductVersionMS(productVersionMS),
      m_dwProductVersionLS(productVersionLS),
      m_dwTimeHigh(timeHigh),
      m_dwTimeLow(timeLow),
      m_dwSize(size)
{
}

int CFileVersionInfo::Read()
{
    if (m_sPath.empty())
        return 0;
    {
        UniqueHandle file(CreateFileW(m_sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            m_dwSize = SetFilePointer(file.get(), 0, nullptr, FILE_END);
            if (m_dwSize == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
                m_dwSize = 0;
            FILETIME written{};
            FILETIME local{};
            if (GetFileTime(file.get(), nullptr, nullptr, &written) && FileTimeToLocalFileTime(&written, &local)) {
                m_dwTimeHigh = local.dwHighDateTime;
                m_dwTimeLow = local.dwLowDateTime;
            }
        }
    }
    DWORD ignored = 0;
    const DWORD blockSize = driverapi::GetFileVersionInfoSizeW(m_sPath.c_str(), &ignored);
    if (blockSize == 0)
        return 0;
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[blockSize]);
    if (!block)
        return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!driverapi::GetFileVersionInfoW(m_sPath.c_str(), 0, blockSize, block.get()) ||
        !driverapi::VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return 1;
    m_dwFileVersionMS = fixed->dwFileVersionMS;
    m_dwFileVersionLS = fixed->dwFileVersionLS;
    m_dwProductVersionMS = fixed->dwProductVersionMS;
    m_dwProductVersionLS = fixed->dwProductVersionLS;
    m_sFileVersion = FileVersionText(m_dwFileVersionMS, m_dwFileVersionLS);
    return 1;
}

int CFileVersionInfo::HasVersion() const
{
    return m_dwProductVersionMS || m_dwProductVersionLS || m_dwFileVersionMS || m_dwFileVersionLS || m_dwTimeHigh ||
                   m_dwTimeLow
               ? 1
               : 0;
}

CStr CFileVersionInfo::GetFileVersionText() const
{
    return HasVersion() ? m_sFileVersion : CStr();
}

int CFileVersionInfo::IsSameVersion(const CFileVersionInfo& other) const
{
    return m_dwFileVersionMS == other.m_dwFileVersionMS && m_dwFileVersionLS == other.m_dwFileVersionLS ? 1 : 0;
}

int CFileVersionInfo::IsNewerThan(const CFileVersionInfo& other) const
{
    if (m_dwFileVersionMS != other.m_dwFileVersionMS)
        return m_dwFileVersionMS > other.m_dwFileVersionMS ? 1 : 0;
    return m_dwFileVersionLS > other.m_dwFileVersionLS ? 1 : 0;
}
