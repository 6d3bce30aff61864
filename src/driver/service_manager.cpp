#include "service_manager.h"

#include "driver_api.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {

const wchar_t kSystemRootPrefix[] = L"\\SystemRoot";
const size_t kSystemRootPrefixLength = sizeof kSystemRootPrefix / sizeof kSystemRootPrefix[0] - 1;

// A zeroed block twice the size the system asked for, as the service
// database may grow between the size query and the real one.
std::unique_ptr<BYTE[]> DoubledBlock(DWORD reported, DWORD& size)
{
    if (reported == 0 || reported > 0x7FFFFFFF / 2)
        return nullptr;
    size = reported * 2;
    return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[size]());
}

}  // namespace

CStr SystemRootImagePath(const wchar_t* imagePath)
{
    if (!imagePath)
        return CStr();
    // Only the \SystemRoot form is rewritten: cutting 11 characters off any
    // other path (an absolute C:\... one, say) would name a file that does
    // not exist.
    if (wcslen(imagePath) >= kSystemRootPrefixLength &&
        _wcsnicmp(imagePath, kSystemRootPrefix, kSystemRootPrefixLength) == 0) {
        CStr rewritten(L"%systemroot%");
        rewritten += imagePath + kSystemRootPrefixLength;
        return rewritten;
    }
    return CStr(imagePath);
}

CStr DriverFileOfImagePath(const wchar_t* imagePath)
{
    const CStr rewritten = SystemRootImagePath(imagePath);
    const wchar_t* path = rewritten.c_str();
    const wchar_t kExpanded[] = L"%systemroot%\\";
    const size_t kExpandedLength = sizeof kExpanded / sizeof kExpanded[0] - 1;
    if (_wcsnicmp(path, kExpanded, kExpandedLength) == 0)
        return rewritten;
    // The object-manager form Windows writes for a driver on a drive.
    if (wcsncmp(path, L"\\??\\", 4) == 0)
        path += 4;
    const bool onDrive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                         path[1] == L':' && path[2] == L'\\';
    // Any other form would be looked up relative to the current directory
    // (the package folder) and found there only by accident.
    return onDrive ? CStr(path) : CStr();
}

CServiceManager::CServiceManager(const wchar_t* machine) : m_sMachine(machine ? machine : L"") {}

CServiceManager::~CServiceManager()
{
    Close();
}

int CServiceManager::Open()
{
    if (!m_hManager)
        m_hManager.reset(driverapi::OpenSCManagerW(m_sMachine.empty() ? nullptr : m_sMachine.c_str(),
                                            SERVICES_ACTIVE_DATABASEW, kServiceManagerQueryAccess));
    return m_hManager ? 1 : 0;
}

void CServiceManager::Close()
{
    m_hManager.reset();
}

int CServiceManager::GetServiceImagePath(const wchar_t* serviceName, CStr& path)
{
    if (!m_hManager || !serviceName)
        return 0;
    UniqueScHandle service(driverapi::OpenServiceW(m_hManager.get(), serviceName, kServiceQueryAccess));
    if (!service)
        return 0;
    DWORD needed = 0;
    if (QueryServiceConfigW(service.get(), nullptr, 0, &needed) ||
        (GetLastError() != ERROR_INSUFFICIENT_BUFFER && GetLastError() != ERROR_MORE_DATA))
        return 0;
    DWORD size = 0;
    std::unique_ptr<BYTE[]> block = DoubledBlock(needed, size);
    if (!block)
        return 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block.get());
    if (!QueryServiceConfigW(service.get(), config, size, &needed))
        return 0;
    if (config->lpBinaryPathName && config->lpBinaryPathName[0])
        path = SystemRootImagePath(config->lpBinaryPathName);
    return 1;
}

int CServiceManager::FindDriverFile(const wchar_t* text, CStr& path)
{
    if (!text || !Open())
        return 0;
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    if (EnumServicesStatusExW(m_hManager.get(), SC_ENUM_PROCESS_INFO, kSearchedServiceTypes, SERVICE_STATE_ALL,
                              nullptr, 0, &needed, &count, &resume, nullptr) ||
        GetLastError() != ERROR_MORE_DATA)
        return 0;
    DWORD size = 0;
    std::unique_ptr<BYTE[]> block = DoubledBlock(needed, size);
    if (!block)
        return 0;
    resume = 0;
    if (!EnumServicesStatusExW(m_hManager.get(), SC_ENUM_PROCESS_INFO, kSearchedServiceTypes, SERVICE_STATE_ALL,
                               block.get(), size, &needed, &count, &resume, nullptr))
        return 0;
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(block.get());
    for (DWORD i = 0; i < count; ++i) {
        CStr imagePath;
        if (!GetServiceImagePath(services[i].lpServiceName, imagePath) || imagePath.find(text) == CStr::npos)
            continue;
        const CStr file = DriverFileOfImagePath(imagePath.c_str());
        if (file.empty())
            continue;
        wchar_t expanded[MAX_PATH] = L"";
        const DWORD length = ExpandEnvironmentStringsW(file.c_str(), expanded, MAX_PATH);
        // A path cut to fit would name some other file.
        if (length == 0 || length > MAX_PATH)
            continue;
        const DWORD attributes = GetFileAttributesW(expanded);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        path = expanded;
        return 1;
    }
    return 0;
}
