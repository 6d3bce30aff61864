// What a deployment engine reads besides the exit code: the lasting install
// record in the registry, the component logs' check lines, the reason of a
// broken package, per-controller outcomes, a --result file it can trust,
// the host's version, and a host that loads no DLL from its own folder.
#include "scenario.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

using namespace tzrtest;

namespace {

const wchar_t kRecordKey[] =
    L"SOFTWARE\\TZR\\NVMeBootController\\Packages\\Veyra KB118m Boot Controller Firmware";

std::wstring DemoFile(const std::wstring& name)
{
    return WindowsPath(Widen(TZR_SOURCE_DIR)) + L"\\demo\\package\\" + name;
}

void AddDemoPackage(const Scenario& s)
{
    s.CopyIn(DemoFile(L"kx012345.xml"), L"kx012345.xml");
    s.CopyIn(DemoFile(L"fw_2.4.10.bin"), L"fw_2.4.10.bin");
}

// The record's REG_SZ value, "<none>" without the value, "<no record>"
// without the key.
std::string RecordValue(const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no record>";
    wchar_t text[512] = L"";
    DWORD bytes = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "<none>";
    if (type == REG_DWORD) {
        DWORD value = 0;
        memcpy(&value, text, sizeof value);
        return std::to_string(value);
    }
    return Narrow(text);
}

class Fleet : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRecordKey); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRecordKey); }
};

}  // namespace

