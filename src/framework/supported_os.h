// One operating system the package supports, as the package definition
// lists it.
#pragma once

#include <windows.h>

struct SupportedOS {
    wchar_t szPlatform[64] = L"";  // "nt" or "nt_x86-64"
    DWORD dwMajor = 0;
    DWORD dwMinor = 0;
    DWORD dwServicePack = 0;
    WORD wEditionMask = 0;
    DWORD dwMinBuild = 0;
    DWORD dwMaxBuild = 0;
};
