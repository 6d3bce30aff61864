// A connection to the service control manager, and the search of the
// installed services for a driver file.
#pragma once

#include "CStr.h"
#include "win_handle.h"

#include <windows.h>

class CServiceManager {
public:
    // Service types searched for a driver file: kernel, file-system and
    // recognizer drivers and both kinds of Win32 services.
    static const DWORD kSearchedServiceTypes = SERVICE_DRIVER | SERVICE_WIN32;

    explicit CServiceManager(const wchar_t* machine = nullptr);
    ~CServiceManager();
    CServiceManager(const CServiceManager&) = delete;
    CServiceManager& operator=(const CServiceManager&) = delete;

    // Connects unless connected; 1 when a handle is held afterwards.
    int Open();
    void Close();
    SC_HANDLE Handle() const { return m_hManager.get(); }

    // The service's image path with a leading \SystemRoot given as
    // %systemroot%, not yet expanded; 1/0.
    int GetServiceImagePath(const wchar_t* serviceName, CStr& path);
    // The expanded image path of the first installed service whose image
    // path contains text and names an existing file; 1 when found.
    int FindDriverFile(const wchar_t* text, CStr& path);

    UniqueScHandle m_hManager;
    CStr m_sMachine;
};

// The rights of the queries: a connection that looks services up and lists
// them, and a service whose configuration and status are read. Nothing here
// changes a service, so nothing more is asked of a host that is not elevated.
const DWORD kServiceManagerQueryAccess = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
const DWORD kServiceQueryAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS;

// The form a kernel driver's image path takes in the service database
// ("\SystemRoot\..." in any letter case) rewritten for
// ExpandEnvironmentStringsW; any other path is returned as it is.
CStr SystemRootImagePath(const wchar_t* imagePath);

// The file an image path names, not yet expanded, in a form that never
// depends on the current directory: "\SystemRoot\..." as %systemroot%\...,
// "\??\X:\..." as "X:\...", "X:\..." as it is; empty for every other form.
CStr DriverFileOfImagePath(const wchar_t* imagePath);
