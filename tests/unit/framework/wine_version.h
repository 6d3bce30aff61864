// The Windows version the prefix reports, set for a test and restored at the
// end: Wine reads HKCU\Software\Wine "Version" when a process starts, so a
// test that needs another version runs its probe in a child process.
#pragma once

#include "win_handle.h"

#include <windows.h>

#include <string>

namespace tzrtest {

class ScopedWineVersion {
public:
    ScopedWineVersion()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, m_key.put(), nullptr);
        wchar_t value[64] = L"";
        DWORD size = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        m_had = m_key && RegQueryValueExW(m_key.get(), L"Version", nullptr, &type, reinterpret_cast<BYTE*>(value),
                                          &size) == ERROR_SUCCESS;
        if (m_had)
            m_saved = value;
    }
    ~ScopedWineVersion()
    {
        if (!m_key)
            return;
        if (m_had)
            Set(m_saved);
        else
            RegDeleteValueW(m_key.get(), L"Version");
    }
    ScopedWineVersion(const ScopedWineVersion&) = delete;
    ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

    bool Set(const std::wstring& version)
    {
        return m_key && RegSetValueExW(m_key.get(), L"Version", 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(version.c_str()),
                                       static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    UniqueHkey m_key;
    bool m_had = false;
    std::wstring m_saved;
};

}  // namespace tzrtest
