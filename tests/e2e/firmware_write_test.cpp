// The firmware write, the riskiest thing the product does, as an operator's
// servers see it: one write at a time per machine whoever started it, the
// package's own image and tool or nothing, every flash on record, and no
// hang or unbounded growth that is not the tool's own doing.
#include "scenario.h"
#include "win_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

using namespace tzrtest;

namespace {

const char kDone[] = "Installation completed successfully.";
const char kBusy[] = "Another firmware installation is running on this machine.";
const char kModelP[] = "Veyra KB118m-p Mk3+ Boot Controller";  // 0x2f6
const char kNoImage[] = "No firmware image (.bin) found in the package folder; nothing is flashed";
const char kMoreThanOne[] = "More than one firmware image (.bin) in the package folder; nothing is flashed";

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A package of version 2.4.10 with one image and two older controllers that
// a flash brings to 2.4.10.
Scenario FirmwarePackage(const std::string& name, const std::string& extra = "")
{
    Scenario s(name);
    s.AddFile(L"kx012345.xml", Package("2.4.10"));
    s.AddFile(L"fw.bin", "image");
    s.AddSimulator("image_version=2.4.10\n" + extra + Controller(1, "0x2f6", "2.4.9") +
                   Controller(2, "0x310", "2.4.9"));
    return s;
}

// Every write the simulated tool made: start and end, UTC FILETIME ticks.
struct Write {
    unsigned long long begin = 0, end = 0;
};

std::vector<Write> Writes(const Scenario& s)
{
    std::vector<Write> writes;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(s.PathOf(L"mnv_sim.flash.*.log").c_str(), &found));
    if (!search)
        return writes;
    do {
        for (const std::string& line : SplitCrLf(ReadFileBytes(s.PathOf(found.cFileName)))) {
            Write w;
            if (sscanf(line.c_str(), "%*d %llu %llu", &w.begin, &w.end) == 2)
                writes.push_back(w);
        }
    } while (FindNextFileW(search.get(), &found));
    return writes;
}

// True when some write began before an earlier one had ended.
bool AnyOverlap(std::vector<Write> writes)
{
    std::sort(writes.begin(), writes.end(), [](const Write& a, const Write& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < writes.size(); ++i)
        if (writes[i].begin < writes[i - 1].end)
            return true;
    return false;
}

// Hosts installing the same package at the same moment (an agent's retry
// beside an operator): their writes never overlap, and each host's answer
// is true: it flashed, or it was told another installation is running.
TEST(FirmwareWrite, HostsInstallingAtOnceNeverWriteAtOnce)
{
    for (int hosts : {2, 3}) {
        const Scenario s = FirmwarePackage("write_at_once_" + std::to_string(hosts), "flash_ms=1500\n");
        std::vector<HostResult> results(static_cast<size_t>(hosts));
        std::vector<std::thread> threads;
        for (HostResult& r : results)
            threads.emplace_back([&s, &r] { r = s.Host({L"--install"}); });
        for (std::thread& t : threads)
            t.join();
        size_t done = 0, busy = 0;
        for (const HostResult& r : results) {
            // Flashed (3010), refused because another installation runs
            // (1618), or nothing to do after another host's write (0).
            const std::string line = r.InstallLine();
            done += Has(line, kDone);
            busy += Has(line, kBusy);
            EXPECT_EQ(Has(line, kDone) ? 3010u : Has(line, kBusy) ? 1618u : 0u, r.exitCode) << r.output;
            EXPECT_TRUE(Has(line, kDone) || Has(line, kBusy) || Has(line, "not called")) << r.output;
        }
        const std::vector<Write> writes = Writes(s);
        EXPECT_GE(done, 1u) << hosts;
        EXPECT_EQ(2 * done, writes.size()) << hosts;
        EXPECT_FALSE(AnyOverlap(writes)) << hosts;
        const std::string log = Scenario::ProcessLog();
        EXPECT_EQ(busy, CountOf(log, "Another firmware installation is running on this machine: process ")) << log;
    }
}

// A host killed during a flash leaves its tool writing; the rerun waits for
// that write to end, says whose it waits for, and then installs.
TEST(FirmwareWrite, RerunAfterAKilledHostWaitsForItsTool)
{
    const Scenario s = FirmwarePackage("write_after_kill", "flash_ms=3000\n");
    const std::wstring commandLine = QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")) + L" " + QuoteArg(s.Folder()) +
                                     L" --install";
    std::wstring mutableLine = commandLine;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               s.Folder().c_str(), &si, &pi));
    UniqueHandle killed(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    for (int i = 0; i < 300 && FlashCalls(s.SimulatorCalls()).empty(); ++i)
        Sleep(100);
    ASSERT_EQ(1u, FlashCalls(s.SimulatorCalls()).size());
    TerminateProcess(killed.get(), 1);
    WaitForSingleObject(killed.get(), INFINITE);

    const HostResult rerun = s.Host({L"--install"});
    EXPECT_TRUE(Has(rerun.InstallLine(), kDone)) << rerun.output;
    const std::vector<Write> writes = Writes(s);
    EXPECT_EQ(3u, writes.size());  // the orphan's one, then both again
    EXPECT_FALSE(AnyOverlap(writes));
    EXPECT_TRUE(Has(Scenario::ProcessLog(), "Waiting for the firmware installation of process " +
                                                std::to_string(pi.dwProcessId) +
                                                " (writing firmware), which has ended while its tool still runs"))
        << Scenario::ProcessLog();
}

