// CInf's file lists: copy, delete and rename with the destination
// directories of [DestinationDirs]. A file in use is never an error while
// its replacement can be registered for the next restart; that asks for a
// restart instead.
#include "inf.h"

#include "unique_resource.h"

#include <cwchar>

namespace {

bool InUse(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

const DWORD kReplaceAtRestart = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;

}  // namespace

int CInf::ProcessFileLists(const wchar_t* section, const wchar_t* key, int (CInf::*list)(const wchar_t*))
{
    if (!ReadDestinationDirs())
        return 0;
    int result = 1;
    INFCONTEXT context;
    for (bool more = section && driverapi::SetupFindFirstLineW(m_hInf.get(), section, key, &context); more;
         more = driverapi::SetupFindNextMatchLineW(&context, key, &context) != FALSE) {
        const DWORD fields = driverapi::SetupGetFieldCount(&context);
        for (DWORD i = 1; i <= fields; ++i) {
            wchar_t name[kEntryChars];
            if (!driverapi::SetupGetStringFieldW(&context, i, name, kEntryChars, nullptr) || !(this->*list)(name))
                result = 0;
        }
    }
    return result;
}

int CInf::ProcessCopyFiles(const wchar_t* section)
{
    return ProcessFileLists(section, L"CopyFiles", &CInf::CopyFileList);
}

int CInf::ProcessDelFiles(const wchar_t* section)
{
    return ProcessFileLists(section, L"DelFiles", &CInf::DeleteFileList);
}

int CInf::ProcessRenFiles(const wchar_t* section)
{
    return ProcessFileLists(section, L"RenFiles", &CInf::RenameFileList);
}

int CInf::CopyFileList(const wchar_t* section)
{
    INFCONTEXT context;
    for (bool more = section && driverapi::SetupFindFirstLineW(m_hInf.get(), section, nullptr, &context); more;
         more = driverapi::SetupFindNextLine(&context, &context) != FALSE) {
        wchar_t name[kFileNameChars];
        CStr dir;
        if (!driverapi::SetupGetStringFieldW(&context, 1, name, kFileNameChars, nullptr) || !name[0] ||
            !GetDestinationDir(section, dir))
            return 0;
        const CStr destination = JoinPath(dir.c_str(), name);
        if (!CreateFileDirectory(destination.c_str()))
            return 0;

        const DWORD fields = driverapi::SetupGetFieldCount(&context);
        wchar_t sourceName[kFileNameChars] = L"";
        // A source name that cannot be read must not turn into field 1's.
        if (fields >= 2 && !driverapi::SetupGetStringFieldW(&context, 2, sourceName, kFileNameChars, nullptr))
            return 0;
        const CStr source = JoinPath(m_sSourceRoot.c_str(), sourceName[0] ? sourceName : name);

        INT flag = 0;
        if (fields < 4 || !driverapi::SetupGetIntField(&context, 4, &flag))
            flag = 0;
        const BOOL keepExisting = flag == 16 || flag == 65536;

        if (CopyFileW(source.c_str(), destination.c_str(), keepExisting))
            continue;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS && keepExisting)
            continue;
        if (!InUse(error) && error != ERROR_USER_MAPPED_FILE)
            return 0;
        CStr temporary;
        if (!CopyToTempFile(source.c_str(), temporary))
            return 0;
        if (!MoveFileExW(temporary.c_str(), destination.c_str(), kReplaceAtRestart)) {
            DeleteFileW(temporary.c_str());
            return 0;
        }
        m_bRestart = 1;
    }
    return 1;
}

int CInf::CopyToTempFile(const wchar_t* source, CStr& tempName)
{
    tempName.clear();
    if (!source)
        return 0;
    const wchar_t* const slash = wcsrchr(source, L'\\');
    const std::wstring dir = slash ? std::wstring(source, slash - source + 1) : std::wstring();
    const wchar_t* const file = slash ? slash + 1 : source;
    const wchar_t* const dot = wcsrchr(file, L'.');
    const std::wstring base = dot ? std::wstring(file, dot - file) : std::wstring(file);
    UniqueCrtWideString unique(_wtempnam(dir.empty() ? nullptr : dir.c_str(), base.c_str()));
    if (!unique)
        return 0;
    tempName = unique.get();
    if (dot)
        tempName += dot;
    if (!CopyFileW(source, tempName.c_str(), FALSE)) {
        tempName.clear();
        return 0;
    }
    return 1;
}

int CInf::DeleteFileList(const wchar_t* section)
{
    CStr dir;
    if (!GetDestinationDir(section, dir))
        return 0;
    INFCONTEXT context;
    for (bool more = section && driverapi::SetupFindFirstLineW(m_hInf.get(), section, nullptr, &context); more;
         more = driverapi::SetupFindNextLine(&context, &context) != FALSE) {
        wchar_t name[kEntryChars];
        if (!driverapi::SetupGetStringFieldW(&context, 1, name, kEntryChars, nullptr) || !name[0])
            return 0;
        const CStr file = JoinPath(dir.c_str(), name);
        INT flag = 0;
        if (driverapi::SetupGetFieldCount(&context) < 4 || !driverapi::SetupGetIntField(&context, 4, &flag))
            flag = 0;
        bool atRestart = flag == 1 || flag == 65536;
        if (!atRestart && !DeleteFileW(file.c_str())) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                continue;
            if (!InUse(error))
                return 0;
            atRestart = true;
        }
        if (atRestart) {
            if (!MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                return 0;
            m_bRestart = 1;
        }
    }
    return 1;
}

int CInf::RenameFileList(const wchar_t* section)
{
    CStr dir;
    if (!GetDestinationDir(section, dir))
        return 0;
    INFCONTEXT context;
    for (bool more = section && driverapi::SetupFindFirstLineW(m_hInf.get(), section, nullptr, &context); more;
         more = driverapi::SetupFindNextLine(&context, &context) != FALSE) {
        wchar_t newName[kFileNameChars];
        wchar_t oldName[kFileNameChars];
        if (driverapi::SetupGetFieldCount(&context) != 2 ||
            !driverapi::SetupGetStringFieldW(&context, 1, newName, kFileNameChars, nullptr) ||
            !driverapi::SetupGetStringFieldW(&context, 2, oldName, kFileNameChars, nullptr) || !newName[0] ||
            !oldName[0])
            return 0;
        const CStr from = JoinPath(dir.c_str(), oldName);
        const CStr to = JoinPath(dir.c_str(), newName);
        if (MoveFileW(from.c_str(), to.c_str()))
            continue;
        if (!InUse(GetLastError()) || !MoveFileExW(from.c_str(), to.c_str(), kReplaceAtRestart))
            return 0;
        m_bRestart = 1;
    }
    return 1;
}
