#include "service.h"

#include "driver_api.h"
#include "reg_key.h"
#include "text_util.h"

namespace {

const wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services\\";
const wchar_t kRootEnumKey[] = L"System\\CurrentControlSet\\Enum\\Root\\";

int DeviceKeyExists(const CStr& path)
{
    CRegKey key(path.c_str());
    key.m_dwAccess = KEY_READ;
    return key.Exists();
}

}  // namespace

CStr ServiceKeyPath(const wchar_t* serviceName)
{
    CStr path(kServicesKey);
    path += serviceName ? serviceName : L"";
    return path;
}

CStr DeviceNodeName(const wchar_t* serviceName)
{
    CStr name(serviceName ? serviceName : L"");
    for (wchar_t& c : name)
        c = AsciiUpper(c);
    return name;
}

CStr LegacyDeviceKeyPath(const wchar_t* serviceName)
{
    return RootDeviceKeyPath((L"LEGACY_" + CStr(serviceName ? serviceName : L"")).c_str());
}

CStr RootDeviceKeyPath(const wchar_t* serviceName)
{
    CStr path(kRootEnumKey);
    path += serviceName ? serviceName : L"";
    path += L"\\0000";
    return path;
}

int LegacyDeviceKeyExists(const wchar_t* serviceName)
{
    return DeviceKeyExists(LegacyDeviceKeyPath(DeviceNodeName(serviceName).c_str()));
}

int RootDeviceKeyExists(const wchar_t* serviceName)
{
    return DeviceKeyExists(RootDeviceKeyPath(DeviceNodeName(serviceName).c_str()));
}

CService::CService(const wchar_t* serviceName) : m_sServiceName(serviceName ? serviceName : L"")
{
    m_Manager.Open();
    m_hManagerCopy = m_Manager.Handle();
}

CService::~CService()
{
    CloseService();
}

CStr CService::ServiceKeyPath() const
{
    return ::ServiceKeyPath(m_sServiceName.c_str());
}

int CService::OpenService()
{
    if (m_hService)
        return 1;
    m_Manager.Open();
    m_hManagerCopy = m_Manager.Handle();
    if (!m_hManagerCopy || m_sServiceName.empty())
        return 0;
    m_hService.reset(driverapi::OpenServiceW(m_hManagerCopy, m_sServiceName.c_str(), kServiceQueryAccess));
    return m_hService ? 1 : 0;
}

int CService::CloseService()
{
    m_hService.reset();
    m_Manager.Close();
    m_hManagerCopy = nullptr;
    return 1;
}

int CService::Exists()
{
    const int opened = OpenService();
    CloseService();
    if (!opened)
        return 0;
    CRegKey key(m_sMachine.c_str(), ServiceKeyPath().c_str());
    return key.Exists();
}

int CService::IsDisabled()
{
    if (!Exists())
        return 0;
    CRegKey key(m_sMachine.c_str(), ServiceKeyPath().c_str());
    DWORD start = 0;
    return key.QueryDword(L"Start", &start) && start == SERVICE_DISABLED ? 1 : 0;
}

int CService::IsMarkedForDeletion()
{
    if (Exists()) {
        CRegKey key(m_sMachine.c_str(), ServiceKeyPath().c_str());
        DWORD flag = 0;
        if (key.QueryDword(L"DeleteFlag", &flag) && flag == 1)
            return 1;
        if (m_sServiceName.empty())
            return 0;
    }
    // The name as stored: the registry does not mind the letter case.
    CRegKey node(LegacyDeviceKeyPath(m_sServiceName.c_str()).c_str());
    node.m_dwAccess = KEY_READ;
    DWORD status = 0;
    return node.QueryDword(L"StatusFlags", &status) && status == kLegacyStatusMarkedForDeletion ? 1 : 0;
}
