// One operating system the package supports, as the package definition
// lists it. Major, minor and service pack hold signed values in their 32
// bits: -1 means "any", and the service pack compares as signed.
#pragma once

#include <windows.h>

struct SupportedOS {
    wchar_t szPlatform[64] = L"";  // "nt" or "nt_x86-64"
    DWORD dwMajor = static_cast<DWORD>(-1);
    DWORD dwMinor = static_cast<DWORD>(-1);
    DWORD dwServicePack = static_cast<DWORD>(-1);  // the lowest service pack accepted
    WORD wEditionMask = 0xFFFF;
    DWORD dwMinBuild = 0;
    DWORD dwMaxBuild = 0xFFFFFFFF;
};

// The running system as the support check describes it.
struct RunningOS {
    wchar_t szPlatform[64] = L"";  // "nt_x86-64", "nt" or empty
    int nMajor = 0;
    int nMinor = 0;
    int nServicePack = 0;
    WORD wEdition = 0;
    DWORD dwBuild = 0;
};
