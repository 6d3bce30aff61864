#include "host_decision.h"

#include "install_state_record.h"

#include <cwchar>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* start)
{
    return text.compare(0, wcslen(start), start) == 0;
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

namespace {

// A failed Install whose result line (the message's last line) begins and
// ends so is not a failure of the package.
struct FailureRow {
    std::wstring begins;
    std::wstring ends;
    unsigned exitCode;
};

const FailureRow kFailureRows[] = {
    {L"", std::wstring(kBusyText) + L"\r\n", kExitAnotherInstall},
    // The machine changed since the install state was read: nothing was written.
    {L"Controller ", std::wstring(kAskAgainText) + L"\r\n", kExitAnotherInstall},
};

// The message's last line with its line end.
std::wstring LastLine(const std::wstring& message)
{
    const size_t end = message.size() >= 2 ? message.size() - 2 : 0;
    const size_t previous = end == 0 ? std::wstring::npos : message.rfind(L"\r\n", end - 1);
    return previous == std::wstring::npos ? message : message.substr(previous + 2);
}

bool Matches(const std::wstring& line, const FailureRow& row)
{
    const std::wstring& begins = row.begins;
    const std::wstring& ends = row.ends;
    return line.size() >= begins.size() + ends.size() && line.compare(0, begins.size(), begins) == 0 &&
           line.compare(line.size() - ends.size(), ends.size(), ends) == 0;
}

}  // namespace

unsigned ExitCodeForInstall(unsigned result, const std::wstring& message)
{
    switch (result) {
    case 1:  // installed
    case 3:  // discovery report written, nothing flashed
        return kExitOk;
    case 2:
        return kExitRebootRequired;
    default:
        break;
    }
    const std::wstring line = LastLine(message);
    for (const FailureRow& row : kFailureRows)
        if (Matches(line, row))
            return row.exitCode;
    return kExitInstallFailed;
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
    case kExitResultNotWritten: return "the result file cannot be written";
    default: return "unknown";
    }
}
