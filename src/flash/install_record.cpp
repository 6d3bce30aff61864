#include "install_record.h"

#include "process_log.h"
#include "version_compare.h"
#include "win_handle.h"

#include <windows.h>

#include <cstdio>
#include <vector>

const wchar_t kInstallRecordRoot[] = L"SOFTWARE\\TZR\\NVMeBootController\\Packages";

namespace {

std::wstring Wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::wstring KeyPath(const std::wstring& packageName)
{
    return std::wstring(kInstallRecordRoot) + L"\\" + installRecordKeyName(packageName);
}

std::wstring ControllerValue(const ControllerOutcome& c)
{
    return Wide(c.model + "|" + c.before + "|" + c.after);
}

bool ReadString(HKEY key, const wchar_t* name, std::wstring& value)
{
    wchar_t buffer[1024];
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    value = buffer;
    return true;
}

// Whether the record names exactly these controllers with this firmware now.
bool RecordMatches(HKEY key, const std::wstring& version, const std::vector<ControllerOutcome>& controllers)
{
    std::wstring value;
    if (!ReadString(key, L"Version", value) || value != version)
        return false;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    // Version, Result, Time, RestartNeeded and one value per controller.
    if (values != 4 + controllers.size())
        return false;
    for (const ControllerOutcome& c : controllers) {
        const std::wstring name = L"Controller " + std::to_wstring(c.id);
        if (!ReadString(key, name.c_str(), value))
            return false;
        // The firmware now is what counts: "before" belongs to the write.
        const std::wstring expected = Wide(c.model + "|");
        const std::wstring now = Wide("|" + c.after);
        if (value.compare(0, expected.size(), expected) != 0 || value.size() < now.size() ||
            value.compare(value.size() - now.size(), now.size(), now) != 0)
            return false;
    }
    return true;
}

bool SetString(HKEY key, const std::wstring& name, const std::wstring& value)
{
    const LSTATUS status = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        LogPrint(kLogVerbose, "Install record: value %ls cannot be written (error %ld)\n", name.c_str(),
                 static_cast<long>(status));
    return status == ERROR_SUCCESS;
}

std::wstring UtcNow()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t text[32];
    swprintf(text, sizeof text / sizeof text[0], L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

void RemoveRecord(const std::wstring& path)
{
    const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    if (status == ERROR_SUCCESS)
        LogPrint(kLogVerbose, "Install record HKLM\\%ls removed: the controllers no longer match it\n", path.c_str());
    else if (status != ERROR_FILE_NOT_FOUND)
        LogPrint(kLogVerbose, "Install record HKLM\\%ls cannot be removed (error %ld)\n", path.c_str(),
                 static_cast<long>(status));
}

// The key made afresh, so no value of an older record (a controller since
// removed) stays behind.
void WriteRecord(const std::wstring& path, const std::wstring& version, const wchar_t* result, bool restartNeeded,
                 const std::vector<ControllerOutcome>& controllers)
{
    const LSTATUS removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        LogPrint(kLogVerbose, "Install record HKLM\\%ls: the old record cannot be removed (error %ld)\n",
                 path.c_str(), static_cast<long>(removed));
    HKEY raw = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_READ | KEY_WRITE, nullptr, &raw, nullptr);
    UniqueHkey key(status == ERROR_SUCCESS ? raw : nullptr);
    if (!key) {
        LogPrint(kLogVerbose, "Install record HKLM\\%ls cannot be created (error %ld)\n", path.c_str(),
                 static_cast<long>(status));
        return;
    }
    bool ok = SetString(key.get(), L"Version", version) && SetString(key.get(), L"Result", result) &&
              SetString(key.get(), L"Time", UtcNow());
    const DWORD restart = restartNeeded ? 1 : 0;
    ok = ok && RegSetValueExW(key.get(), L"RestartNeeded", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&restart),
                              sizeof restart) == ERROR_SUCCESS;
    for (const ControllerOutcome& c : controllers)
        ok = ok && SetString(key.get(), L"Controller " + std::to_wstring(c.id), ControllerValue(c));
    if (!ok) {
        // Half a record would be read as a whole one.
        key.reset();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        LogPrint(kLogVerbose, "Install record HKLM\\%ls not kept: a value could not be written\n", path.c_str());
        return;
    }
    LogPrint(kLogVerbose, "Install record HKLM\\%ls: version %ls, %ls\n", path.c_str(), version.c_str(), result);
}

}  // namespace

std::wstring installRecordKeyName(const std::wstring& packageName)
{
    std::wstring name = packageName.substr(0, 255);
    for (wchar_t& c : name)
        if (c == L'\\')
            c = L'_';
    return name;
}

void recordInstallation(const std::wstring& packageName, const std::string& version, bool restartNeeded,
                        const std::vector<ControllerOutcome>& controllers)
{
    if (installRecordKeyName(packageName).empty() || controllers.empty()) {
        LogPrint(kLogVerbose, "Install record not written: the package has no name or no controller was written\n");
        return;
    }
    WriteRecord(KeyPath(packageName), Wide(version), L"written", restartNeeded, controllers);
}

void refreshInstallRecord(const std::wstring& packageName, const std::string& version,
                          const std::vector<ControllerOutcome>& controllers)
{
    if (installRecordKeyName(packageName).empty() || version.empty())
        return;
    const std::wstring path = KeyPath(packageName);
    HKEY raw = nullptr;
    UniqueHkey key(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &raw) == ERROR_SUCCESS ? raw
                                                                                                          : nullptr);
    // The record stays while the controllers are as it says, whichever
    // package version asks.
    std::wstring recorded;
    if (key && ReadString(key.get(), L"Version", recorded) &&
        RecordMatches(key.get(), recorded, controllers))
        return;
    bool allAtVersion = !controllers.empty();
    for (const ControllerOutcome& c : controllers)
        allAtVersion = allAtVersion && compareVersion(c.after, version) == kUpdateRewrite;
    const bool existed = key.valid();
    key.reset();
    if (allAtVersion)
        WriteRecord(path, Wide(version), L"in place", false, controllers);
    else if (existed)
        RemoveRecord(path);
}
