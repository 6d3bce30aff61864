#include "module_version.h"

#include <cstdio>
#include <cstring>

CStr FileVersionText(DWORD versionMS, DWORD versionLS)
{
    // Four 16-bit parts: at most 23 characters and the terminator.
    wchar_t text[32];
    swprintf(text, sizeof text / sizeof text[0], L"%u.%u.%u.%u", HIWORD(versionMS), LOWORD(versionMS),
             HIWORD(versionLS), LOWORD(versionLS));
    return CStr(text);
}

CStr ModuleFileVersion(HMODULE module)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));  // RT_VERSION
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* block = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    // The block opens with three 16-bit fields and the key "VS_VERSION_INFO"
    // with its terminator; the fixed part follows on a 32-bit boundary.
    const size_t offset = (3 * sizeof(WORD) + 16 * sizeof(WCHAR) + 3) & ~static_cast<size_t>(3);
    if (!block || size < offset + sizeof(VS_FIXEDFILEINFO))
        return CStr();
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, block + offset, sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return CStr();
    return FileVersionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
}
