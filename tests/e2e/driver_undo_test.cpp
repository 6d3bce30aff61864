// A driver installation that fails, or is killed, leaves the machine as it
// was: the framework's plug-in installs a legacy package of many files, is
// ended at a known step of its copy or of its undo (TZR_TEST_END_AT, read by
// the install journal), and the next run of another package finishes what
// the killed one left. And hosts writing the component logs at once keep
// every entry whole.
#include "driver_fixtures.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

const char kPackageDefinition[] = "<?xml version=\"1.0\"?>\r\n<tzr_package></tzr_package>\r\n";
const wchar_t kService[] = L"TzrE2eUndo";
const wchar_t kKey[] = L"Software\\TzrE2eUndo";
const wchar_t kDest[] = L"C:\\tzr-e2e-undo-dest";
const int kFiles = 1500;
const int kExisting = 10;  // files the package replaces: f0000.sys ...

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string FileName(int i)
{
    char name[16];
    snprintf(name, sizeof name, "f%04d.sys", i);
    return name;
}

// A legacy package copying kFiles files into kDest (the first kExisting of
// which are there before), writing a value into a key that exists before
// and one into a new key, and creating a service. Failing, it has a second
// file list whose file it lacks, and fails after all the rest is done.
void AddPackage(const Scenario& s, bool failing)
{
    s.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
    s.AddFile(L"kxframework.xml", kPackageDefinition);
    s.AddFile(L"install.xml", "<?xml version=\"1.0\"?>\r\n<tzr_install><inf_information><inf_file "
                              "filename=\"tzre2eundo.inf\" type=\"LEGACY\"/></inf_information></tzr_install>\r\n");
    std::string inf =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\n[DestinationDirs]\r\nDefaultDestDir=24,tzr-e2e-undo-dest\r\n"
        "[DefaultInstall]\r\nCopyFiles=Undo.Files\r\nAddReg=Undo.Reg\r\n"
        "[DefaultInstall.Services]\r\nAddService=TzrE2eUndo,0x00000002,Undo.Service\r\n"
        "[Undo.Reg]\r\nHKLM,\"Software\\TzrE2eUndo\",\"Installed\",0x00010001,1\r\n"
        "HKLM,\"Software\\TzrE2eUndo\",\"Existing\",0x00000000,\"new\"\r\n"
        "HKLM,\"Software\\TzrE2eUndo\\Created\",\"Name\",0x00000000,\"undo package\"\r\n"
        "[Undo.Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\n"
        "ServiceBinary=%24%\\tzr-e2e-undo-dest\\f0000.sys\r\n[Undo.Files]\r\n";
    for (int i = 0; i < kFiles; ++i) {
        inf += FileName(i) + "\r\n";
        s.AddFile(Widen(FileName(i)), "new " + FileName(i));
    }
    // The second list fails after the first and its registry lines are done.
    if (failing)
        inf = Replaced(inf, "[Undo.Reg]", "[Broken]\r\nCopyFiles=Broken.Files\r\n[Broken.Files]\r\nmissing.sys\r\n[Undo.Reg]");
    s.AddFile(L"tzre2eundo.inf", inf);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found) != FALSE)
        if (found.cFileName[0] != L'.')
            names.push_back(found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

class DriverUndo : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        RemoveTree(kDest);
        MakeDirs(kDest);
        for (int i = 0; i < kExisting; ++i)
            WriteFileBytes(std::wstring(kDest) + L"\\" + Widen(FileName(i)), "old " + FileName(i));
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        const wchar_t old[] = L"old";
        RegSetValueExW(key, L"Existing", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
        RegCloseKey(key);
        m_before = FilesIn(kDest);
        Scenario::ClearLogs();
    }
    void TearDown() override
    {
        m_leftovers.Remove();
        RemoveTree(kDest);
        MachineTest::TearDown();
    }

    // What the package's run leaves must be what was there before it.
    void ExpectAsBefore() const
    {
        EXPECT_EQ(m_before, FilesIn(kDest)) << "no new file, no kept or temporary copy";
        for (int i = 0; i < kExisting; ++i)
            EXPECT_EQ("old " + FileName(i), ReadFileBytes(std::wstring(kDest) + L"\\" + Widen(FileName(i))));
        EXPECT_FALSE(ServiceExists(kService));
        EXPECT_EQ(0xFFFFFFFFu, RegistryDword(kKey, L"Installed"));
        EXPECT_EQ("old", RegistryString(kKey, L"Existing"));
        EXPECT_FALSE(RegistryKeyExists(std::wstring(kKey) + L"\\Created"));
        for (const std::wstring& name : FilesIn(Scenario::LogFolder()))
            EXPECT_NE(0u, name.rfind(L"tzrundo-", 0)) << "a journal left: " << Narrow(name);
    }

    // Another package's installation (one with no driver to install) first
    // finishes what the killed run left, and says so in both logs.
    void RerunAnotherPackage() const
    {
        Scenario other("undo_other");
        other.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
        other.AddFile(L"kxframework.xml", kPackageDefinition);
        Scenario::ClearLogs();
        const HostResult r = other.Host({L"/verbose_log", L"--install"});
        ASSERT_TRUE(r.started);
        const std::string taken = "An earlier installation ended before it finished; what it did was taken back";
        EXPECT_NE(std::string::npos, Scenario::ComponentLog().find(taken)) << Scenario::ComponentLog();
        EXPECT_NE(std::string::npos, Scenario::ComponentVerboseLog().find(taken)) << Scenario::ComponentVerboseLog();
    }

    Leftovers m_leftovers{{kService}, {kKey}, {}};
    std::vector<std::wstring> m_before;
};

