// One registry key, opened for one query and closed again: no handle stays
// open between calls, so a key that disappears between two questions is
// simply not found the second time.
#pragma once

#include "CStr.h"
#include "win_handle.h"

#include <windows.h>

class CRegKey {
public:
    // Characters a string value may take, terminator included.
    static const DWORD kStringCapacity = MAX_PATH;

    CRegKey(HKEY root, const wchar_t* subkey);
    CRegKey(const wchar_t* machine, const wchar_t* subkey);
    explicit CRegKey(const wchar_t* subkey);
    ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens the subkey on the machine's root with m_dwAccess; 1/0.
    int Open();
    void Close();
    int Exists();
    // 1 and the value only for a readable REG_DWORD; else 0, out unchanged.
    int QueryDword(const wchar_t* valueName, DWORD* out);
    // 1 and the value only for a REG_SZ of fewer than kStringCapacity
    // characters; else 0, out unchanged.
    int QueryString(const wchar_t* valueName, CStr& out);

    HKEY m_hRoot = HKEY_LOCAL_MACHINE;
    UniqueHkey m_hKey;
    // RegConnectRegistryW hands back the predefined root itself for the local
    // computer; closing that is harmless, and a remote root must be closed.
    UniqueHkey m_hConnectedRoot;
    CStr m_sMachine;
    CStr m_sSubkey;
    // Every use of a key is a query: read access is all a host that is not
    // elevated, or a key whose ACL allows only reading, grants.
    REGSAM m_dwAccess = KEY_READ;
};
