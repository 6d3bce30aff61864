// The default INF installation path and the present-device table.
//
// The installation answers 0 (failure), 1 (installed) or 2 (installed, a
// restart is needed) and leaves a localized reason in the host's message
// buffer where the failure has one.
#include "base_component.h"

#include "device_list.h"
#include "driver_failure.h"
#include "inf.h"
#include "install_journal.h"
#include "pnp_driver.h"

#include <shellapi.h>

#include <cwchar>

namespace {

const wchar_t kLogSource[] = L"basecomp";
// The ShellExecute line's source position is a fixed number that log readers
// look for, not wherever this file's line happens to fall.
const int kShellExecuteLine = 312;

// Room for the longest localized installation message with its terminator.
// Install hands us the host's message buffer without a capacity: its fourth
// argument is not a size in the host contract, and hosts pass what they
// like there. So a host gives room for the longest message, and every copy
// is cut at that length whatever a table holds.
const size_t kInstallMessageChars = 246;

// The installed driver came with Windows; mingw-w64's SetupAPI header
// stops before this flag.
#ifndef DNF_INBOX_DRIVER
#define DNF_INBOX_DRIVER 0x00100000
#endif

// Characters of the service names the no-overwrite rule compares, with the
// terminator: SetupAPI's limit for the service name an INF gives.
const DWORD kComparedServiceChars = 256;

// Replaces the host's text with the message.
void CopyMessage(wchar_t* message, const wchar_t* text)
{
    if (!message || !text)
        return;
    const size_t length = wcsnlen(text, kInstallMessageChars - 1);
    wmemcpy(message, text, length);
    message[length] = L'\0';
}

}  // namespace

size_t InstallMessageCapacity()
{
    return kInstallMessageChars;
}

void CBaseComponent::FinishInterruptedInstallations()
{
    for (const InstallJournal::Finished& run : InstallJournal::FinishInterrupted()) {
        m_pLog->Write(CCmpLog2::kBothHeader, CCmpLog2::kPlain, kLogSource, __LINE__,
                      run.committed ? L"An earlier installation ended while it finished; its kept old files were "
                                      L"removed (journal %ls)\r\n"
                                    : L"An earlier installation ended before it finished; what it did was taken back "
                                      L"(journal %ls)\r\n",
                      run.journal.c_str());
        // One entry a line: a long undo is never cut inside a line.
        for (const std::wstring& line : run.lines)
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"    - %ls\r\n", line.c_str());
    }
}

