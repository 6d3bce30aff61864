#include "inf_sections.h"

#include "driver_api.h"
#include "driver_failure.h"

#include <cwchar>

namespace {

// The profile API's list grows to this many characters before it is taken
// as it is; no INF SetupAPI opens comes near it.
const DWORD kMaxProfileListChars = 1u << 24;
const DWORD kFirstProfileListChars = 16384;
const UINT kFirstNameChars = 512;

std::vector<CStr> FromProfile(const wchar_t* path)
{
    std::vector<CStr> names;
    if (!path || !path[0])
        return names;
    std::vector<wchar_t> list;
    DWORD n = 0;
    bool cut = false;
    for (DWORD size = kFirstProfileListChars;; size *= 2) {
        list.assign(size, L'\0');
        n = GetPrivateProfileSectionNamesW(list.data(), size, path);
        cut = n >= size - 2;
        if (!cut || size >= kMaxProfileListChars)
            break;
    }
    for (DWORD at = 0; at < n && list[at];) {
        const size_t length = wcsnlen(&list[at], n - at);
        if (at + length >= n && cut)
            break;
        names.emplace_back(std::wstring(&list[at], length).c_str());
        at += static_cast<DWORD>(length) + 1;
    }
    return names;
}

}  // namespace

std::vector<CStr> InfSectionNames(HINF inf, const wchar_t* path, bool* whole)
{
    if (whole)
        *whole = true;
    std::vector<CStr> names;
    if (!inf || inf == INVALID_HANDLE_VALUE)
        return names;
    std::vector<wchar_t> name(kFirstNameChars, L'\0');
    for (UINT index = 0;; ++index) {
        UINT needed = 0;
        SetLastError(ERROR_SUCCESS);
        if (driverapi::SetupEnumInfSectionsW(inf, index, name.data(), static_cast<UINT>(name.size()), &needed)) {
            names.emplace_back(name.data());
            continue;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER && needed > name.size()) {
            name.assign(needed, L'\0');
            --index;  // the same section again, with room for it
            continue;
        }
        if (index == 0 && error == ERROR_PROC_NOT_FOUND)
            return FromProfile(path);
        if (error != ERROR_NO_MORE_ITEMS && error != ERROR_SUCCESS) {
            driverfail::CallError(L"SetupEnumInfSectionsW(" + CStr(path ? path : L"") + L", section " +
                                      std::to_wstring(index) + L")",
                                  error);
            if (whole)
                *whole = false;
        }
        return names;
    }
}
