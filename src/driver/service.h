// One service by name: whether it exists, is disabled or is marked for
// deletion; and the root-enumerated device nodes of legacy and virtual
// drivers.
#pragma once

#include "CStr.h"
#include "service_manager.h"
#include "win_handle.h"

#include <windows.h>
#include <cfgmgr32.h>

class CService {
public:
    explicit CService(const wchar_t* serviceName);
    ~CService();
    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

    int OpenService();
    // Closes the service and the connection; the next OpenService reopens both.
    int CloseService();
    int Exists();
    int IsDisabled();
    int IsMarkedForDeletion();

    // The key of this service (ServiceKeyPath).
    CStr ServiceKeyPath() const;

    CStr m_sServiceName;
    UniqueScHandle m_hService;
    CServiceManager m_Manager;
    // A borrow of m_Manager's handle, refreshed whenever the connection is
    // opened and cleared when it closes; never closed through this copy.
    SC_HANDLE m_hManagerCopy = nullptr;
    CStr m_sMachine;
};

// Registry paths below HKEY_LOCAL_MACHINE.
CStr ServiceKeyPath(const wchar_t* serviceName);       // Services\<name>
CStr LegacyDeviceKeyPath(const wchar_t* serviceName);  // Enum\Root\LEGACY_<name>\0000
CStr RootDeviceKeyPath(const wchar_t* serviceName);    // Enum\Root\<name>\0000

// A service name as its root device node is named and looked up: ASCII
// letters in upper case, the only letters a device id may hold.
CStr DeviceNodeName(const wchar_t* serviceName);

// Whether the device node of a legacy (or virtual) driver exists, by its
// service name in upper case.
int LegacyDeviceKeyExists(const wchar_t* serviceName);
int RootDeviceKeyExists(const wchar_t* serviceName);

// StatusFlags of a legacy device node whose driver waits for its removal:
// started, and to be removed.
const DWORD kLegacyStatusMarkedForDeletion = DN_WILL_BE_REMOVED | DN_STARTED;
