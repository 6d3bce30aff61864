// What a firmware write is decided on: the machine as it is when the write
// starts, firmware already written and waiting for its restart, a lock whose
// answers are true, and a tool that outlives its host without stalling. Two
// packages share one simulated machine, as two deployments share a server.
#include "scenario.h"
#include "win_handle.h"

#include <gtest/gtest.h>

using namespace tzrtest;

namespace {

const char kModelP[] = "Veyra KB118m-p Mk3+ Boot Controller";  // 0x2f6
const wchar_t kWaitingKey[] = L"SOFTWARE\\TZR\\NVMeBootController\\AwaitingRestart";

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A machine of three controllers at firmware, in a folder of its own that
// the packages' simulators share.
std::wstring Machine(const std::string& name, const std::string& firmware, const std::string& extra = "")
{
    const std::wstring folder = L"C:\\tzr-e2e\\" + Widen(name);
    RemoveTree(folder);
    MakeDirs(folder);
    WriteFileBytes(folder + L"\\mnv_sim.ini", extra + Controller(1, "0x2f6", firmware) +
                                                  Controller(2, "0x310", firmware) + Controller(3, "0x2f6", firmware));
    return folder;
}

// A package of version on that machine; its image leaves version on a
// controller it flashes.
Scenario PackageOn(const std::wstring& machine, const std::string& name, const std::string& version,
                   const std::string& extra = "")
{
    Scenario s(name);
    s.AddFile(L"kx012345.xml", Package(version));
    s.AddFile(L"fw_" + Widen(version) + L".bin", "image " + version);
    s.AddSimulator("machine=" + Narrow(machine) + "\nimage_version=" + version + "\n" + extra);
    return s;
}

// The writes the machine saw: one record per flash.
size_t WritesOn(const std::wstring& machine)
{
    size_t n = 0;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((machine + L"\\mnv_sim.flash.*.log").c_str(), &found));
    if (search) {
        do
            ++n;
        while (FindNextFileW(search.get(), &found));
    }
    return n;
}

std::string FirmwareOf(const std::wstring& machine, int controller)
{
    const std::string key = std::to_string(controller) + ".fw=";
    for (const std::string& line : SplitCrLf(ReadFileBytes(machine + L"\\mnv_sim.ini")))
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    return "";
}

// A restart as far as the record of waiting firmware and the simulated
// controllers can tell: both keep it in volatile keys, which a restart
// clears (the restart itself, wineserver and all, is restart-test.sh's).
void Restart()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWaitingKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\TZR-Simulator\\Boot");
}

// A host that answers the install state, then waits on its standard input
// before it calls Install, as an operator (or a windowed host) looks first.
class PausedHost {
public:
    explicit PausedHost(const Scenario& s) : m_out(s.PathOf(L"paused_host.out"))
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        UniqueHandle inRead;
        EXPECT_TRUE(CreatePipe(inRead.put(), m_in.put(), &inherit, 0));
        SetHandleInformation(m_in.get(), HANDLE_FLAG_INHERIT, 0);
        UniqueHandle out(CreateFileW(m_out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = inRead.get();
        si.hStdOutput = out.get();
        si.hStdError = out.get();
        std::wstring line = QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")) + L" " + QuoteArg(s.Folder()) +
                            L" --install --pause";
        PROCESS_INFORMATION pi = {};
        EXPECT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                   s.Folder().c_str(), &si, &pi));
        m_process.reset(pi.hProcess);
        UniqueHandle thread(pi.hThread);
        // Waits on what the host says, not on time: it has read the state.
        for (int i = 0; i < 1200 && !Has(ReadFileBytes(m_out), "press Enter to call Install"); ++i)
            Sleep(100);
        EXPECT_TRUE(Has(ReadFileBytes(m_out), "press Enter to call Install")) << ReadFileBytes(m_out);
    }

    // Lets it call Install; its exit code and report.
    HostResult Finish()
    {
        DWORD written = 0;
        WriteFile(m_in.get(), "\r\n", 2, &written, nullptr);
        m_in.reset();
        WaitForSingleObject(m_process.get(), INFINITE);
        HostResult r;
        GetExitCodeProcess(m_process.get(), &r.exitCode);
        r.output = ReadFileBytes(m_out);
        r.started = true;
        return r;
    }

