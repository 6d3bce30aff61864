// What a deployment engine meets when it runs the host on many servers:
// Windows Installer's exit codes, a rerun that leaves an installed package
// alone, and one header line per run in both component logs.
#include "driver_fixtures.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace tzrtest;

namespace {

std::wstring DemoFile(const std::wstring& name, const std::wstring& package = L"package")
{
    return WindowsPath(Widen(TZR_SOURCE_DIR)) + L"\\demo\\" + package + L"\\" + name;
}

// The demo firmware package (package definition 2.4.10 and its image) with
// the simulator as its machine: the demo's four controllers unless others
// are given.
void AddDemoFirmware(const Scenario& s, const std::string& controllers = "")
{
    s.CopyIn(DemoFile(L"kx012345.xml"), L"kx012345.xml");
    s.CopyIn(DemoFile(L"fw_2.4.10.bin"), L"fw_2.4.10.bin");
    s.AddSimulator(controllers.empty() ? ReadFileBytes(DemoFile(L"mnv_sim.ini")) : controllers);
}

size_t FlashCount(const Scenario& s)
{
    size_t flashes = 0;
    for (const std::string& call : s.SimulatorCalls())
        flashes += call.find(" flash ") != std::string::npos;
    return flashes;
}

const char kOneUpgrade[] = "1.svid=0x1590\n1.sdid=0x2f6\n1.fw=2.4.9\n";
const char kSameVersion[] = "1.svid=0x1590\n1.sdid=0x2f6\n1.fw=2.4.10\n";
const char kNewerInstalled[] = "1.svid=0x1590\n1.sdid=0x2f6\n1.fw=9.9\n";

}  // namespace

// Each row through the real host and a real package; "installed, no restart
// needed" from the demo driver package below, as the firmware always asks
// for a restart. Another installation running (1618) needs the flash
// engine's lock and is tested with it.
TEST(Deploy, ExitCodesADeploymentEngineKnows)
{
    enum Plugin { kPlugin, kNoPlugin, kNoExports };
    const struct {
        const char* name;
        std::string controllers;
        std::vector<std::wstring> args;
        DWORD exitCode;
        size_t flashes;
        const char* says;  // in the host's output
        Plugin plugin;
        const char* packageDefinition;  // instead of the demo's
    } cases[] = {
        {"upgrade", kOneUpgrade, {L"--install"}, 3010, 1, "exit      3010 (success, a restart is needed)", kPlugin, nullptr},
        {"same_version", kSameVersion, {L"--install"}, 0, 0,
         "install   not called: the same version is installed: nothing to do", kPlugin, nullptr},
        {"newer_installed", kNewerInstalled, {L"--install"}, 1638, 0,
         "install   not called: a newer version is installed: a downgrade needs --force", kPlugin, nullptr},
        {"newer_installed_forced", kNewerInstalled, {L"--install", L"--force"}, 3010, 1, "install   result 2",
         kPlugin, nullptr},
        {"flash_fails", std::string(kOneUpgrade) + "1.flash=fail\n", {L"--install"}, 1603, 1,
         "install   result 0 (failure)", kPlugin, nullptr},
        {"no_hardware", "count=0\n", {L"--install"}, 0x80240017, 0,
         "install   not called: not applicable: this machine has no hardware the package supports", kPlugin, nullptr},
        {"cannot_install", kOneUpgrade, {L"--install"}, 1603, 0,
         "install   not called: cannot be installed: a prerequisite failed", kPlugin, "<tzr_package>"},
        {"no_plugin", kOneUpgrade, {L"--install"}, 1619, 0, "cannot load", kNoPlugin, nullptr},
        {"no_exports", kOneUpgrade, {L"--install"}, 1619, 0, "lacks an export", kNoExports, nullptr},
        {"unknown_option", kOneUpgrade, {L"--isntall"}, 1639, 0, "unknown option --isntall", kPlugin, nullptr},
        {"missing_value", kOneUpgrade, {L"--install", L"--result"}, 1639, 0, "--result needs a value", kPlugin,
         nullptr},
    };
    for (const auto& c : cases) {
        Scenario s(std::string("deploy_exit_") + c.name);
        AddDemoFirmware(s, c.controllers);
        if (c.packageDefinition)
            s.AddFile(L"kx012345.xml", c.packageDefinition);
        if (c.plugin != kPlugin)
            DeleteFileW(s.PathOf(L"setup.dll").c_str());
        if (c.plugin == kNoExports)
            s.CopyIn(BuildFile(L"tools\\mnv-sim\\mnv_sim.exe"), L"setup.dll");
        const HostResult r = s.Host(c.args);
        EXPECT_EQ(c.exitCode, r.exitCode) << c.name << "\n" << r.output;
        EXPECT_EQ(c.flashes, FlashCount(s)) << c.name;
        EXPECT_NE(std::string::npos, r.output.find(c.says)) << c.name << "\n" << r.output;
    }
}