// The record follows the machine: not for a failed write, written by a
// write, kept while the controllers are as it says, gone when they change,
// and written again by a query that finds the package's version in place.
TEST_F(Fleet, InstallRecordFollowsTheMachine)
{
    const std::string model = "Veyra KB118m-p Mk3+ Boot Controller";
    const struct {
        const char* step;
        std::string controllers;  // the simulator's machine before the step; "" keeps it
        std::vector<std::wstring> args;
        DWORD exitCode;
        const char* result;
        std::string controller1;
        const char* restart;
    } steps[] = {
        {"failed write", Controller(1, "0x2f6", "2.4.9", "1.flash=fail\n"), {L"--install"}, 1603, "<no record>",
         "<no record>", "<no record>"},
        {"write", Controller(1, "0x2f6", "2.4.9"), {L"--install"}, 3010, "written", model + "|2.4.9|2.4.10", "1"},
        {"query, same machine", "", {L"--property", L"5"}, 0, "written", model + "|2.4.9|2.4.10", "1"},
        {"query, controller older", Controller(1, "0x2f6", "2.4.9"), {L"--property", L"5"}, 0, "<no record>",
         "<no record>", "<no record>"},
        {"query, version in place", Controller(1, "0x2f6", "2.4.10"), {L"--property", L"5"}, 0, "in place",
         model + "|2.4.10|2.4.10", "0"},
    };
    Scenario s("fleet_record");
    AddDemoPackage(s);
    // What a successful write leaves on the controller.
    const std::string image = "image_version=2.4.10\n";
    std::string time;
    for (const auto& step : steps) {
        if (!step.controllers.empty())
            s.AddSimulator(image + step.controllers);
        const HostResult r = s.Host(step.args);
        EXPECT_EQ(step.exitCode, r.exitCode) << step.step << "\n" << r.output;
        EXPECT_EQ(step.result, RecordValue(L"Result")) << step.step;
        EXPECT_EQ(step.controller1, RecordValue(L"Controller 1")) << step.step;
        EXPECT_EQ(step.restart, RecordValue(L"RestartNeeded")) << step.step;
        if (std::string(step.result) != "<no record>") {
            EXPECT_EQ("2.4.10", RecordValue(L"Version")) << step.step;
            EXPECT_TRUE(std::regex_match(RecordValue(L"Time"), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
        }
        // A query of an unchanged machine leaves the record as it was.
        if (std::string(step.step) == "query, same machine") {
            EXPECT_EQ(time, RecordValue(L"Time"));
        }
        time = RecordValue(L"Time");
    }
}

// A package without the vendor tool (none in its folder, none on PATH) is
// broken: state 7 with the tool and where it was looked for, exit 1603, the
// same reason in the main component log, and no "hardware present" claim.
TEST_F(Fleet, MissingVendorToolIsAFailureWithItsReason)
{
    Scenario s("fleet_no_tool");
    AddDemoPackage(s);
    const HostResult r = s.Host({L"--install", L"/verbose_log"}, {{L"PATH", L"C:\\windows\\system32"}});
    const std::string reason = "The vendor tool mnv_cli.exe is neither in the package folder C:\\tzr-e2e\\fleet_no_tool "
                               "nor in an absolute folder of PATH (the host's folder and the current directory are "
                               "not searched): nothing can be checked or installed";
    EXPECT_EQ(1603u, r.exitCode) << r.output;
    EXPECT_EQ(7u, r.State()) << r.output;
    EXPECT_NE(std::string::npos, r.PropertyLine(5).find("message \"" + reason + "\"")) << r.output;
    const std::string main = Scenario::ComponentLog();
    EXPECT_NE(std::string::npos, main.find(reason + "\r\n")) << main;
    EXPECT_NE(std::string::npos, main.find("    - Is hardware present...Unknown\r\n")) << main;
    EXPECT_NE(std::string::npos, main.find("    - Installed component version status...Unknown\r\n")) << main;
}

// The check lines say what the host hears, and an installation is framed by
// a start and an end line in both component logs.
TEST_F(Fleet, ComponentLogsAgreeWithTheHost)
{
    const struct {
        const char* name;
        std::string controllers;
        unsigned state;
        const char* present;
        const char* installed;
        const char* version;
        const char* end;  // the installation's last line, or nullptr when not installed
    } cases[] = {
        {"older", Controller(1, "0x2f6", "2.4.9"), 2, "Yes", "Yes", "Older",
         "Installation succeeded; a restart is needed."},
        {"same", Controller(1, "0x2f6", "2.4.10"), 1, "Yes", "Yes", "Same", nullptr},
        {"newer", Controller(1, "0x2f6", "9.9"), 3, "Yes", "Yes", "Newer", nullptr},
        {"none", "count=0\n", 6, "No", "No", "Unknown", nullptr},
        {"fails", Controller(1, "0x2f6", "2.4.9", "1.flash=fail\n"), 2, "Yes", "Yes", "Older", "Installation failed."},
    };
    for (const auto& c : cases) {
        Scenario s(std::string("fleet_logs_") + c.name);
        AddDemoPackage(s);
        s.AddSimulator(c.controllers);
        const HostResult r = s.Host({L"--install", L"/verbose_log"});
        EXPECT_EQ(c.state, r.State()) << c.name << "\n" << r.output;
        const std::string main = Scenario::ComponentLog();
        const std::string verbose = Scenario::ComponentVerboseLog();
        for (const std::string& line : {std::string("    - Is hardware present...") + c.present,
                                        std::string("    - Is component already installed...") + c.installed,
                                        std::string("    - Installed component version status...") + c.version}) {
            EXPECT_NE(std::string::npos, main.find(line + "\r\n")) << c.name << ": " << line << "\n" << main;
            EXPECT_NE(std::string::npos, verbose.find(line + "\r\n")) << c.name << ": " << line;
        }
        for (const std::string* log : {&main, &verbose}) {
            EXPECT_EQ(c.end != nullptr, log->find("Initiating installation... ") != std::string::npos) << c.name;
            if (c.end) {
                EXPECT_NE(std::string::npos, log->find(std::string(c.end) + "\r\n")) << c.name << "\n" << *log;
            }
        }
    }
}

// A partial write names each controller's outcome and owes the restart.
TEST_F(Fleet, PartialWriteReportsEachController)
{
    Scenario s("fleet_partial");
    AddDemoPackage(s);
    s.AddSimulator(Controller(1, "0x2f6", "2.4.9") +
                   Controller(2, "0x310", "1.10", "2.flash=fail\n2.flash_text=Image rejected: bad signature\n"));
    const HostResult r = s.Host({L"--install"});
    EXPECT_EQ(1603u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("controller 1  Veyra KB118m-p Mk3+ Boot Controller  2.4.9 -> 2.4.10  written\n"))
        << r.output;
    EXPECT_NE(std::string::npos, r.output.find("controller 2  Veyra KB118m-t Mk3+ Boot Controller  1.10 -> 1.10  "
                                               "failed  (Flashing controller 2 with image fw_2.4.10.bin | Image rejected: bad signature)\n"))
        << r.output;
    EXPECT_EQ("<no record>", RecordValue(L"Result"));
}

// A result file that cannot be written, or whose older copy cannot go, is
// exit 1622 before anything is installed; a writable one is replaced.
TEST_F(Fleet, ResultFileThatCannotBeHandedOverIs1622)
{
    enum Obstacle { kNone, kNoFolder, kTemporaryIsFolder, kHeldOpen };
    const struct {
        const char* name;
        Obstacle obstacle;
        DWORD exitCode;
        const char* says;
    } cases[] = {
        {"writable", kNone, 3010, "exit      3010"},
        {"no_folder", kNoFolder, 1622, "cannot write"},
        {"tmp_is_folder", kTemporaryIsFolder, 1622, "cannot write"},
        {"held_open", kHeldOpen, 1622, "cannot remove the older result file"},
    };
    for (const auto& c : cases) {
        Scenario s(std::string("fleet_result_") + c.name);
        AddDemoPackage(s);
        s.AddSimulator(Controller(1, "0x2f6", "2.4.9"));
        const std::wstring result = s.PathOf(c.obstacle == kNoFolder ? L"missing\\result.json" : L"result.json");
        const std::string older = "{\"exit\": 3010}\n";
        if (c.obstacle != kNoFolder)
            WriteFileBytes(result, older);
        if (c.obstacle == kTemporaryIsFolder)
            MakeDirs(result + L".tmp");
        HANDLE held = c.obstacle == kHeldOpen ? CreateFileW(result.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                            OPEN_EXISTING, 0, nullptr)
                                              : INVALID_HANDLE_VALUE;
        const HostResult r = s.Host({L"--install", L"--result", result});
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(c.exitCode, r.exitCode) << c.name << "\n" << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.says)) << c.name << "\n" << r.output;
        EXPECT_EQ(c.obstacle == kNone ? 1u : 0u, FlashCalls(s.SimulatorCalls()).size()) << c.name;
        const std::string left = ReadFileBytes(result);
        if (c.obstacle == kNone) {
            EXPECT_NE(std::string::npos, left.find("\"exit\": 3010, \"exit_meaning\"")) << left;
        } else if (c.obstacle == kTemporaryIsFolder) {
            EXPECT_FALSE(FileExists(result)) << c.name << ": the older result was left as this run's";
        }
    }
}