private:
    std::wstring m_out;
    UniqueHandle m_in;
    UniqueHandle m_process;
};

// The install state was read, then another deployment wrote the machine:
// Install writes nothing, says what changed, and the engine is told to retry
// (1618), after which it sees the truth.
TEST(FirmwareDecision, InstallDecidesOnTheMachineAsItIsWhenItWrites)
{
    const struct {
        const char* name;
        const char* first;  // the package whose host waits between state and Install
        const char* second; // the package installed meanwhile
        const char* retryState;
    } cases[] = {
        {"older_after_newer", "2.3.0", "2.4.10", "state 3"},  // would have been a downgrade nobody chose
        {"same_package_twice", "2.4.10", "2.4.10", "state 1"},  // would have been a second write
    };
    for (const auto& c : cases) {
        const std::wstring machine = Machine(std::string("machine_") + c.name, "2.2.0");
        const Scenario first = PackageOn(machine, std::string(c.name) + "_first", c.first);
        const Scenario second = PackageOn(machine, std::string(c.name) + "_second", c.second);
        PausedHost waiting(first);
        EXPECT_EQ(3010u, second.Host({L"--install"}).exitCode) << c.name;
        EXPECT_EQ(3u, WritesOn(machine)) << c.name;

        const HostResult r = waiting.Finish();
        EXPECT_EQ(1618u, r.exitCode) << c.name << "\n" << r.output;
        EXPECT_TRUE(Has(r.InstallLine(), "Controller 1: 2.2.0 when the state was read, " + std::string(c.second) +
                                             " now (and 2 more); nothing is written. Ask the install state again."))
            << c.name << "\n" << r.output;
        EXPECT_EQ(3u, WritesOn(machine)) << c.name;
        for (int controller = 1; controller <= 3; ++controller)
            EXPECT_EQ(c.second, FirmwareOf(machine, controller)) << c.name;

        const HostResult retry = first.Host({L"--install"});
        EXPECT_TRUE(Has(retry.PropertyLine(5), c.retryState)) << c.name << "\n" << retry.output;
        EXPECT_EQ(3u, WritesOn(machine)) << c.name;
    }
}

// Firmware that runs only after a restart is written once: a rerun before
// the restart writes nothing and still owes the restart (3010), an older
// package sees the newer firmware waiting and leaves it, and after the
// restart the package is simply installed.
TEST(FirmwareDecision, FirmwareWaitingForItsRestartIsNotWrittenAgain)
{
    const std::wstring machine = Machine("machine_restart", "2.2.0", "restart_effect=1\n");
    const Scenario package = PackageOn(machine, "restart_package", "2.4.10");
    const Scenario older = PackageOn(machine, "restart_older", "2.3.0");

    const HostResult written = package.Host({L"--install"});
    EXPECT_EQ(3010u, written.exitCode) << written.output;
    EXPECT_EQ(3u, WritesOn(machine));
    EXPECT_EQ("2.2.0", FirmwareOf(machine, 1));  // the tool reports the old one until the restart

    const HostResult rerun = package.Host({L"--install"});
    EXPECT_TRUE(Has(rerun.PropertyLine(5), "state 1")) << rerun.output;
    EXPECT_TRUE(Has(rerun.PropertyLine(5), "A restart is needed")) << rerun.output;
    EXPECT_TRUE(Has(rerun.PropertyLine(3), std::string(kModelP) + ": 2.4.10")) << rerun.output;
    EXPECT_TRUE(Has(rerun.InstallLine(), "runs after the next restart; nothing is written again")) << rerun.output;
    EXPECT_EQ(3010u, rerun.exitCode);

    const HostResult downgrade = older.Host({L"--install"});
    EXPECT_TRUE(Has(downgrade.PropertyLine(5), "state 3")) << downgrade.output;
    EXPECT_EQ(1638u, downgrade.exitCode);
    EXPECT_EQ(3u, WritesOn(machine));

    Restart();
    const HostResult after = package.Host({L"--install"});
    EXPECT_EQ("2.4.10", FirmwareOf(machine, 1));
    EXPECT_TRUE(Has(after.PropertyLine(5), "state 1")) << after.output;
    EXPECT_FALSE(Has(after.PropertyLine(5), "A restart is needed")) << after.output;
    EXPECT_EQ(0u, after.exitCode);
    EXPECT_EQ(3u, WritesOn(machine));
    Restart();
}

