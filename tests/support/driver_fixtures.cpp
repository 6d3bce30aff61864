#include "driver_fixtures.h"

#include "test_support.h"
#include "win_handle.h"

#include <cfgmgr32.h>
#include <devguid.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace tzrtest {

namespace {

const wchar_t kServicesKey[] = L"System\\CurrentControlSet\\Services\\";
const wchar_t kRootEnumKey[] = L"System\\CurrentControlSet\\Enum\\Root";

std::vector<std::wstring> Sorted(std::vector<std::wstring> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

bool SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data, DWORD bytes)
{
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
}

// The key with everything below it.
void RemoveTreeBelowHklm(const std::wstring& path)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

}  // namespace

std::string MultiString(const std::vector<std::wstring>& strings)
{
    std::wstring joined;
    for (const std::wstring& s : strings) {
        joined += s;
        joined += L'\0';
    }
    joined += L'\0';
    return std::string(reinterpret_cast<const char*>(joined.data()), joined.size() * sizeof(wchar_t));
}

TestDevice::TestDevice(const std::wstring& name, const std::vector<std::wstring>& hardwareIds)
{
    Create(name, MultiString(hardwareIds), true);
}

TestDevice::TestDevice(const std::wstring& name, const std::string& rawHardwareIds, bool withIds)
{
    Create(name, rawHardwareIds, withIds);
}

void TestDevice::Create(const std::wstring& name, const std::string& rawHardwareIds, bool withIds)
{
    // Wine lists only device keys that carry a class, so the device gets one.
    m_set.reset(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_SYSTEM, nullptr));
    if (!m_set)
        return;
    m_device.cbSize = sizeof m_device;
    if (!SetupDiCreateDeviceInfoW(m_set.get(), name.c_str(), &GUID_DEVCLASS_SYSTEM, nullptr, nullptr,
                                  DICD_GENERATE_ID, &m_device))
        return;
    if (withIds && !SetupDiSetDeviceRegistryPropertyW(m_set.get(), &m_device, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(rawHardwareIds.data()),
                                                      static_cast<DWORD>(rawHardwareIds.size())))
        return;
    if (!SetupDiRegisterDeviceInfo(m_set.get(), &m_device, 0, nullptr, nullptr, nullptr))
        return;
    m_bRegistered = true;
    wchar_t id[MAX_DEVICE_ID_LEN] = L"";
    if (SetupDiGetDeviceInstanceIdW(m_set.get(), &m_device, id, MAX_DEVICE_ID_LEN, nullptr))
        m_sInstanceId = id;
}

TestDevice::~TestDevice()
{
    if (m_bRegistered)
        SetupDiRemoveDevice(m_set.get(), &m_device);
}

TestService::TestService(const std::wstring& name, const std::wstring& imagePath, DWORD type) : m_sName(name)
{
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return;
    UniqueScHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, type,
                                          SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, imagePath.c_str(), nullptr,
                                          nullptr, nullptr, nullptr, nullptr));
    m_bCreated = static_cast<bool>(service);
}

TestService::~TestService()
{
    if (m_bCreated)
        RemoveService(m_sName);
}

std::wstring TestService::KeyPath() const
{
    return ServiceRegistryKey(m_sName);
}

std::wstring ServiceRegistryKey(const std::wstring& name)
{
    return kServicesKey + name;
}

void RemoveService(const std::wstring& name)
{
    {
        UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        UniqueScHandle service(manager ? OpenServiceW(manager.get(), name.c_str(), DELETE) : nullptr);
        if (service)
            DeleteService(service.get());
    }
    // Values a test wrote itself (a DeleteFlag, say) keep the key alive on
    // some systems; it goes in any case.
    RemoveTreeBelowHklm(ServiceRegistryKey(name));
}

bool ServiceExists(const std::wstring& name, DWORD* type, DWORD* start)
{
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    if (!service)
        return false;
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return false;
    if (type)
        *type = config->dwServiceType;
    if (start)
        *start = config->dwStartType;
    return true;
}

Leftovers::Leftovers(std::vector<std::wstring> services, std::vector<std::wstring> keys,
                     std::vector<std::wstring> files)
    : m_vServices(std::move(services)), m_vKeys(std::move(keys)), m_vFiles(std::move(files))
{
    Remove();
}

Leftovers::~Leftovers()
{
    Remove();
}

void Leftovers::Remove() const
{
    for (const std::wstring& name : m_vServices)
        RemoveService(name);
    for (const std::wstring& key : m_vKeys)
        RemoveTreeBelowHklm(key);
    for (const std::wstring& file : m_vFiles)
        DeleteFileW(file.c_str());
}

