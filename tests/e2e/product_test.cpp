// The product's whole road with a package definition: install states from
// package and controller versions, flashing with the tool, discovery report.
#include "install_state_record.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace tzrtest;

namespace {

// The process log's lines without their UTC stamps, from the first one
// equal to from, up to and including the first later one equal to to.
std::vector<std::string> LogBetween(const std::string& from, const std::string& to)
{
    std::vector<std::string> lines;
    for (const std::string& line : SplitCrLf(Scenario::ProcessLog()))
        lines.push_back(HasUtcStamp(line) ? StripUtcStamp(line) : line);
    const auto begin = std::find(lines.begin(), lines.end(), from);
    if (begin == lines.end())
        return {};
    const auto end = std::find(begin, lines.end(), to);
    return std::vector<std::string>(begin, end == lines.end() ? end : end + 1);
}

}  // namespace

TEST(Product, InstallStateFollowsThePackageVersion)
{
    struct Case {
        const char* name;
        std::string controllers;
        unsigned state;
    } cases[] = {
        // 2.4.9 and 1.10 are older than 2.4.10 only when parts compare by value.
        {"two_upgrades", Controller(1, "0x2f6", "2.4.9") + Controller(2, "0x310", "1.10"), kStateOlderInstalled},
        {"one_up_two_down",
         Controller(1, "0x2f6", "2.4.9") + Controller(2, "0x310", "2.5") + Controller(3, "0x30e", "10.0"), kStateNewerInstalled},
        {"rewrites", Controller(1, "0x2f6", "2.4.10") + Controller(2, "0x380", "2.4.10"), kStateSameVersion},
    };
    for (const Case& c : cases) {
        Scenario s(std::string("product_state_") + c.name);
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator(c.controllers);
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_EQ(c.state, r.State()) << c.name << "\n" << r.output;
    }
}

TEST(Product, InstallFlashesEveryMarkedControllerInOrder)
{
    Scenario s("product_flash");
    s.AddFile(L"kx012345.xml", Package("2.4.10"));
    s.AddFile(L"fw.bin", "image");
    s.AddSimulator(Controller(1, "0x2f6", "2.4.9") + Controller(2, "0x310", "2.4.10", "2.flash=upper\n"));
    const HostResult r =
        s.Host({L"--property", L"5", L"--property", L"3", L"--install", L"--install-text", L"Host: "});
    EXPECT_EQ("install   result 2 (success, restart needed)  message \"Host: Installation completed successfully.\\r\\n\"",
              r.InstallLine())
        << r.output;
    EXPECT_EQ(3010u, r.exitCode);
    EXPECT_NE(std::string::npos,
              r.PropertyLine(3).find("\"\\r\\n\\r\\nVeyra KB118m-p Mk3+ Boot Controller: 2.4.9\\n\\r\\nVeyra KB118m-t "
                                     "Mk3+ Boot Controller: 2.4.10\\n\""))
        << r.output;
    const std::vector<std::string> expected = {"mnv_cli.exe 1 flash -o hba -f fw.bin -c 1 -s 1",
                                               "mnv_cli.exe 2 flash -o hba -f fw.bin -c 1 -s 1"};
    EXPECT_EQ(expected, FlashCalls(s.SimulatorCalls()));
    const std::vector<std::string> log = {
        "FlashComponent::Installation initiated.",
        "Attempting for firmware installation...",
        "FW binary file: fw.bin",
        // What is written is decided on the machine as it is now.
        "Device Inventory before writing...",
        "Fetching Boot Controller Devices information...",
        "Command: mnv_cli.exe adapter --list ",
        "readKeyFilesFromKXXML: kx012345.xml",
        "Querying Boot Controller Device information ID: 1",
        "getModelName with subdeviceid: 0x2f6",
        "Model name found for the subdeviceid is: Veyra KB118m-p Mk3+ Boot Controller",
        "Querying Boot Controller Device information ID: 2",
        "getModelName with subdeviceid: 0x310",
        "Model name found for the subdeviceid is: Veyra KB118m-t Mk3+ Boot Controller",
        // sha256("image")
        "FW binary file SHA-256: 6105d6cc76af400325e94d588ce511be5bfdbb73b437dc51eca43917d7a43e3d",
        "Executing cmd: mnv_cli.exe 1 flash -o hba -f fw.bin -c 1 -s 1",
        "FW flash successful on Controller ID: 1",
        "Controller 1 (Veyra KB118m-p Mk3+ Boot Controller, firmware 2.4.9): image fw.bin: success",
        "Executing cmd: mnv_cli.exe 2 flash -o hba -f fw.bin -c 1 -s 1",
        "FW flash successful on Controller ID: 2",
        "Controller 2 (Veyra KB118m-t Mk3+ Boot Controller, firmware 2.4.10): image fw.bin: success",
        // The package definition names no package: no record to key.
        "Install record not written: the package has no name or no controller was written",
        "FlashComponent::Installation completed.",
    };
    // The same record per controller in the component's main log.
    EXPECT_NE(std::string::npos,
              Scenario::ComponentLog().find("Controller 2 (Veyra KB118m-t Mk3+ Boot Controller, firmware 2.4.10): "
                                            "image fw.bin: success\r\n"));
    EXPECT_EQ(log, LogBetween(log.front(), log.back()));
}

