// What the framework knows about the version of one file: its fixed file and
// product versions, last-write time and size, and the file version as text.
#pragma once

#include "CStr.h"

#include <windows.h>

class CFileVersionInfo {
public:
    // A path whose second character is not ':' is taken from the plug-in's
    // folder, never from the current directory. Reads the file.
    explicit CFileVersionInfo(const wchar_t* path);
    // A record from numbers; nothing is read.
    CFileVersionInfo(DWORD productVersionMS, DWORD productVersionLS, DWORD fileVersionMS, DWORD fileVersionLS,
                     DWORD timeHigh, DWORD timeLow, DWORD size);

    // Reads the file's size, time and version resource. 0 when there is no
    // path or the file has no version resource; 1 otherwise, also when the
    // resource could not be taken apart (the version then stays zero, as
    // HasVersion says).
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