// The version is the resource's text, which says what the build is.
TEST(FleetHost, VersionIsTheResourcesText)
{
    const std::string env = ReadFileBytes(BuildDir() + L"\\release.env");
    std::smatch text;
    ASSERT_TRUE(std::regex_search(env, text, std::regex("TZR_VERSION_TEXT=([^\\r\\n]+)"))) << env;
    Scenario s("fleet_version");
    EXPECT_EQ("tzrhost " + text[1].str() + "\n", s.Host({L"--version"}).output);
}

// A DLL planted beside the host is never loaded, whatever the host does.
TEST(FleetHost, LoadsNoDllFromItsOwnFolder)
{
    Scenario s("fleet_planted");
    AddDemoPackage(s);
    s.AddSimulator(Controller(1, "0x2f6", "2.4.10"));
    const std::wstring folder = L"C:\\tzr-e2e\\fleet_planted_host";
    RemoveTree(folder);
    MakeDirs(folder);
    CopyFileW(BuildFile(L"tools\\host\\tzrhost.exe").c_str(), (folder + L"\\tzrhost.exe").c_str(), FALSE);
    for (const wchar_t* name : {L"shcore.dll", L"shell32.dll", L"ole32.dll", L"combase.dll", L"version.dll"})
        CopyFileW(BuildFile(L"tests\\e2e\\test_plugin.dll").c_str(), (folder + L"\\" + name).c_str(), FALSE);
    const std::wstring marker = folder + L"\\loaded.txt";
    const HostResult r = s.HostFrom(folder + L"\\tzrhost.exe", {L"--sta", L"--install", L"--json"},
                                    {{L"TZR_TEST_DLL_MARKER", marker}});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("", ReadFileBytes(marker));
    RemoveTree(folder);
}

// A plug-in that crashes still yields the report and the result file.
TEST(FleetHost, CrashingPluginIsReportedAsAFailure)
{
    Scenario s("fleet_crash");
    DeleteFileW(s.PathOf(L"setup.dll").c_str());
    s.CopyIn(BuildFile(L"tests\\e2e\\test_plugin.dll"), L"setup.dll");
    const HostResult r = s.Host({L"--result", s.PathOf(L"result.json")}, {{L"TZR_TEST_PLUGIN", L"crash"}});
    EXPECT_EQ(1603u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("the plug-in crashed: exception code 0xC0000005")) << r.output;
    const std::string result = ReadFileBytes(s.PathOf(L"result.json"));
    EXPECT_NE(std::string::npos, result.find("\"exit\": 1603")) << result;
}