// A folder named outside the ANSI code page (Cyrillic, and a character
// beyond the BMP) finds the same package and image as a plain one; a host
// text that fills most of the message buffer still gets the result line.
TEST(Product, FolderNamesAndALongHostTextFlashAlike)
{
    const std::wstring hostText(4095, L'h');
    // "Прошивка" and U+1F600, as UTF-8.
    const std::string foreign = "product_\xD0\x9F\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0\xB0_\xF0\x9F\x98\x80";
    for (const std::string& folder : {std::string("product_flash_plain"), foreign}) {
        Scenario s(folder);
        s.AddFile(L"kx012345.xml", Package("2.4.10"));
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator(Controller(1, "0x2f6", "2.4.9"));
        const HostResult r = s.Host({L"--property", L"5", L"--install", L"--install-text", hostText});
        EXPECT_EQ(kStateOlderInstalled, r.State()) << folder << "\n" << r.PropertyLine(5);
        // Compared whole, shown by its head: the host's text is long.
        const std::string expected = "install   result 2 (success, restart needed)  message \"" + Narrow(hostText) +
                                     "Installation completed successfully.\\r\\n\"";
        EXPECT_TRUE(expected == r.InstallLine()) << folder << ": " << r.InstallLine().substr(0, 80);
        EXPECT_EQ(std::vector<std::string>{"mnv_cli.exe 1 flash -o hba -f fw.bin -c 1 -s 1"},
                  FlashCalls(s.SimulatorCalls()))
            << folder;
    }
}

TEST(Product, FlashOutcomes)
{
    struct Case {
        const char* name;
        std::string controllers;
        const char* image;
        unsigned result;
        const char* logLine;  // in the process log
    } cases[] = {
        {"unconfirmed", Controller(1, "0x2f6", "1.0") + Controller(2, "0x310", "1.0", "2.flash=fail\n"), "fw.bin",
         0, "FW flash failed on Controller ID: 2"},
        {"stderr", Controller(1, "0x2f6", "1.0", "1.flash=stderr\n"), "fw.bin", 2,
         "FW flash successful on Controller ID: 1"},
        {"inside_a_line", Controller(1, "0x2f6", "1.0", "1.flash_text=xx Flash NVMe Controller firmware success yy\n1.flash=fail\n"),
         "fw.bin", 2, "FW flash successful on Controller ID: 1"},
        {"crash", Controller(1, "0x2f6", "1.0", "1.flash=crash\n"), "fw.bin", 0,
         "FW flash failed on Controller ID: 1"},
        {"blank_in_image", Controller(1, "0x2f6", "1.0"), "fw 2.bin", 2,
         "Executing cmd: mnv_cli.exe 1 flash -o hba -f \"fw 2.bin\" -c 1 -s 1"},
    };
    for (const Case& c : cases) {
        Scenario s(std::string("product_outcome_") + c.name);
        s.AddFile(L"kx012345.xml", Package("2.0"));
        s.AddFile(Widen(c.image), "image");
        s.AddSimulator(c.controllers);
        const HostResult r = s.Host({L"--property", L"5", L"--install"});
        EXPECT_NE(std::string::npos, r.InstallLine().find("result " + std::to_string(c.result))) << c.name << "\n"
                                                                                               << r.output;
        EXPECT_EQ(std::vector<std::string>{c.logLine}, LogBetween(c.logLine, c.logLine)) << c.name;
    }
}