// Only the package's one image is ever written; every refused candidate is
// named with its reason, a package without its one image is not offered
// (the install state says why), and a failed flash keeps the tool's own
// words.
TEST(FirmwareWrite, OnlyThePackagesOneImageIsWritten)
{
    const struct {
        const char* name;
        std::vector<std::pair<std::wstring, const char*>> files;  // a null text makes a folder
        const char* extra;
        const char* answer;
        std::vector<std::string> logged;
    } cases[] = {
        {"two_images", {{L"fw_2.3.0.bin", "old"}, {L"fw_2.4.10.bin", "new"}}, "", kMoreThanOne,
         {"Firmware image candidate fw_2.3.0.bin refused: one of 2 images",
          "Firmware image candidate fw_2.4.10.bin refused: one of 2 images"}},
        {"folder_beside", {{L"backup.bin", nullptr}, {L"fw.bin", "image"}}, "", kDone,
         {"Firmware image candidate backup.bin refused: a folder", "FW binary file: fw.bin",
          std::string("Controller 1 (") + kModelP + ", firmware 2.4.9): image fw.bin: success"}},
        {"empty", {{L"fw.bin", ""}}, "", kNoImage, {"Firmware image candidate fw.bin refused: an empty file"}},
        {"outside_code_page", {{L"fw_2.4.10_\x4e2d.bin", "image"}}, "", kNoImage,
         {"Firmware image candidate fw_2.4.10_?.bin refused: its name cannot be given to the tool in the ANSI "
          "code page"}},
        {"tool_fails", {{L"fw.bin", "image"}}, "1.flash=fail\n1.flash_text=disk on fire\n", "Error",
         {"Tool said: disk on fire",
          std::string("Controller 1 (") + kModelP + ", firmware 2.4.9): image fw.bin: failed"}},
    };
    for (const auto& c : cases) {
        Scenario s(std::string("write_image_") + c.name);
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        for (const auto& file : c.files) {
            if (file.second)
                s.AddFile(file.first, file.second);
            else
                MakeDirs(s.PathOf(file.first));
        }
        s.AddSimulator(std::string(c.extra) + Controller(1, "0x2f6", "2.4.9"));
        const HostResult r = s.Host({L"--install"});
        const bool refused = c.answer == kNoImage || c.answer == kMoreThanOne;
        EXPECT_TRUE(Has(refused ? r.PropertyLine(5) : r.InstallLine(), c.answer)) << c.name << "\n" << r.output;
        EXPECT_EQ(refused ? 0u : 1u, FlashCalls(s.SimulatorCalls()).size()) << c.name;
        for (const std::string& line : c.logged)
            EXPECT_TRUE(Has(Scenario::ProcessLog(), "] " + line + "\r\n")) << c.name << ": " << line;
    }
}

// The version comes from the package definition the framework reads, not
// from whichever XML file the folder lists first.
TEST(FirmwareWrite, VersionComesFromThePackageDefinition)
{
    Scenario s = FirmwarePackage("write_other_xml");
    s.AddFile(L"dependency.xml", "<dependencies/>");
    s.AddFile(L"a.xml", "<notes/>");
    const HostResult r = s.Host({L"--install"});
    EXPECT_EQ(2u, r.State()) << r.output;
    EXPECT_TRUE(Has(r.InstallLine(), kDone)) << r.output;
    EXPECT_TRUE(Has(Scenario::ProcessLog(), "] readKeyFilesFromKXXML: kx012345.xml\r\n"));
}

// The package's own tool by its full path also in a folder too long for a
// short path to it, never the one beside the host.
TEST(FirmwareWrite, ThePackagesOwnToolRunsFromALongFolder)
{
    const std::wstring hostFolder = L"C:\\tzr-e2e\\write_decoy_host";
    RemoveTree(hostFolder);
    MakeDirs(hostFolder);
    CopyFileW(BuildFile(L"tools\\host\\tzrhost.exe").c_str(), (hostFolder + L"\\tzrhost.exe").c_str(), FALSE);
    CopyFileW(BuildFile(L"tools\\mnv-sim\\mnv_sim.exe").c_str(), (hostFolder + L"\\mnv_cli.exe").c_str(), FALSE);
    WriteFileBytes(hostFolder + L"\\mnv_sim.ini", Controller(1, "0x2f6", "1.0"));

    // C:\tzr-e2e\ and a name of 237: a folder of 248 characters.
    const Scenario own = FirmwarePackage(std::string(237, 'L'));
    ASSERT_EQ(248u, own.Folder().size());
    const HostResult r = own.HostFrom(hostFolder + L"\\tzrhost.exe", {L"--install"});
    EXPECT_TRUE(Has(r.InstallLine(), kDone)) << r.output;
    EXPECT_EQ(2u, FlashCalls(own.SimulatorCalls()).size());
    EXPECT_EQ("", ReadFileBytes(hostFolder + L"\\mnv_sim.calls.log"));
    EXPECT_TRUE(Has(Scenario::ProcessLog(), "] Vendor tool: " + Narrow(own.PathOf(L"mnv_cli.exe")) + "\r\n"));
    RemoveTree(hostFolder);
    RemoveTree(own.Folder());
}