unsigned CBaseComponent::Installation(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                      const wchar_t* language)
{
    m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"Initiating installation... ");
    driverfail::Reset();
    unsigned result = 0;
    bool driverRoad = true;
    try {
        switch (m_nInstallType) {
        case kInstallLegacy:
            m_pLog->Write(CCmpLog2::kMainOnly, CCmpLog2::kPlain, nullptr, 0, L"\r\n");
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Type=LEGACY\r\n");
            result = InstallLegacy(first, second, message, fourth, language);
            break;
        case kInstallPnP:
            m_pLog->Write(CCmpLog2::kMainOnly, CCmpLog2::kPlain, nullptr, 0, L"\r\n");
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Type=PNP\r\n");
            result = InstallPnP(first, second, message, fourth, language);
            break;
        case kInstallVirtual:
            // A virtual device is a legacy driver with a device node of its own.
            m_pLog->Write(CCmpLog2::kMainOnly, CCmpLog2::kPlain, nullptr, 0, L"\r\n");
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Type=LEGACY\r\n");
            result = InstallVirtual(first, second, message, fourth, language);
            break;
        default:
            CopyMessage(message, GetLocalizedMessage(g_aszUnknownInfType, language));
            m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"\r\n");
            m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kError, nullptr, 0, L"%ls\r\n",
                          g_aszUnknownInfType[kLangEnglish]);
            result = 0;
            driverRoad = false;
            break;
        }
    } catch (const std::exception& e) {
        // What the installation did was taken back as its journal went;
        // the reason and those steps are written below.
        const std::string what(e.what());
        driverfail::Refused(L"The installation stopped on an exception: " + std::wstring(what.begin(), what.end()));
        result = 0;
    }
    // The driver layer keeps the reason; the user reads it here.
    if (result == 0 && driverRoad) {
        const std::wstring reason = driverfail::Held() ? driverfail::Line()
                                                       : L"    - The installation answered failure and gave no reason\r\n";
        // Both logs: an operator reading only the main log learns why too.
        // What was undone, step by step, stays in the verbose log.
        m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"%ls", reason.c_str());
    }
    // What the driver road chose not to do, or took back, stays in the
    // verbose log, after the reason when there is one; one entry a line, so
    // a long undo is never cut inside a line.
    if (driverRoad) {
        for (const std::wstring& note : driverfail::Notes())
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"    - %ls\r\n", note.c_str());
    }

    if (m_szShellExecuteFile[0]) {
        m_pLog->Write(CCmpLog2::kVerboseHeader, CCmpLog2::kPlain, kLogSource, kShellExecuteLine,
                      L"Executing ShellExecute command - open %ls... ", m_szShellExecuteFile);
        SetLastError(ERROR_SUCCESS);
        const HINSTANCE opened = ShellExecuteW(nullptr, L"open", m_szShellExecuteFile, nullptr,
                                               m_szShellExecuteDir[0] ? m_szShellExecuteDir : nullptr, SW_HIDE);
        const DWORD error = GetLastError();
        if (reinterpret_cast<INT_PTR>(opened) <= 32) {
            CopyMessage(message, GetLocalizedMessage(g_aszShellExecuteError, language));
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Failed!\r\n");
            // The answer is an old-style code; the thread's error says more
            // when the shell set one.
            const DWORD code = error ? error : static_cast<DWORD>(reinterpret_cast<INT_PTR>(opened));
            driverfail::Reset();
            driverfail::CallError(std::wstring(L"ShellExecuteW(open, ") + m_szShellExecuteFile + L")", code);
            m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"%ls",
                          driverfail::Line().c_str());
            result = 0;
        } else {
            m_pLog->Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Done.\r\n");
        }
    }
    const wchar_t* outcome = result == 1   ? L"Installation succeeded.\r\n"
                             : result == 2 ? L"Installation succeeded; a restart is needed.\r\n"
                                           : L"Installation failed.\r\n";
    m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"%ls", outcome);
    return result;
}

namespace {

// A legacy or virtual driver from its INF: the named section, or the whole
// default installation without one. 0 failed, 1 done, 2 done and a restart
// needed (asked by the package or by a file in use).
unsigned InstallFromInf(CCmpLog2& log, const CStr& infFile, const CStr& section, int virtualDevice,
                        int rebootRequired)
{
    CInf inf(infFile.c_str());
    if (!inf.IsOpen())
        return 0;
    inf.m_bVirtualDevice = virtualDevice;
    // The section a name stands for on this platform may be a decorated one.
    const CStr actual = section.empty() ? CStr() : inf.ActualSection(section.c_str());
    if (!actual.empty())
        log.Write(CCmpLog2::kVerboseContinue, CCmpLog2::kPlain, nullptr, 0, L"Section=%ls\r\n", actual.c_str());
    int restart = 0;
    const int installed = section.empty() ? inf.Install(&restart) : inf.InstallSection(section.c_str(), &restart);
    if (!installed)
        return 0;
    return rebootRequired || restart ? 2 : 1;
}

}  // namespace

unsigned CBaseComponent::InstallLegacy(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return InstallFromInf(*m_pLog, m_sInfFile, m_sInfSection, 0, m_bRebootRequired);
}

// The legacy algorithm with the virtual-device flag: the device node is
// Root\<NAME> instead of Root\LEGACY_<NAME>.
unsigned CBaseComponent::InstallVirtual(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return InstallFromInf(*m_pLog, m_sInfFile, m_sInfSection, 1, m_bRebootRequired);
}