TEST(Product, InstallBeforeTheInstallStateRunsNoTool)
{
    Scenario s("product_install_first");
    s.AddFile(L"kx012345.xml", Package("2.0"));
    s.AddSimulator(Controller(1, "0x2f6", "1.0"));
    const HostResult r = s.Host({L"--property", L"6", L"--install", L"--force"});
    EXPECT_EQ("install   result 0 (failure)  message \"Error\\r\\n\"", r.InstallLine()) << r.output;
    EXPECT_TRUE(s.SimulatorCalls().empty());
}

TEST(Product, DiscoveryWritesTheExactReportAndFlashesNothing)
{
    Scenario s("product_discovery");
    s.AddFile(L"kx012345.xml", Package("2.2", "Boot FW &amp; &lt;Tools&gt; \"X\""));
    s.AddFile(L"fw.bin", "image");
    s.AddSimulator(Controller(1, "0x30e", "2.1"));
    const std::wstring report = s.PathOf(L"disc.xml");
    // The report makes the state "same version": Install only with --force.
    const HostResult r = s.Host({L"--property", L"5", L"--install", L"--force", L"-d", report});
    EXPECT_EQ("install   result 3 (discovery report written)  message \"Discovery Successful\\r\\n\"", r.InstallLine())
        << r.output;
    EXPECT_EQ(kStateSameVersion, r.State());
    EXPECT_TRUE(FlashCalls(s.SimulatorCalls()).empty());
    const std::string expected =
        "<qx_rom_discovery version=\"2.0.2.0\">\r\n"
        "\t<type value=\"firmware:sd:\" />\r\n"
        "\t<alt_name value=\"Boot FW &amp; &lt;Tools&gt; &quot;X&quot;\" />\r\n"
        "\t<version value=\"2.2\" />\r\n"
        "\t<takes_effect value=\"deferred\" />\r\n"
        "\t<devices>\r\n"
        "\t\t<device id=\"1\">\r\n"
        "\t\t\t<controller_id value=\"1\"/>\r\n"
        "\t\t\t<product_id value=\"030E1590\" />\r\n"
        "\t\t\t<fw_item>\r\n"
        "\t\t\t\t<type value=\"firmware\" />\r\n"
        "\t\t\t\t<firmware_id value=\"\" />\r\n"
        "\t\t\t\t<takes_effect value=\"deferred\" />\r\n"
        "\t\t\t\t<version value=\"2.2\" />\r\n"
        "\t\t\t\t<active_version value=\"2.1\" />\r\n"
        "\t\t\t\t<action value=\"upgrade\" />\r\n"
        "\t\t\t\t<duration value=\"6\" />\r\n"
        "\t\t\t\t<shared value=\"no\" />\r\n"
        "\t\t\t</fw_item>\r\n"
        "\t\t</device>\r\n"
        "\t</devices>\r\n"
        "</qx_rom_discovery>\r\n";
    EXPECT_EQ(expected, ReadFileBytes(report));
}

TEST(Product, DiscoveryDefaultPathEmptyDevicesAndAppending)
{
    Scenario s("product_discovery_default");
    s.AddFile(L"kx012345.xml", Package("2.2"));
    s.AddSimulator("count=0\n");
    const std::wstring report = Scenario::LogFolder() + L"\\kx012345_disc.xml";
    DeleteFileW(report.c_str());
    const std::string empty = "<qx_rom_discovery version=\"2.0.2.0\">\r\n"
                              "\t<type value=\"firmware:sd:\" />\r\n"
                              "\t<alt_name value=\"Veyra Boot FW\" />\r\n"
                              "\t<version value=\"2.2\" />\r\n"
                              "\t<takes_effect value=\"deferred\" />\r\n"
                              "\t<devices>\r\n"
                              "\t</devices>\r\n"
                              "</qx_rom_discovery>\r\n";
    s.Host({L"--property", L"5", L"-d"});
    EXPECT_EQ(empty, ReadFileBytes(report));
    s.Host({L"--property", L"5", L"-d"});
    EXPECT_EQ(empty + empty, ReadFileBytes(report));
    DeleteFileW(report.c_str());
}

TEST(Product, RepeatedDiscoveryListsEachControllerOnce)
{
    Scenario s("product_discovery_twice");
    s.AddFile(L"kx012345.xml", Package("2.2"));
    s.AddSimulator(Controller(1, "0x2f6", "2.2"));
    const std::wstring report = s.PathOf(L"twice.xml");
    s.Host({L"--property", L"5", L"--property", L"5", L"-d", report});
    const std::string text = ReadFileBytes(report);
    size_t devices = 0;
    for (size_t at = text.find("<device id="); at != std::string::npos; at = text.find("<device id=", at + 1))
        ++devices;
    EXPECT_EQ(2u, devices);  // two reports, one device each
    EXPECT_NE(std::string::npos, text.find("<action value=\"rewrite\" />"));
}

