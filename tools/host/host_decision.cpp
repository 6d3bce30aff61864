#include "host_decision.h"

#include "install_state_record.h"

const wchar_t kAnotherInstallLine[] = L"Another firmware installation is running on this machine.\r\n";

InstallDecision DecideInstall(bool stateKnown, unsigned state)
{
    if (!stateKnown)
        return {false, kExitInstallFailed, "the plug-in gave no install state, so nothing is known to install"};
    switch (state) {
    case kStateOlderInstalled:
    case kStateNotInstalled:
        return {true, kExitOk, ""};
    case kStateSameVersion:
        return {false, kExitOk, "the same version is installed: nothing to do"};
    case kStateNewerInstalled:
        return {false, kExitNewerInstalled, "a newer version is installed: a downgrade needs --force"};
    case kStateHardwareMissing:
    case kStateNotApplicable:
        return {false, kExitNotApplicable, "not applicable: this machine has no hardware the package supports"};
    case kStateCannotInstall:
        return {false, kExitInstallFailed, "cannot be installed: a prerequisite failed (see the state's message)"};
    default:
        return {false, kExitInstallFailed, "the plug-in did not determine its install state"};
    }
}

unsigned ExitCodeForInstall(unsigned result, const std::wstring& message)
{
    const std::wstring another = kAnotherInstallLine;
    switch (result) {
    case 1:  // installed
    case 3:  // discovery report written, nothing flashed
        return kExitOk;
    case 2:
        return kExitRebootRequired;
    default:
        return message.size() >= another.size() &&
                       message.compare(message.size() - another.size(), another.size(), another) == 0
                   ? kExitAnotherInstall
                   : kExitInstallFailed;
    }
}

const char* ExitMeaning(unsigned exitCode)
{
    switch (exitCode) {
    case kExitOk: return "success";
    case kExitRebootRequired: return "success, a restart is needed";
    case kExitInstallFailed: return "installation failed";
    case kExitAnotherInstall: return "another installation is running: retry later";
    case kExitNotApplicable: return "not applicable to this machine";
    case kExitNewerInstalled: return "a newer version is installed";
    case kExitLoadFailed: return "the plug-in cannot be loaded";
    case kExitUsage: return "bad command line";
    default: return "unknown";
    }
}
