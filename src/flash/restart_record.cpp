#include "restart_record.h"

#include "flash_engine.h"

#include "win_handle.h"

#include <cstdio>
#include <vector>

const wchar_t kAwaitingRestartKey[] = L"SOFTWARE\\TZR\\NVMeBootController\\AwaitingRestart";

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\TZR\\NVMeBootController";

std::wstring ControllerKey(int controllerId)
{
    return std::wstring(kAwaitingRestartKey) + L"\\Controller " + std::to_wstring(controllerId);
}

LONG SetText(HKEY key, const wchar_t* name, const std::string& value)
{
    const std::wstring wide = fromAnsi(value);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

std::string GetText(HKEY key, const wchar_t* name)
{
    wchar_t value[512] = L"";
    DWORD bytes = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::string();
    value[bytes / sizeof(wchar_t)] = L'\0';
    return toAnsiText(value);
}

}  // namespace

bool recordAwaitingRestart(const AwaitingFirmware& entry, LONG& error)
{
    // The product's key lasts; the record under it goes with the restart
    // (a volatile key's subkeys must be volatile too).
    UniqueHkey product, parent, key;
    error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr,
                            product.put(), nullptr);
    if (error == ERROR_SUCCESS)
        error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAwaitingRestartKey, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_CREATE_SUB_KEY, nullptr, parent.put(), nullptr);
    if (error == ERROR_SUCCESS)
        error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ControllerKey(entry.controllerId).c_str(), 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    const struct {
        const wchar_t* name;
        const std::string& value;
    } values[] = {
        {L"SubVendorId", entry.subVendorId},   {L"SubDeviceId", entry.subDeviceId},
        {L"Model", entry.model},               {L"RanVersion", entry.ranVersion},
        {L"WrittenVersion", entry.writtenVersion}, {L"ImageSha256", entry.imageSha256},
        {L"WrittenAt", entry.writtenAt},       {L"Outcome", std::string(entry.answered ? "written" : "begun")},
    };
    for (const auto& v : values) {
        if (error != ERROR_SUCCESS)
            break;
        error = SetText(key.get(), v.name, v.value);
    }
    return error == ERROR_SUCCESS;
}

bool findAwaitingRestart(int controllerId, AwaitingFirmware& entry)
{
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ControllerKey(controllerId).c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return false;
    entry.controllerId = controllerId;
    entry.subVendorId = GetText(key.get(), L"SubVendorId");
    entry.subDeviceId = GetText(key.get(), L"SubDeviceId");
    entry.model = GetText(key.get(), L"Model");
    entry.ranVersion = GetText(key.get(), L"RanVersion");
    entry.writtenVersion = GetText(key.get(), L"WrittenVersion");
    entry.imageSha256 = GetText(key.get(), L"ImageSha256");
    entry.writtenAt = GetText(key.get(), L"WrittenAt");
    // Records made before the outcome was kept are all of answered writes.
    entry.answered = GetText(key.get(), L"Outcome") != "begun";
    return !entry.writtenVersion.empty();
}

void forgetAwaitingRestart(int controllerId)
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, ControllerKey(controllerId).c_str());
}

std::string fileSha256(const std::wstring& path, DWORD& error)
{
    error = 0;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    UniqueCryptProv provider;
    UniqueCryptHash hash;
    if (!file || !CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put())) {
        error = GetLastError();
        return std::string();
    }
    std::vector<BYTE> chunk(64 * 1024);
    DWORD read = 0;
    for (;;) {
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            error = GetLastError();
            return std::string();
        }
        if (read == 0)
            break;
        if (!CryptHashData(hash.get(), chunk.data(), read, 0)) {
            error = GetLastError();
            return std::string();
        }
    }
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof digest) {
        error = GetLastError();
        return std::string();
    }
    char hex[65];
    for (DWORD i = 0; i < size; ++i)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return std::string(hex, 64);
}

std::string utcNow()
{
    SYSTEMTIME t;
    GetSystemTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return text;
}