// A deployment engine reruns on schedule: the second run finds the package
// in place and neither flashes nor asks for a restart; --force flashes.
TEST(Deploy, RerunAfterASuccessfulInstallFlashesNothing)
{
    Scenario s("deploy_rerun");
    AddDemoFirmware(s);
    const HostResult first = s.Host({L"--install"});
    EXPECT_EQ(3010u, first.exitCode) << first.output;
    EXPECT_EQ(2u, first.State());
    const size_t flashed = FlashCount(s);
    EXPECT_EQ(3u, flashed);  // two upgrades and a rewrite; the fourth model is not supported

    const HostResult second = s.Host({L"--install"});
    EXPECT_EQ(0u, second.exitCode) << second.output;
    EXPECT_EQ(1u, second.State());
    EXPECT_EQ("install   not called: the same version is installed: nothing to do", second.InstallLine());
    EXPECT_EQ(flashed, FlashCount(s));

    const HostResult forced = s.Host({L"--install", L"--force"});
    EXPECT_EQ(3010u, forced.exitCode) << forced.output;
    EXPECT_EQ(2 * flashed, FlashCount(s));
}

// Runs that share the log files are told apart by a header line at the
// start of each: UTC time, process, package folder, plug-in version and the
// command line. The lines that follow stay as they were.
TEST(Deploy, EveryRunStartsBothLogsWithItsHeaderLine)
{
    Scenario s("deploy_header");
    AddDemoFirmware(s, kSameVersion);
    s.Host({L"/verbose_log", L"--property", L"1"});
    s.Host({L"/verbose_log", L"--property", L"1"});
    const std::regex header(R"(Run \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC, process \d+, package C:\\tzr-e2e\\deploy_header, )"
                            R"(plug-in version \d+\.\d+\.\d+\.\d+, command line: .*tzrhost\.exe.* /verbose_log --property 1)");
    const std::vector<std::string> main = SplitCrLf(Scenario::ComponentLog());
    ASSERT_FALSE(main.empty());
    EXPECT_TRUE(std::regex_match(main.front(), header)) << main.front();
    EXPECT_EQ(2, std::count_if(main.begin(), main.end(), [&](const std::string& l) { return std::regex_match(l, header); }));

    const std::vector<std::string> verbose = VerboseEntries("basecomp");
    std::vector<size_t> headers;
    for (size_t i = 0; i < verbose.size(); ++i)
        if (std::regex_match(verbose[i], header))
            headers.push_back(i);
    ASSERT_EQ(2u, headers.size());
    EXPECT_EQ(0u, headers[0]);
    for (size_t at : headers)
        EXPECT_EQ("Initializing installer DLL", verbose[at + 1]);
}

class DeployDriver : public MachineTest {};

TEST_F(DeployDriver, DemoDriverPackageInstallsWithoutARestart)
{
    Leftovers leftovers({L"TzrDemoDriver"}, {L"Software\\TzrDemoDriver"},
                        {SystemRoot() + L"\\system32\\drivers\\tzrdemo.sys"});
    Scenario s("deploy_demo_driver");
    s.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
    for (const wchar_t* name : {L"install.xml", L"kxdemodriver.xml", L"tzrdemo.inf", L"tzrdemo.sys"})
        s.CopyIn(DemoFile(name, L"driver-package"), name);
    const HostResult r = s.Host({L"--install"});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine()) << r.output;
    EXPECT_TRUE(ServiceExists(L"TzrDemoDriver"));
}
