// What the framework knows about the version of one file: its fixed file and
// product versions, last-write time and size, and the file version as text.
#pragma once

#include "CStr.h"

#include <windows.h>

// The plug-in's own module, recorded at process attach. Paths without a
// drive letter are read from its folder.
extern HINSTANCE g_hFrameworkModule;

class CFileVersionInfo {
public:
    // A path whose second character is not ':' is taken from the plug-in's
    // folder, never from the current directory. Reads the file.
    explicit CFileVersionInfo(const wchar_t* path);
    // A record from numbers; nothing is read.
    CFileVersionInfo(DWORD productVersionMS, DWORD productVersionLS, DWORD fileVersionMS, DWORD fileVersionLS,
                     DWORD timeHigh, DWORD timeLow, DWORD size);

    // 1 when the version resource was read.
    int Read();
    int HasVersion() const;
    CStr GetFileVersionText() const;
    int IsSameVersion(const CFileVersionInfo& other) const;
    int IsNewerThan(const CFileVersionInfo& other) const;

    CStr m_sPath;
    CStr m_sFileVersion;
    DWORD m_dwFileVersionMS = 0;
    DWORD m_dwFileVersionLS = 0;
    DWORD m_dwProductVersionMS = 0;
    DWORD m_dwProductVersionLS = 0;
    DWORD m_dwTimeHigh = 0;
    DWORD m_dwTimeLow = 0;
    DWORD m_dwSize = 0;
};

// The folder of the plug-in's module file, without a trailing backslash;
// empty when it cannot be found.
CStr FrameworkFolder();