// Killed during its copy (at the 600th journal record, some 300 files in),
// the run leaves its journal; the next run takes every step back.
TEST_F(DriverUndo, AKilledCopyIsTakenBackByTheNextRun)
{
    Scenario s("undo_copy");
    AddPackage(s, false);
    const HostResult r = s.Host({L"/verbose_log", L"--install"}, {{L"TZR_TEST_END_AT", L"record:600"}});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(3u, r.exitCode) << "ended by the test's end point\n" << r.output;
    EXPECT_NE(m_before, FilesIn(kDest)) << "the copy had begun";
    RerunAnotherPackage();
    ExpectAsBefore();
}

// Killed during the undo of a failed installation (after 700 of its steps),
// the rest of the undo is finished by the next run.
TEST_F(DriverUndo, AKilledUndoIsFinishedByTheNextRun)
{
    Scenario s("undo_undo");
    AddPackage(s, true);
    const HostResult r = s.Host({L"/verbose_log", L"--install"}, {{L"TZR_TEST_END_AT", L"undo:700"}});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(3u, r.exitCode) << r.output;
    RerunAnotherPackage();
    ExpectAsBefore();
}

// A failed installation takes its registry values back with its files and
// its service, and logs every step whole: the failed ones and a count.
TEST_F(DriverUndo, AFailedInstallationLeavesNoRegistryValue)
{
    Scenario s("undo_failed");
    AddPackage(s, true);
    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    EXPECT_EQ("install   result 0 (failure)  message \"\"", r.InstallLine()) << r.output;
    ExpectAsBefore();
    const std::string verbose = Scenario::ComponentVerboseLog();
    EXPECT_NE(std::string::npos, verbose.find("    - Undone: put back the earlier registry value HKLM\\Software\\"
                                              "TzrE2eUndo\\Existing\r\n"))
        << verbose;
    EXPECT_TRUE(std::regex_search(verbose, std::regex("    - Undone also: [0-9]+ more steps of the same kinds, not "
                                                      "listed one by one\r\nInstallation failed\\.\r\n")))
        << verbose;
}

// The component logs' lines with what differs between runs (time, process,
// source line) taken out, each with how often it came.
std::map<std::string, int> LineCounts(const std::string& log)
{
    static const std::regex varying("^\\[[^\\]]*\\]::|Run [0-9: -]+ UTC, process [0-9]+");
    std::map<std::string, int> counts;
    for (const std::string& line : SplitCrLf(log))
        if (!line.empty())
            ++counts[std::regex_replace(line, varying, "")];
    return counts;
}

// Twelve hosts at once on one driver package: each entry of theirs is whole
// (a "... " and its "Done." on one line) and none is lost, in both logs.
TEST_F(DriverUndo, TwelveHostsAtOnceKeepEveryEntryWhole)
{
    Scenario s("undo_hosts");
    AddPackage(s, false);
    s.Host({L"/verbose_log", L"--property", L"5"});
    const std::map<std::string, int> one = LineCounts(Scenario::ComponentVerboseLog());
    const std::map<std::string, int> oneMain = LineCounts(Scenario::ComponentLog());
    ASSERT_FALSE(one.empty());
    for (int round = 0; round < 3; ++round) {
        Scenario::ClearLogs();
        std::vector<PROCESS_INFORMATION> hosts;
        for (int i = 0; i < 12; ++i) {
            std::wstring line = QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")) + L" " + QuoteArg(s.Folder()) +
                                L" /verbose_log --property 5";
            STARTUPINFOW start{};
            start.cb = sizeof start;
            PROCESS_INFORMATION process{};
            ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                       s.Folder().c_str(), &start, &process));
            hosts.push_back(process);
        }
        for (PROCESS_INFORMATION& process : hosts) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 300000));
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        std::map<std::string, int> twelve, twelveMain;
        for (const auto& entry : one)
            twelve[entry.first] = 12 * entry.second;
        for (const auto& entry : oneMain)
            twelveMain[entry.first] = 12 * entry.second;
        EXPECT_EQ(twelve, LineCounts(Scenario::ComponentVerboseLog())) << "round " << round;
        EXPECT_EQ(twelveMain, LineCounts(Scenario::ComponentLog())) << "round " << round;
    }
}

}  // namespace