TEST(Product, UnwritableDiscoveryReportIsAnError)
{
    Scenario s("product_discovery_unwritable");
    s.AddFile(L"kx012345.xml", Package("2.2"));
    s.AddSimulator(Controller(1, "0x2f6", "2.2"));
    const HostResult r =
        s.Host({L"--property", L"5", L"--install", L"--force", L"-d", L"C:\\no\\such\\folder\\d.xml"});
    EXPECT_EQ("install   result 0 (failure)  message \"Error\\r\\n\"", r.InstallLine()) << r.output;
    EXPECT_NE(std::string::npos, Scenario::ProcessLog().find("Discovery file cannot be opened: C:\\no\\such\\folder\\d.xml"));
}

TEST(Product, PackageDefinitionThatDoesNotParseGivesNoPackageVersion)
{
    // A package whose version cannot be read flashes nothing: the state says
    // it cannot be installed, and Install runs no flash command.
    std::string tenMegabytes = "<tzr_package>\n";
    while (tenMegabytes.size() < 10u * 1024 * 1024)
        tenMegabytes += "<pad note=\"filler &amp; more\">0123456789abcdef0123456789abcdef</pad>\n";
    tenMegabytes += "<version value=\"2.0\"/></tzr_package>\n";
    const std::string good = Package("2.0");
    struct Case {
        const char* name;
        std::string bytes;
        unsigned state;
        bool parseFails;
    } cases[] = {
        {"well_formed", good, kStateOlderInstalled, false},
        {"empty", "", kStateCannotInstall, true},
        {"malformed", "<tzr_package><version value=\"2.0\"/></tzr_pack>", kStateCannotInstall, true},
        {"truncated", good.substr(0, good.size() / 2), kStateCannotInstall, true},
        {"nul_bytes", std::string("<tzr_package>\0\0<version value=\"2.0\"/></tzr_package>", 50), kStateCannotInstall, true},
        {"utf16_declared", Utf16LeFile("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + good), kStateOlderInstalled, false},
        {"utf16_by_byte_order_mark", Utf16LeFile(good), kStateOlderInstalled, false},
        {"utf16_declared_as_utf8", Utf16LeFile("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + good), kStateCannotInstall, true},
        {"version_without_value", "<tzr_package><version/></tzr_package>", kStateCannotInstall, false},
        {"ten_megabytes", tenMegabytes, kStateOlderInstalled, false},
    };
    for (const Case& c : cases) {
        Scenario s(std::string("product_package_") + c.name);
        s.AddFile(L"kx012345.xml", c.bytes);
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator(Controller(1, "0x2f6", "1.0"));
        // --force: the plug-in's own answer to Install in every state.
        const HostResult r = s.Host({L"--property", L"5", L"--install", L"--force"});
        EXPECT_EQ(c.state, r.State()) << c.name << "\n" << r.output;
        const bool known = c.state != kStateCannotInstall;
        EXPECT_EQ(known ? 1u : 0u, FlashCalls(s.SimulatorCalls()).size()) << c.name;
        if (!known) {
            EXPECT_EQ("install   result 0 (failure)  message \"Error\\r\\n\"", r.InstallLine()) << c.name;
            EXPECT_NE(std::string::npos,
                      Scenario::ProcessLog().find("Package version unknown: no controller is marked for flashing"))
                << c.name;
        }
        // The framework finds no package definition in a file that does not
        // parse, and the engine reads the one the framework found.
        EXPECT_EQ(c.parseFails, Scenario::ProcessLog().find("No package definition (kx*.xml with root tzr_package) "
                                                            "found") != std::string::npos)
            << c.name;
    }
}

TEST(Product, DiscoveryActionAndAlternativeName)
{
    struct Case {
        const char* name;
        std::string package;
        std::string altNameValue;  // in the report
        const char* altNameLog;
    } cases[] = {
        {"with_alt_name", Package("2.2", "Veyra Boot FW"), "Veyra Boot FW", "alt_name_xlate element found? : 1"},
        {"without_alt_name", "<tzr_package><version value=\"2.2\"/></tzr_package>", "",
         "alt_name_xlate element found? : 0"},
    };
    for (const Case& c : cases) {
        Scenario s(std::string("product_discovery_") + c.name);
        s.AddFile(L"kx012345.xml", c.package);
        // 2.10 is newer than 2.2 once parts compare by value.
        s.AddSimulator(Controller(1, "0x2f6", "2.1") + Controller(2, "0x310", "2.2") + Controller(3, "0x30e", "2.10"));
        const std::wstring report = s.PathOf(L"actions.xml");
        s.Host({L"--property", L"5", L"-d", report});
        const std::string text = ReadFileBytes(report);
        std::vector<std::string> actions;
        for (size_t at = text.find("<action value=\""); at != std::string::npos;
             at = text.find("<action value=\"", at + 1))
            actions.push_back(text.substr(at + 15, text.find('"', at + 15) - at - 15));
        EXPECT_EQ((std::vector<std::string>{"upgrade", "rewrite", "downgrade"}), actions) << c.name;
        EXPECT_NE(std::string::npos, text.find("\t<alt_name value=\"" + c.altNameValue + "\" />\r\n")) << c.name;
        EXPECT_EQ(std::vector<std::string>{c.altNameLog}, LogBetween(c.altNameLog, c.altNameLog)) << c.name;
    }
}

// Without an image there is nothing to flash: the package is not offered,
// and an Install forced on it asks no tool to flash an empty name, whatever
// it would answer.
TEST(Product, InstallWithoutAnImageFlashesNothing)
{
    Scenario s("product_no_image");
    s.AddFile(L"kx012345.xml", Package("2.0"));
    s.AddSimulator(Controller(1, "0x2f6", "1.0"));
    const HostResult r = s.Host({L"--property", L"5", L"--install", L"--force"});
    EXPECT_EQ(kStateCannotInstall, r.State()) << r.output;
    EXPECT_NE(std::string::npos,
              r.PropertyLine(5).find("No firmware image (.bin) found in the package folder; nothing is flashed"))
        << r.output;
    EXPECT_EQ("install   result 0 (failure)  message \"Error\\r\\n\"", r.InstallLine()) << r.output;
    EXPECT_TRUE(FlashCalls(s.SimulatorCalls()).empty());
    const std::vector<std::string> log = {
        "Attempting for firmware installation...",
        "FW binary file: ",
        "No firmware image (.bin) found in the package folder; nothing is flashed",
        "FlashComponent::Installation completed.",
    };
    EXPECT_EQ(log, LogBetween(log.front(), log.back()));
}

// A tool of the same name in the host's own folder comes first in Windows'
// search; the engine starts the package's copy by its full path, with the
// same command lines, and never the one beside the host.
TEST(Product, ThePackagesOwnToolIsStarted)
{
    const std::wstring hostFolder = L"C:\\tzr-e2e\\host_with_tool";
    RemoveTree(hostFolder);
    MakeDirs(hostFolder);
    const std::wstring host = hostFolder + L"\\tzrhost.exe";
    ASSERT_TRUE(CopyFileW(BuildFile(L"tools\\host\\tzrhost.exe").c_str(), host.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BuildFile(L"tools\\mnv-sim\\mnv_sim.exe").c_str(), (hostFolder + L"\\mnv_cli.exe").c_str(),
                          FALSE));
    WriteFileBytes(hostFolder + L"\\mnv_sim.ini", Controller(1, "0x310", "9.9") + Controller(2, "0x310", "9.9"));
    const std::wstring hostCalls = hostFolder + L"\\mnv_sim.calls.log";

    Scenario own("product_own_tool");
    own.AddFile(L"kx012345.xml", Package("2.0"));
    own.AddFile(L"fw.bin", "image");
    own.AddSimulator(Controller(1, "0x2f6", "1.0"));
    const HostResult r = own.HostFrom(host, {L"--property", L"5", L"--install"});
    EXPECT_EQ(kStateOlderInstalled, r.State()) << r.output;
    EXPECT_NE(std::string::npos, r.InstallLine().find("result 2")) << r.output;
    // The inventory of the install state, again before the write, then the write.
    const std::vector<std::string> calls = {"mnv_cli.exe adapter --list", "mnv_cli.exe 1 info -o hba",
                                            "mnv_cli.exe adapter --list", "mnv_cli.exe 1 info -o hba",
                                            "mnv_cli.exe 1 flash -o hba -f fw.bin -c 1 -s 1"};
    EXPECT_EQ(calls, own.SimulatorCalls());
    EXPECT_EQ("", ReadFileBytes(hostCalls));
    const std::vector<std::string> log = {"Command: mnv_cli.exe adapter --list ",
                                          "Vendor tool: " + Narrow(own.PathOf(L"mnv_cli.exe")),
                                          "readKeyFilesFromKXXML: kx012345.xml",
                                          "Querying Boot Controller Device information ID: 1"};
    EXPECT_EQ(log, LogBetween(log.front(), log.back()));

    // Without a copy in the package folder the one beside the host still
    // never runs: only PATH is searched, without the host's folder. The
    // package is then broken, not "nothing here".
    Scenario none("product_no_own_tool");
    none.AddFile(L"kx012345.xml", Package("2.0"));
    const HostResult searched = none.HostFrom(host, {L"--property", L"5"});
    EXPECT_EQ(kStateCannotInstall, searched.State()) << searched.output;
    EXPECT_EQ("", ReadFileBytes(hostCalls));
    RemoveTree(hostFolder);
}

namespace {

// The install-state check lines of the component's verbose log, in order,
// without their headers.
std::vector<std::string> CheckLines()
{
    std::vector<std::string> lines;
    static const std::regex check(R"(^    - ((?:Is|Installed|Checking) .*)$)");
    for (const std::string& entry : VerboseEntries("basecomp")) {
        std::smatch m;
        if (std::regex_match(entry, m, check))
            lines.push_back(m[1]);
    }
    return lines;
}

std::string MessageOf(const HostResult& r)
{
    const std::string line = r.PropertyLine(5);
    const size_t at = line.find("  message ");
    return at == std::string::npos ? std::string("<none>") : line.substr(at + 10);
}

}  // namespace

TEST(Product, EveryInstallStateQueryRunsTheBaseChecksFirst)
{
    Scenario s("product_base_checks");
    s.AddFile(L"kx012345.xml", Package("2.4.10"));
    s.AddFile(L"fw.bin", "image");
    s.AddSimulator(Controller(1, "0x2f6", "2.4.9"));
    const HostResult r = s.Host({L"--property", L"5", L"--property", L"5", L"/verbose_log"});
    // The lines say what the engine found, as the state the host gets: an
    // older version installed, and the same again, as the second query gets
    // the first one's answer.
    const std::vector<std::string> once = {
        "Is operating system supported...Yes",  "Is necessary disk space available...Yes",
        "Is hardware present...Yes",            "Is component already installed...Yes",
        "Is component marked for removal...No", "Installed component version status...Older",
        "Checking dependency list...Done.",
    };
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(twice, CheckLines()) << Scenario::ComponentVerboseLog();
    // The engine's code, the base's (empty) message; the second query gets
    // the answer the check sequence gave, without running it again.
    const size_t first = r.output.find("[5] install state    result 1  state 2 (");
    ASSERT_NE(std::string::npos, first) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("[5] install state    result 1  state 2 (", first + 1)) << r.output;
    EXPECT_EQ("\"\"", MessageOf(r)) << r.output;
}

TEST(Product, UnsupportedOsMessageStaysUnderTheEnginesCode)
{
    // Only Windows Server 2003 (5.2) is supported; Wine reports a later version.
    const std::string package =
        "<tzr_package><version value=\"2.4.10\"/><prerequisites><supported_operating_systems>"
        "<supported_operating_system platform=\"nt_x86-64\" major=\"5\" minor=\"2\"/>"
        "</supported_operating_systems></prerequisites></tzr_package>";
    struct Case {
        const wchar_t* language;
        const char* message;
    } cases[] = {
        {L"en", "\"The OS is not supported.\\r\\n\""},
        {L"fr", "\"Le syst\xc3\xa8me d'exploitation n'est pas pris en charge\\r\\n\""},
    };
    for (const Case& k : cases) {
        Scenario s("product_os_" + Narrow(k.language));
        s.AddFile(L"kx012345.xml", package);
        s.AddFile(L"fw.bin", "image");
        s.AddSimulator(Controller(1, "0x2f6", "2.4.9") + Controller(2, "0x310", "1.10"));
        const HostResult r = s.Host({L"--property", L"5", L"--lang", k.language, L"/verbose_log"});
        EXPECT_EQ(2u, r.State()) << r.output;
        EXPECT_EQ(k.message, MessageOf(r)) << r.output;
        EXPECT_EQ(std::vector<std::string>{"Is operating system supported...No"}, CheckLines());
        // The base check's line lands in the main log too.
        EXPECT_NE(std::string::npos, Scenario::ComponentLog().find("    - Is operating system supported...No\r\n"));
    }
}