unsigned CBaseComponent::InstallPnP(unsigned, ULONG_PTR, wchar_t* message, int, const wchar_t* language)
{
    if (m_vSupportedDevices.empty()) {
        const wchar_t* text = GetLocalizedMessage(g_aszNoSupportedDevices, language);
        CopyMessage(message, text);
        m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kPlain, nullptr, 0, L"%ls\r\n", text);
        driverfail::Refused(L"Installation refused: the package names no supported devices");
        return 0;
    }

    CWin2000PnPDriver driver(m_sInfFile.c_str(), 1);
    int skipped = 0;
    CStr packageService;
    bool packageServiceRead = false;
    for (const CStr& id : m_vSupportedDevices) {
        W2KDEVINST* device = nullptr;
        if (!FindDevice(id.c_str(), &device) || !device)
            continue;
        bool add = true;
        if (m_bNoOverwrite && !device->TestDriverFlags(DNF_INBOX_DRIVER)) {
            // Under the no-overwrite rule a device keeps another vendor's
            // driver: only one installed from an INF with our service is
            // ours to update.
            if (!packageServiceRead) {
                packageService = CInf(m_sInfFile.c_str()).FirstServiceName(kComparedServiceChars);
                packageServiceRead = true;
            }
            const std::wstring current = device->InfFileName();
            const CStr deviceService =
                current.empty() ? CStr() : CInf(current.c_str()).FirstServiceName(kComparedServiceChars);
            add = deviceService.CompareNoCase(packageService.c_str()) == 0;
            if (!add)
                skipped = 1;
        }
        if (add && !driver.AddHardwareId(id.c_str())) {
            m_pLog->Write(CCmpLog2::kBothContinue, CCmpLog2::kError, nullptr, 0,
                          L"Hardware ID is longer than %u characters -- not installed: %.255ls...\r\n",
                          static_cast<unsigned>(CWin2000PnPDriver::kMaxHardwareIdChars), id.c_str());
        }
    }

    // Reading the INFs of present devices may have failed on the way; that
    // only decided which devices to offer and is not why an install fails.
    if (!driver.m_nRefusedIds)
        driverfail::Reset();
    switch (driver.Install(m_bNoOverwrite, skipped)) {
    case 0:
        return m_bRebootRequired || driver.IsRebootNeeded() ? 2 : 1;
    case 1:
        CopyMessage(message, GetLocalizedMessage(g_aszNoDevicesToInstall, language));
        driverfail::Refused(L"Installation refused: none of the package's supported devices is present");
        return 0;
    default:
        CopyMessage(message, GetLocalizedMessage(g_aszInstallFailedOnDevice, language));
        return 0;
    }
}

namespace {
// Bytes read of each device's hardware-id list; a longer list leaves the
// device out of the table.
const DWORD kDeviceIdListBytes = 2048;
}  // namespace

int CBaseComponent::BuildDeviceList(int firstIdOnly)
{
    // The entries go before the set their handles name.
    m_vDevices.clear();
    m_DeviceList.Clear();
    // Driver snapshots are taken when FindDevice hands a record out: the
    // package asks about a few of the machine's devices, and a snapshot
    // costs nearly all of a device's time here.
    m_DeviceList.EnumerateWithoutDrivers(nullptr);
    // Most devices give one kept id; a second growth is rare.
    m_vDevices.reserve(m_DeviceList.GetCount());
    for (size_t index = 0; index < m_DeviceList.GetCount(); ++index) {
        BYTE ids[kDeviceIdListBytes] = {};
        DWORD size = kDeviceIdListBytes;
        if (!m_DeviceList.GetHardwareIds(index, ids, &size))
            continue;
        const W2KDEVINST& record = *m_DeviceList.GetDevice(index);
        for (const std::wstring& id : KeptHardwareIds(SplitMultiString(ids, size), firstIdOnly != 0))
            m_vDevices.emplace_back(record, CStr(id.c_str()));
    }
    return 1;
}

int CBaseComponent::FindDevice(const wchar_t* hardwareId, W2KDEVINST** record)
{
    if (!hardwareId)
        return 0;
    if (m_vDevices.empty()) {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"Building PnP device list... ");
        m_bDeferDriverApiNotices = true;
        const int built = BuildDeviceList(0);
        BASECOMP_LOG(CCmpLog2::kVerboseContinue, built ? L"Done.\r\n" : L"Failed!\r\n");
        m_bDeferDriverApiNotices = false;
        WriteDriverApiNotices();
    }
    for (auto& entry : m_vDevices) {
        if (entry.second.CompareNoCase(hardwareId) == 0) {
            if (record) {
                // Records leave the table only here, so here a device's
                // driver snapshot is taken, once by the list; an entry the
                // list does not know keeps what it holds.
                if (const W2KDEVINST* device = m_DeviceList.DriverSnapshotOf(entry.first))
                    entry.first = *device;
                *record = &entry.first;
            }
            return 1;
        }
    }
    return 0;
}
