// The device-node questions the INF installation asks, answered for the
// driver tests by reading the node's key directly: 1 when it opens for
// reading, the service name upper-cased.
#include "device_keys.h"
#include "win_handle.h"

#include <windows.h>

#include <string>

namespace {

int NodeKeyExists(const wchar_t* prefix, const wchar_t* serviceName)
{
    if (!serviceName)
        return 0;
    std::wstring name(serviceName);
    if (!name.empty())
        CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    const std::wstring path = std::wstring(L"System\\CurrentControlSet\\Enum\\Root\\") + prefix + name + L"\\0000";
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

int LegacyDeviceKeyExists(const wchar_t* serviceName)
{
    return NodeKeyExists(L"LEGACY_", serviceName);
}

int RootDeviceKeyExists(const wchar_t* serviceName)
{
    return NodeKeyExists(L"", serviceName);
}