// A host killed during a long write that prints its progress: the tool is
// left a broken pipe, not a full one, so it writes to its end and lets the
// machine go. The write was on record before the tool started, so the next
// host never writes it again: it finds the firmware running, or, where it
// runs only after the restart, owes the restart (3010).
TEST(FirmwareDecision, AKilledHostsToolWritesToItsEndAndIsNotWrittenAgain)
{
    const struct {
        const char* settings;
        const char* state;  // what the next host's install state says
        unsigned exitCode;
    } cases[] = {
        {"", "state 1", 0},
        {"restart_effect=1\n", "A restart is needed", 3010},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        Scenario s("decision_killed_host");
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator(std::string(c.settings) + "image_version=2.4.10\nflash_ms=4000\nflash_progress=1\n" +
                       Controller(1, "0x2f6", "2.4.9"));
        std::wstring line = QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")) + L" " + QuoteArg(s.Folder()) +
                            L" --install";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                   s.Folder().c_str(), &si, &pi));
        UniqueHandle host(pi.hProcess), thread(pi.hThread);
        for (int i = 0; i < 1200 && FlashCalls(s.SimulatorCalls()).empty(); ++i)
            Sleep(100);
        ASSERT_EQ(1u, FlashCalls(s.SimulatorCalls()).size());
        TerminateProcess(host.get(), 1);
        WaitForSingleObject(host.get(), INFINITE);

        // The write's own record appears when the tool has written to its
        // end; a tool held by a full pipe never gets there.
        for (int i = 0; i < 1200 && WritesOn(s.Folder()) == 0; ++i)
            Sleep(100);
        EXPECT_EQ(1u, WritesOn(s.Folder()));
        const HostResult rerun = s.Host({L"--install"});
        EXPECT_TRUE(Has(rerun.PropertyLine(5), c.state)) << rerun.output;
        EXPECT_EQ(c.exitCode, rerun.exitCode) << rerun.output;
        EXPECT_EQ(1u, FlashCalls(s.SimulatorCalls()).size()) << rerun.output;
        EXPECT_EQ(1u, WritesOn(s.Folder()));
        Restart();
    }
}

