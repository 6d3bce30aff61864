#include "inf_registry.h"

#include "driver_api.h"
#include "driver_failure.h"
#include "inf.h"
#include "win_handle.h"

#include <cwchar>

namespace {

// FLG_ADDREG_KEYONLY: the line makes the key and writes no value.
const INT kKeyOnly = 0x00000010;

HKEY RootOfLine(const wchar_t* name, HKEY relative)
{
    struct Root {
        const wchar_t* name;
        HKEY key;
    };
    const Root roots[] = {{L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKCU", HKEY_CURRENT_USER}, {L"HKCR", HKEY_CLASSES_ROOT},
                          {L"HKU", HKEY_USERS},          {L"HKR", relative}};
    for (const Root& root : roots)
        if (_wcsicmp(name, root.name) == 0)
            return root.key;
    return nullptr;
}

// Each value a key holds now, to be put back after a DelReg of the key.
int RecordEveryValue(HKEY root, const CStr& subkey, InstallJournal& journal)
{
    UniqueHkey key;
    if (driverapi::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return 1;  // nothing there to delete
    std::vector<CStr> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = 16384;
        const LSTATUS status = RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return driverfail::CallError(L"RegEnumValueW(" + subkey + L")", static_cast<DWORD>(status));
        names.emplace_back(name);
    }
    for (const CStr& name : names)
        if (!journal.RegistryValue(root, subkey, name))
            return 0;
    return 1;
}

}  // namespace

int RecordRegistryLines(HINF inf, const wchar_t* section, HKEY root, InstallJournal& journal)
{
    int result = 1;
    for (const wchar_t* key : {L"AddReg", L"DelReg"}) {
        const bool adds = key[0] == L'A';
        const int walked = ForEachLine(inf, section, key, [&](INFCONTEXT& line) {
            const DWORD lists = driverapi::SetupGetFieldCount(&line);
            for (DWORD i = 1; i <= lists && result; ++i) {
                wchar_t list[CInf::kEntryChars];
                if (!driverapi::SetupGetStringFieldW(&line, i, list, CInf::kEntryChars, nullptr) || !list[0])
                    continue;
                ForEachLine(inf, list, nullptr, [&](INFCONTEXT& entry) {
                    wchar_t rootName[16] = L"", subkey[CInf::kLineTextChars] = L"", name[CInf::kLineTextChars] = L"";
                    const DWORD fields = driverapi::SetupGetFieldCount(&entry);
                    if (!driverapi::SetupGetStringFieldW(&entry, 1, rootName, 16, nullptr) ||
                        (fields >= 2 && !driverapi::SetupGetStringFieldW(&entry, 2, subkey, CInf::kLineTextChars, nullptr)) ||
                        (fields >= 3 && !driverapi::SetupGetStringFieldW(&entry, 3, name, CInf::kLineTextChars, nullptr)))
                        return result = driverfail::Refused(std::wstring(L"Registry list ") + list +
                                                            L" refused: a line could not be read whole to record it");
                    const HKEY lineRoot = RootOfLine(rootName, root);
                    if (!lineRoot)
                        return result = driverfail::Refused(std::wstring(L"Registry list ") + list + L" refused: " +
                                                            rootName + L" is no registry root");
                    INT flags = 0;
                    if (fields >= 4)
                        driverapi::SetupGetIntField(&entry, 4, &flags);
                    if (adds)
                        result = journal.RegistryKey(lineRoot, CStr(subkey)) &&
                                         ((flags & kKeyOnly) || journal.RegistryValue(lineRoot, CStr(subkey), CStr(name)))
                                     ? 1
                                     : 0;
                    else
                        result = fields >= 3 ? journal.RegistryValue(lineRoot, CStr(subkey), CStr(name))
                                             : RecordEveryValue(lineRoot, CStr(subkey), journal);
                    return result;
                });
            }
            return result;
        });
        if (!walked)
            result = 0;
    }
    return result;
}