bool RegistryKeyExists(const std::wstring& path)
{
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

DWORD RegistryDword(const std::wstring& path, const std::wstring& name)
{
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

std::string RegistryString(const std::wstring& path, const std::wstring& name)
{
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::string();
    return Narrow(value);
}

TestRegistryKey::TestRegistryKey(const std::wstring& path) : m_sPath(path)
{
    // The topmost part of the path that does not exist yet.
    for (size_t at = path.find(L'\\'); ; at = path.find(L'\\', at + 1)) {
        const std::wstring prefix = at == std::wstring::npos ? path : path.substr(0, at);
        UniqueHkey probe;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_READ, probe.put()) != ERROR_SUCCESS) {
            m_sRemoveFrom = prefix;
            break;
        }
        if (at == std::wstring::npos)
            break;
    }
    UniqueHkey key;
    m_bCreated = !m_sRemoveFrom.empty() &&
                 RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                 nullptr) == ERROR_SUCCESS;
}

TestRegistryKey::~TestRegistryKey()
{
    if (!m_sRemoveFrom.empty())
        RemoveTreeBelowHklm(m_sRemoveFrom);
}

bool TestRegistryKey::SetDword(const std::wstring& name, DWORD value) const
{
    return SetValue(m_sPath, name, REG_DWORD, &value, sizeof value);
}

bool TestRegistryKey::SetString(const std::wstring& name, const std::wstring& value, DWORD type) const
{
    return SetValue(m_sPath, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool TestRegistryKey::SetBytes(const std::wstring& name, DWORD type, const std::string& bytes) const
{
    return SetValue(m_sPath, name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool TestRegistryKey::DeleteValue(const std::wstring& name) const
{
    return DeleteRegistryValue(m_sPath, name);
}

bool SetRegistryDword(const std::wstring& path, const std::wstring& name, DWORD value)
{
    return SetValue(path, name, REG_DWORD, &value, sizeof value);
}

bool SetRegistryString(const std::wstring& path, const std::wstring& name, const std::wstring& value)
{
    return SetValue(path, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool DeleteRegistryValue(const std::wstring& path, const std::wstring& name)
{
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    return RegDeleteValueW(key.get(), name.c_str()) == ERROR_SUCCESS;
}

TestFile::TestFile(const std::wstring& path, const std::string& bytes) : m_sPath(path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

TestFile::~TestFile()
{
    DeleteFileW(m_sPath.c_str());
}

TestDriverInf::TestDriverInf(const std::wstring& name, const std::wstring& hardwareId)
    : m_file(PathOf(name), Text(hardwareId))
{
}

std::wstring TestDriverInf::PathOf(const std::wstring& name)
{
    return SystemRoot() + L"\\inf\\" + name + L".inf";
}

std::string TestDriverInf::Text(const std::wstring& hardwareId)
{
    const std::string id = Narrow(hardwareId);
    return "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=System\r\n"
           "ClassGuid={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n"
           "Provider=%Tzr%\r\n"
           "DriverVer=01/01/2020,1.0.0.0\r\n"
           "\r\n[Manufacturer]\r\n%Tzr%=Models,NTamd64\r\n"
           "\r\n[Models]\r\n%Desc%=Install," + id + "\r\n"
           "\r\n[Models.NTamd64]\r\n%Desc%=Install," + id + "\r\n"
           "\r\n[Install]\r\n"
           "\r\n[Strings]\r\nTzr=\"TZR Test\"\r\nDesc=\"TZR test device driver\"\r\n";
}

std::wstring SystemRoot()
{
    wchar_t path[MAX_PATH] = L"";
    const DWORD n = GetEnvironmentVariableW(L"SystemRoot", path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? path : L"C:\\windows";
}

MachineState CaptureMachineState()
{
    MachineState state;
    UniqueDevInfoSet set(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; set && SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
        wchar_t id[MAX_DEVICE_ID_LEN] = L"";
        if (SetupDiGetDeviceInstanceIdW(set.get(), &device, id, MAX_DEVICE_ID_LEN, nullptr))
            state.devices.push_back(id);
    }

    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    DWORD needed = 0, count = 0, resume = 0;
    if (manager) {
        EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_TYPE_ALL, SERVICE_STATE_ALL, nullptr, 0,
                              &needed, &count, &resume, nullptr);
        std::unique_ptr<BYTE[]> block(new BYTE[needed + 1024]());
        resume = 0;
        if (EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_TYPE_ALL, SERVICE_STATE_ALL,
                                  block.get(), needed + 1024, &needed, &count, &resume, nullptr)) {
            const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(block.get());
            for (DWORD i = 0; i < count; ++i)
                state.services.push_back(services[i].lpServiceName);
        }
    }

    UniqueHkey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRootEnumKey, 0, KEY_READ, root.put()) == ERROR_SUCCESS) {
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(root.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            state.rootNodes.push_back(name);
        }
    }
    state.devices = Sorted(state.devices);
    state.services = Sorted(state.services);
    state.rootNodes = Sorted(state.rootNodes);
    return state;
}

void MachineTest::SetUp()
{
    m_before = CaptureMachineState();
}

void MachineTest::TearDown()
{
    const MachineState after = CaptureMachineState();
    EXPECT_EQ(m_before.devices, after.devices) << "devices left behind or lost";
    EXPECT_EQ(m_before.services, after.services) << "services left behind or lost";
    EXPECT_EQ(m_before.rootNodes, after.rootNodes) << "device nodes left behind or lost";
}

}  // namespace tzrtest
