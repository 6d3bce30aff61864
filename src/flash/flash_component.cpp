#include "flash_component.h"

#include "flash_engine.h"
#include "install_record.h"
#include "process_log.h"

#include "install_state_record.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <string>

namespace {

struct ResultRow {
    const wchar_t* line;
    unsigned result;
};

// Indexed by flash code.
const ResultRow kResults[] = {
    {L"Installation completed successfully. No Reboot is required\r\n", 1},
    {L"Installation completed successfully.\r\n", 2},
    {L"UPGRADE- OK\r\n", 1},
    {L"Rewrite OK\r\n", 2},
    {L"Downgrade OK\r\n", 2},
    {L"No Device Found\r\n", 0},
    {L"User Interrupted\r\n", 0},
    {L"Error\r\n", 0},
    {L"Error - Other\r\n", 0},
    {L"Critical Error\r\n", 0},
    {L"Error\r\n", 0},
    {L"Error\r\n", 0},
    {L"Discovery Successful\r\n", 3},
    {L"Error\r\n", 0},
    // Told apart from "Error" so that a host can retry later, as deployment
    // engines do when Windows Installer is busy.
    {L"Another firmware installation is running on this machine.\r\n", 0},
    // The lock cannot be taken, or the machine changed since the install
    // state: the engine's note says what, as the line.
    {nullptr, 0},
    {nullptr, 0},
    {L"The firmware is written already and runs after the next restart; nothing is written again.\r\n", 2},
};
const unsigned kResultRows = sizeof kResults / sizeof kResults[0];

// A line made of the engine's note is kept short: the host's message buffer
// carries no size.
const size_t kNoteLineChars = 255;

std::wstring NoteLine(const std::string& note)
{
    std::wstring line = fromAnsi(note);
    if (line.size() > kNoteLineChars)
        line.resize(kNoteLineChars);
    return line + L"\r\n";
}

}  // namespace

FlashComponent::FlashComponent(HINSTANCE module) : CBaseComponent(), m_hModule(module) {}

// The component owns nothing of its own: the engine's state is process-wide
// and the entry point resets it.
FlashComponent::~FlashComponent() = default;

const wchar_t* FlashComponent::ResultLine(unsigned code)
{
    return code < kResultRows && kResults[code].line ? kResults[code].line : kResults[kFlashError].line;
}

unsigned FlashComponent::ResultOf(unsigned code)
{
    return code < kResultRows ? kResults[code].result : 0;
}

unsigned FlashComponent::InstallStateOf(unsigned code)
{
    switch (code) {
    case kFlashUpgrade: return kStateOlderInstalled;
    case kFlashDowngrade: return kStateNewerInstalled;
    case kFlashRewrite: return kStateSameVersion;
    case kFlashNoDevice:
    case kFlashNoCommandLine: return kStateNotApplicable;
    // Busy, a lock that cannot be taken, a package that cannot be written:
    // the state's message says which.
    default: return kStateCannotInstall;
    }
}

unsigned FlashComponent::CheckInstallationState(std::wstring* message)
{
    LogPrint(kLogVerbose, "FlashComponent::Checking Installation state\n");
    // The engine reads the same package definition as the framework, not
    // whichever XML file the folder lists first.
    wchar_t path[MAX_PATH] = L"";
    std::string name;
    if (!LocatePackageDefinition(path, MAX_PATH)) {
        LogPrint(kLogVerbose, "No package definition (kx*.xml with root tzr_package) found\n");
    } else if (!toAnsi(path, name)) {
        LogPrint(kLogVerbose, "Package definition %ls cannot be named in the ANSI code page\n", path);
        name.clear();
    }
    {
        const EngineGuard guard;
        packageDefinitionFile = name;
    }
    std::string note;
    m_checkCode = runCheckSequence(&note);
    const unsigned state = InstallStateOf(m_checkCode);
    if (message)
        *message = fromAnsi(note);
    // The host's per-controller outcomes and the lasting record start from
    // what this check found.
    {
        const EngineGuard guard;
        resetControllerOutcomes(deviceCollection);
    }
    // Only an inventory that decided says how the machine is: not a command
    // line that could not be read, a busy machine or a missing tool.
    const bool decided = m_checkCode == kFlashUpgrade || m_checkCode == kFlashRewrite ||
                         m_checkCode == kFlashDowngrade || m_checkCode == kFlashNoDevice;
    if (decided && !discoveryFlag)
        refreshInstallRecord(PackageName(), packageVersion, controllerOutcomes());
    LogPrint(kLogVerbose, "FlashComponent::Checking Installation state Ends\n");
    return state;
}

std::wstring FlashComponent::StateReason() const
{
    const EngineGuard guard;
    return fromAnsi(engineNote);
}

std::wstring FlashComponent::PackageName()
{
    wchar_t name[256] = L"";
    if (!GetName(name, 256, L"en"))
        return std::wstring();
    name[255] = L'\0';
    return name;
}

int FlashComponent::GetCurrentVersion(wchar_t* message, unsigned capacity)
{
    char text[1025];
    memset(text, 0, sizeof text);
    LogPrint(kLogVerbose, "FlashComponent::GetCurrentVersion starts.\n");
    int result = 0;
    try {
        strncpy(text, getFirmwareCurrentVersion(), 1023);
    } catch (const std::exception& e) {
        text[0] = '\0';
        LogPrint(kLogVerbose, "FlashComponent::GetCurrentVersion failed: %s\n", e.what());
    }
    LogPrint(kLogVerbose, "FlashComponent::current version %s\n", text);
    if (text[0] != '\0' && message) {
        // Written whole or not at all: a cut list would name fewer
        // controllers than will be flashed.
        const int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
        if (needed > 0 && static_cast<unsigned>(needed) <= capacity)
            result = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, message, static_cast<int>(capacity)) > 0;
        else
            LogPrint(kLogVerbose, "FlashComponent::GetCurrentVersion: %d characters do not fit in %u\n", needed,
                     capacity);
    }
    LogPrint(kLogVerbose, "FlashComponent::GetCurrentVersion ends with status: %d.\n", result);
    return result;
}

unsigned FlashComponent::Installation(unsigned, ULONG_PTR, wchar_t* message, int, const wchar_t*)
{
    // Both component logs frame the installation as the driver road does.
    m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"Initiating installation... ");
    m_pLog->Write(CCmpLog2::kMainOnly, CCmpLog2::kPlain, nullptr, 0, L"\r\n");
    m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Type=FIRMWARE\r\n");
    LogPrint(kLogVerbose, "FlashComponent::Installation initiated.\n");
    unsigned code = kFlashError;
    try {
        code = flashFirmware();
    } catch (const std::exception& e) {
        code = kFlashError;
        LogPrint(kLogVerbose, "FlashComponent::Installation failed: %s\n", e.what());
    }
    if (message) {
        if ((code == kFlashLockFailed || code == kFlashChanged) && !engineNote.empty())
            wcscat(message, NoteLine(engineNote).c_str());
        else
            wcscat(message, ResultLine(code));
    }
    const unsigned result = ResultOf(code);
    if (code == kFlashDone || code == kFlashDoneNoReboot)
        recordInstallation(PackageName(), packageVersion, result == 2, controllerOutcomes());
    const wchar_t* outcome = result == 1   ? L"Installation succeeded.\r\n"
                             : result == 2 ? L"Installation succeeded; a restart is needed.\r\n"
                             : result == 3 ? L"Discovery report written.\r\n"
                                           : L"Installation failed.\r\n";
    m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"%ls", outcome);
    LogPrint(kLogVerbose, "FlashComponent::Installation completed.\n");
    return result;
}