// A name no installation of ours holds (an event, a mutex, a bare section
// made under it first) is its own answer, at once: cannot be installed,
// with what holds the name, never "another installation is running".
TEST(FirmwareDecision, ALockNameSomeoneElseHoldsIsRefusedAtOnce)
{
    const std::wstring name = L"Global\\TZR.NVMeBootController.FirmwareWrite";
    const struct {
        const char* what;
        HANDLE (*make)(const wchar_t* name);
        const char* holds;
    } cases[] = {
        {"event", [](const wchar_t* n) { return CreateEventW(nullptr, TRUE, FALSE, n); },
         "an object that is not a section"},
        {"mutex", [](const wchar_t* n) { return CreateMutexW(nullptr, FALSE, n); }, "an object that is not a section"},
        {"section",
         [](const wchar_t* n) { return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, n); },
         "a section that"},
    };
    for (const auto& c : cases) {
        Scenario s(std::string("decision_squatted_") + c.what);
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator("image_version=2.4.10\n" + Controller(1, "0x2f6", "2.4.9"));
        // The name is free once the last scenario's processes have closed
        // their handles.
        UniqueHandle squatter;
        for (int i = 0; i < 600 && !squatter; ++i) {
            squatter.reset(c.make(name.c_str()));
            if (!squatter || GetLastError() == ERROR_ALREADY_EXISTS) {
                squatter.reset();
                Sleep(100);
            }
        }
        ASSERT_TRUE(squatter.valid()) << c.what;
        const ULONGLONG start = GetTickCount64();
        const HostResult r = s.Host({L"--install"});
        EXPECT_LT(GetTickCount64() - start, 120000u) << c.what;  // far below the 30-minute wait
        EXPECT_EQ(1603u, r.exitCode) << c.what << "\n" << r.output;
        EXPECT_TRUE(Has(r.PropertyLine(5), "state 7")) << r.output;
        EXPECT_TRUE(Has(r.PropertyLine(5), "The machine-wide firmware lock cannot be taken: the name is held by " +
                                               std::string(c.holds)))
            << c.what << "\n" << r.output;
        EXPECT_FALSE(Has(r.output, "Another firmware installation")) << r.output;
        EXPECT_TRUE(FlashCalls(s.SimulatorCalls()).empty()) << c.what;
    }
}

// Every answer holds for Install: the state asked twice is the same, a file
// beside the image is no image, an image's own name reaches the tool, and a
// package Install could not write is not offered.
TEST(FirmwareDecision, EveryAnswerHoldsForInstall)
{
    {
        Scenario s("decision_twice");
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator(Controller(1, "0x2f6", "2.4.9"));
        const HostResult r = s.Host({L"--property", L"5", L"--property", L"5"});
        const std::string report = r.output;
        const size_t first = report.find("state 2");
        EXPECT_NE(std::string::npos, first) << report;
        EXPECT_NE(std::string::npos, report.find("state 2", first + 1)) << report;
    }
    const struct {
        const char* name;
        std::vector<std::pair<std::wstring, std::string>> files;
        unsigned exitCode;
        const char* said;  // in the report (state message or install line) or the engine's log
    } cases[] = {
        {"checksum_beside", {{L"fw_2.4.10.bin", "image"}, {L"fw_2.4.10.bin.sha256", "e3b0c442  fw_2.4.10.bin"}},
         3010u, "Firmware image candidate fw_2.4.10.bin.sha256 refused: its name does not end in .bin"},
        {"upper_case", {{L"FW_2.4.10.BIN", "image"}}, 3010u, "FW binary file: FW_2.4.10.BIN"},
        {"euro_sign", {{L"fw_\x20ac.bin", "image"}}, 3010u, "success"},
        {"no_image", {}, 1603u, "No firmware image (.bin) found in the package folder; nothing is flashed"},
        {"two_images", {{L"a.bin", "1"}, {L"b.bin", "2"}}, 1603u,
         "More than one firmware image (.bin) in the package folder; nothing is flashed"},
    };
    for (const auto& c : cases) {
        Scenario s(std::string("decision_image_") + c.name);
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        for (const auto& file : c.files)
            s.AddFile(file.first, file.second);
        s.AddSimulator("image_version=2.4.10\n" + Controller(1, "0x2f6", "2.4.9"));
        const HostResult r = s.Host({L"--install"});
        EXPECT_EQ(c.exitCode, r.exitCode) << c.name << "\n" << r.output;
        EXPECT_TRUE(Has(r.output, c.said) || Has(Scenario::ProcessLog(), c.said)) << c.name << "\n" << r.output;
        if (c.exitCode == 1603u) {
            EXPECT_TRUE(Has(r.PropertyLine(5), "state 7")) << c.name << "\n" << r.output;
            EXPECT_TRUE(Has(r.PropertyLine(5), c.said)) << c.name << "\n" << r.output;
        }
    }
}

}  // namespace
