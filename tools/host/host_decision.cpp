#include "host_decision.h"

#include "install_state_record.h"

#include <cwchar>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* start)
{
    return text.compare(0, wcslen(start), start) == 0;
}

bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

InstallDecision DecideInstall(bool stateKnown, unsigned state, const std::wstring& message)
{
    if (!stateKnown)
        return {false, kExitInstallFailed, "the plug-in gave no install state, so nothing is known to install"};
    switch (state) {
    case kStateOlderInstalled:
    case kStateNotInstalled:
        return {true, kExitOk, ""};
    case kStateSameVersion:
        if (StartsWith(message, kRestartPendingText))
            return {true, kExitOk, ""};
        return {false, kExitOk, "the same version is installed: nothing to do"};
    case kStateNewerInstalled:
        return {false, kExitNewerInstalled, "a newer version is installed: a downgrade needs --force"};
    case kStateHardwareMissing:
    case kStateNotApplicable:
        return {false, kExitNotApplicable, "not applicable: this machine has no hardware the package supports"};
    case kStateCannotInstall:
        if (StartsWith(message, kBusyText))
            return {false, kExitAnotherInstall, "another firmware installation is running: retry later"};
        return {false, kExitInstallFailed, "cannot be installed: a prerequisite failed (see the state's message)"};
    default:
        return {false, kExitInstallFailed, "the plug-in did not determine its install state"};
    }
}

unsigned ExitCodeForInstall(unsigned result, const std::wstring& message)
{
    switch (result) {
    case 1:  // installed
    case 3:  // discovery report written, nothing flashed
        return kExitOk;
    case 2:
        return kExitRebootRequired;
    default: {
        // The engine's line is the last one: the busy line, or a line that
        // ends by asking for the install state again.
        const bool retry = EndsWith(message, std::wstring(kBusyText) + L"\r\n") ||
                           EndsWith(message, std::wstring(kAskAgainText) + L"\r\n");
        return retry ? kExitAnotherInstall : kExitInstallFailed;
    }
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