// A package on a drive without the engine's log folder is still on record:
// beside the component log, which says where, with the process on each line.
TEST(FirmwareWrite, PackageOnAnotherDriveIsStillOnRecord)
{
    const std::wstring root = BuildDir() + L"\\e2e-other-drive";
    ASSERT_EQ(L'Z', root[0]);
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"Z:\\tzrsystem"));
    {
        Scenario s("package", root);
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator("image_version=2.4.10\n" + Controller(1, "0x2f6", "2.4.9"));
        const HostResult r = s.Host({L"--install"});
        EXPECT_TRUE(Has(r.InstallLine(), kDone)) << r.output;
    }
    const std::string pid = "\\[\\d+\\] ";
    const std::string log = Scenario::ProcessLog();
    EXPECT_TRUE(std::regex_search(log, std::regex(pid + "FW flash successful on Controller ID: 1\r\n"))) << log;
    EXPECT_TRUE(Has(Scenario::ComponentLog(), "**WARNING** - The engine's log cannot be written to "
                                              "\\tzrsystem\\log\\Verbose.log; it goes to "
                                              "C:\\tzrsystem\\log\\Verbose.log\r\n"))
        << Scenario::ComponentLog();
    RemoveTree(root);
}

// Waits that are not the tool's own: a log file another program keeps
// locked, and a process the tool left holding its output; and output
// without end, which is kept bounded.
TEST(FirmwareWrite, NothingButTheToolItselfHoldsTheHost)
{
    {
        const Scenario s = FirmwarePackage("write_log_locked");
        const std::wstring path = Scenario::LogFolder() + L"\\tzrsetup.log";
        UniqueHandle log(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_TRUE(log.valid());
        OVERLAPPED whole = {};
        ASSERT_TRUE(LockFileEx(log.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
        const ULONGLONG start = GetTickCount64();
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_LT(GetTickCount64() - start, 20000u);
        UnlockFileEx(log.get(), 0, MAXDWORD, MAXDWORD, &whole);
        EXPECT_EQ(2u, r.State()) << r.output;
        EXPECT_TRUE(Has(r.output, "Log file C:\\tzrsystem\\log\\tzrsetup.log is locked by another process; its "
                                  "lines are dropped"))
            << r.output;
    }
    {
        const Scenario s = FirmwarePackage("write_pipe_held", "linger_ms=8000\n");
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_EQ(2u, r.State()) << r.output;
        // The host's own output pipe was inherited too, so the host's end is
        // not the measure: the engine's log shows when the query ended.
        std::vector<std::string> stamps;
        for (const std::string& line : SplitCrLf(Scenario::ProcessLog()))
            if (line.find("FlashComponent::Checking Installation state") != std::string::npos)
                stamps.push_back(line.substr(12, 8));  // hh:mm:ss
        ASSERT_EQ(2u, stamps.size());
        const auto seconds = [](const std::string& t) {
            return std::stoi(t.substr(0, 2)) * 3600 + std::stoi(t.substr(3, 2)) * 60 + std::stoi(t.substr(6, 2));
        };
        EXPECT_LE((seconds(stamps[1]) - seconds(stamps[0]) + 86400) % 86400, 4) << stamps[0] << " " << stamps[1];
        // What the tool left behind keeps the lock open for its 8 s; the
        // next scenario's inventory waits for it, as for any holder.
    }
    {
        const Scenario s = FirmwarePackage("write_endless", "padding=3000000\n");
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_EQ(2u, r.State()) << r.output;
        EXPECT_TRUE(std::regex_search(Scenario::ProcessLog(),
                                      std::regex("Tool output cut: \\d+ bytes between the first 1048576 and the "
                                                 "last 65536 not kept\r\n")));
    }
}

// A tool that answers in UTF-16 is read as the text it is.
TEST(FirmwareWrite, AnAnswerInUtf16IsReadAsText)
{
    for (const char* encoding : {"utf16", "utf16bare"}) {
        const Scenario s = FirmwarePackage(std::string("write_") + encoding, std::string("encoding=") + encoding + "\n");
        const HostResult r = s.Host({L"--install"});
        EXPECT_EQ(2u, r.State()) << encoding << "\n" << r.output;
        EXPECT_TRUE(Has(r.InstallLine(), kDone)) << encoding << "\n" << r.output;
    }
}

}  // namespace
