// The host's calls into system DLLs that are not loaded with the program:
// each DLL comes from the system folder, on first use, after the host has
// restricted the search to it. A statically imported DLL would be found
// before main runs, when the program's own folder still comes first, and
// pull in its own imports from there too (a shcore.dll beside the host).
#pragma once

#include <windows.h>

// CommandLineToArgvW (shell32); null when shell32 cannot be loaded.
wchar_t** SplitCommandLine(const wchar_t* commandLine, int* argc);

// COM for the calling thread (ole32), as ComApartment but loaded on use.
class HostApartment {
public:
    HostApartment() = default;
    ~HostApartment();
    HostApartment(const HostApartment&) = delete;
    HostApartment& operator=(const HostApartment&) = delete;

    HRESULT Enter(DWORD model);

private:
    bool m_entered = false;
};
