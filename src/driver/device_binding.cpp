#include "device_binding.h"

#include "device_list.h"
#include "driver_api.h"
#include "win_handle.h"

#include <cfgmgr32.h>

#include <cwchar>
#include <vector>

namespace {

// A registry property of the device as bytes; empty when it has none.
std::vector<BYTE> Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    DWORD required = 0;
    if (!driverapi::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, nullptr, 0, &required) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return {};
    std::vector<BYTE> data(required + 2 * sizeof(wchar_t), 0);
    if (!driverapi::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, data.data(), required,
                                                      nullptr))
        return {};
    return data;
}

bool Reports(HDEVINFO set, SP_DEVINFO_DATA& device, const std::wstring& id)
{
    for (DWORD property : {static_cast<DWORD>(SPDRP_HARDWAREID), static_cast<DWORD>(SPDRP_COMPATIBLEIDS)}) {
        const std::vector<BYTE> ids = Property(set, device, property);
        for (const std::wstring& reported : SplitMultiString(ids.data(), ids.size()))
            if (_wcsicmp(reported.c_str(), id.c_str()) == 0)
                return true;
    }
    return false;
}

std::wstring StringValue(HKEY key, const wchar_t* name)
{
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof value - sizeof value[0];
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return std::wstring(value, wcsnlen(value, size / sizeof value[0]));
}

std::vector<char> FileBytes(const std::wstring& path)
{
    std::vector<char> bytes;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    return bytes;
}

}  // namespace

std::vector<DeviceBinding> DeviceBindingsOf(const std::wstring& hardwareId)
{
    std::vector<DeviceBinding> bindings;
    UniqueDevInfoSet set(
        driverapi::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set)
        return bindings;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; driverapi::SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        if (!Reports(set.get(), device, hardwareId))
            continue;
        DeviceBinding binding;
        wchar_t instance[MAX_DEVICE_ID_LEN] = L"";
        if (driverapi::SetupDiGetDeviceInstanceIdW(set.get(), &device, instance, MAX_DEVICE_ID_LEN, nullptr))
            binding.instanceId = instance;
        const std::vector<BYTE> service = Property(set.get(), device, SPDRP_SERVICE);
        if (!service.empty())
            binding.service = reinterpret_cast<const wchar_t*>(service.data());
        // The driver key is opened, never made: a node without one runs no driver.
        const HKEY opened =
            driverapi::SetupDiOpenDevRegKey(set.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
        UniqueHkey driverKey(opened == static_cast<HKEY>(INVALID_HANDLE_VALUE) ? nullptr : opened);
        if (driverKey) {
            binding.infPath = StringValue(driverKey.get(), L"InfPath");
            binding.infSection = StringValue(driverKey.get(), L"InfSection") +
                                 StringValue(driverKey.get(), L"InfSectionExt");
            binding.hasDriver = !binding.infPath.empty();
        }
        bindings.push_back(binding);
    }
    return bindings;
}

std::wstring DescribeBinding(const DeviceBinding& binding)
{
    if (!binding.hasDriver)
        return binding.service.empty() ? L"no driver" : L"no driver (service " + binding.service + L")";
    std::wstring text = binding.infPath + L", section " + binding.infSection;
    text += binding.service.empty() ? std::wstring(L", no service") : L", service " + binding.service;
    return text;
}

bool SameFileBytes(const std::wstring& a, const std::wstring& b)
{
    const std::vector<char> left = FileBytes(a);
    return !left.empty() && left == FileBytes(b);
}
