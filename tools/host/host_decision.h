// What the host decides from the plug-in's answers: whether the install
// state calls for Install, and the exit code a deployment engine reads.
// The codes follow Windows Installer's, which every deployment engine
// already keys on.
#pragma once

#include <string>

enum HostExit : unsigned {
    kExitOk = 0,
    kExitInstallFailed = 1603,       // ERROR_INSTALL_FAILURE
    kExitAnotherInstall = 1618,      // ERROR_INSTALL_ALREADY_RUNNING
    kExitLoadFailed = 1619,          // ERROR_INSTALL_PACKAGE_OPEN_FAILED
    kExitResultNotWritten = 1622,    // ERROR_INSTALL_LOG_FAILURE: the --result file cannot be written
    kExitNewerInstalled = 1638,      // ERROR_PRODUCT_VERSION
    kExitUsage = 1639,               // ERROR_INVALID_COMMAND_LINE
    kExitRebootRequired = 3010,      // ERROR_SUCCESS_REBOOT_REQUIRED
    kExitNotApplicable = 0x80240017, // WU_E_NOT_APPLICABLE, as wusa.exe reports an update this machine does not need
};


struct InstallDecision {
    bool install;        // call Install
    unsigned exitCode;   // the exit code when Install is not called
    const char* reason;  // why not, one line
};

// For an install state and its message read from property 5; stateKnown is
// false when the plug-in left no state code. A state that says the machine
// is busy is a retry (1618); the same version with a restart still owed
// calls Install, which answers that restart.
InstallDecision DecideInstall(bool stateKnown, unsigned state, const std::wstring& message = std::wstring());
// Install's result and the message buffer's text after it: a failure whose
// last line is the busy line, or says to ask the install state again, is a
// machine that is busy or changed, not broken: a retry.
unsigned ExitCodeForInstall(unsigned result, const std::wstring& message);
const char* ExitMeaning(unsigned exitCode);
