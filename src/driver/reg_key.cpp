#include "reg_key.h"

#include "driver_api.h"

CRegKey::CRegKey(HKEY root, const wchar_t* subkey) : m_hRoot(root), m_sSubkey(subkey ? subkey : L"") {}

CRegKey::CRegKey(const wchar_t* machine, const wchar_t* subkey)
    : m_sMachine(machine ? machine : L""), m_sSubkey(subkey ? subkey : L"")
{
}

CRegKey::CRegKey(const wchar_t* subkey) : m_sSubkey(subkey ? subkey : L"") {}

CRegKey::~CRegKey()
{
    Close();
}

int CRegKey::Open()
{
    Close();
    if (m_sSubkey.empty())
        return 0;
    const wchar_t* machine = m_sMachine.empty() ? nullptr : m_sMachine.c_str();
    if (RegConnectRegistryW(machine, m_hRoot, m_hConnectedRoot.put()) != ERROR_SUCCESS)
        return 0;
    if (driverapi::RegOpenKeyExW(m_hConnectedRoot.get(), m_sSubkey.c_str(), 0, m_dwAccess, m_hKey.put()) != ERROR_SUCCESS) {
        Close();
        return 0;
    }
    return 1;
}

void CRegKey::Close()
{
    m_hKey.reset();
    m_hConnectedRoot.reset();
}

int CRegKey::Exists()
{
    const int opened = Open();
    Close();
    return opened;
}

int CRegKey::QueryDword(const wchar_t* valueName, DWORD* out)
{
    if (!out || !Open())
        return 0;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG status =
        RegQueryValueExW(m_hKey.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    Close();
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
        return 0;
    *out = value;
    return 1;
}

int CRegKey::QueryString(const wchar_t* valueName, CStr& out)
{
    if (!Open())
        return 0;
    // One spare character, so a value stored without its terminator still
    // ends inside the buffer.
    wchar_t value[kStringCapacity + 1] = L"";
    DWORD type = REG_NONE;
    DWORD size = kStringCapacity * sizeof(wchar_t);
    const LONG status =
        RegQueryValueExW(m_hKey.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    Close();
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return 0;
    size_t length = size / sizeof(wchar_t);
    value[length] = L'\0';
    length = wcslen(value);
    if (length >= kStringCapacity)
        return 0;
    out = value;
    return 1;
}
