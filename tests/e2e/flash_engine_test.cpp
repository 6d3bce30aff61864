// The flash engine as the host sees it: the install state and the current
// version from a real inventory by the simulated vendor tool, the options
// read from the host's own command line, and the process log on disk.
//
// Packages that list controllers carry a package definition of version 1.0
// (without one nothing is marked; the product scenarios cover that and the
// upgrades).
#include "scenario.h"

#include <gtest/gtest.h>

using namespace tzrtest;

namespace {

const char kModelP[] = "Veyra KB118m-p Mk3+ Boot Controller";  // 0x2f6
const char kModelT[] = "Veyra KB118m-t Mk3+ Boot Controller";  // 0x310
const char kModelD[] = "Veyra KB118m-d Mk3+ Boot Controller";  // 0x30e

// The process log's lines without their UTC stamps. Every line has one,
// except the continuation lines of the multi-line version text, which only
// a run that lists controllers writes (multiLine).
std::vector<std::string> EngineLog(bool multiLine = false)
{
    std::vector<std::string> lines;
    for (const std::string& line : SplitCrLf(Scenario::ProcessLog())) {
        if (!multiLine) {
            EXPECT_TRUE(HasUtcStamp(line)) << line;
        }
        lines.push_back(StripUtcStamp(line));
    }
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines from the first one equal to from up to (not including) the
// first later one equal to to.
std::vector<std::string> Between(const std::vector<std::string>& lines, const std::string& from, const std::string& to)
{
    auto begin = std::find(lines.begin(), lines.end(), from);
    if (begin == lines.end())
        return {};
    auto end = std::find(begin + 1, lines.end(), to);
    return std::vector<std::string>(begin, end);
}

// The state as text, or the whole line when it holds none (so a failure shows it).
std::string StateOf(const HostResult& r)
{
    return r.State() ? std::to_string(r.State()) : r.PropertyLine(5);
}

// The package definition and the image of the scenarios that mark
// controllers: a package that could not be written is not offered.
void AddPackageDefinition(const Scenario& s)
{
    s.AddFile(L"kxflash.xml", "<tzr_package><version value=\"1.0\"/></tzr_package>");
    s.AddFile(L"fw.bin", "image");
}

std::string HostPath()
{
    return Narrow(BuildFile(L"tools\\host\\tzrhost.exe"));
}

std::vector<std::string> InfoCalls(int count)
{
    std::vector<std::string> calls = {"mnv_cli.exe adapter --list"};
    for (int n = 1; n <= count; ++n)
        calls.push_back("mnv_cli.exe " + std::to_string(n) + " info -o hba");
    return calls;
}

TEST(FlashEngine, NoControllerIsNotApplicable)
{
    Scenario s("flash_no_controller");
    s.AddSimulator("count=0\n");
    const HostResult r = s.Host({L"--property", L"5"});
    EXPECT_NE(std::string::npos, r.PropertyLine(5).find("result 1  state 6 ")) << r.output;
    EXPECT_EQ(InfoCalls(0), s.SimulatorCalls());
    const std::string folder = Narrow(s.Folder());
    const std::vector<std::string> expected = {
        "FlashComponent::Checking Installation state",
        "No package definition (kx*.xml with root tzr_package) found",
        "parsing commandline parameters...",
        "parseCommandLine parameter 0: " + HostPath(),
        "parseCommandLine parameter 1: " + folder,
        "parseCommandLine parameter 2: --property",
        "parseCommandLine parameter 3: 5",
        "parsing commandline parameters completed.",
        // Wine has no private namespaces; the lock says so once.
        "Private namespaces are not available (error 0); the firmware lock keeps its public name "
        "Global\\TZR.NVMeBootController.FirmwareWrite",
        "Device Inventory initiated...",
        "Fetching Boot Controller Devices information...",
        "Command: mnv_cli.exe adapter --list ",
        "Vendor tool: " + folder + "\\mnv_cli.exe",
        "readKeyFilesFromKXXML: ",
        "XML parse failed: ",
        "Device Inventory completed.",
        "FlashComponent::Checking Installation state Ends",
    };
    EXPECT_EQ(expected, EngineLog());
}

// A package without its tool is broken, not "nothing here": no inventory is
// tried, the state is 7.
TEST(FlashEngine, MissingToolCannotBeInstalled)
{
    Scenario s("flash_missing_tool");
    const HostResult r = s.Host({L"--property", L"5"}, {{L"PATH", L"C:\\windows\\system32"}});
    EXPECT_NE(std::string::npos, r.PropertyLine(5).find("result 1  state 7 ")) << r.output;
    const std::vector<std::string> log = EngineLog();
    EXPECT_TRUE(Contains(log, "The vendor tool mnv_cli.exe is neither in the package folder C:\\tzr-e2e\\flash_missing_tool "
                              "nor in an absolute folder of PATH (the host's folder and the current directory are "
                              "not searched): nothing can be checked or installed"));
    EXPECT_FALSE(Contains(log, "Command: mnv_cli.exe adapter --list "));
}

TEST(FlashEngine, InventoryQueriesEachControllerInOrderAndSkipsUnknownModels)
{
    Scenario s("flash_three_controllers");
    // 0x2F6 is not 0x2f6: ids are matched exactly.
    s.AddSimulator("count_label=TOTAL NUMBER OF NVME CONTROLLERS:\n"
                   "1.svid=0x1590\n1.sdid=0x2f6\n1.fw=1.0.14\n"
                   "2.svid=0x1590\n2.sdid=0x2F6\n2.fw=1.0.14\n"
                   "3.svid=0x1590\n3.sdid=0x999\n3.fw=1.0.14\n"
                   "4.svid=0x1590\n4.sdid=0x310\n4.fw=2.1\n");
    AddPackageDefinition(s);
    const HostResult r = s.Host({L"--property", L"5", L"--property", L"3"});
    EXPECT_EQ(InfoCalls(4), s.SimulatorCalls());
    // Two controllers with firmware newer than the package's 1.0: two downgrades.
    EXPECT_NE(std::string::npos, r.PropertyLine(5).find("result 1  state 3 ")) << r.output;
    const std::vector<std::string> log = EngineLog(true);
    const std::vector<std::string> expected = {
        "Fetching Boot Controller Devices information...",
        "Command: mnv_cli.exe adapter --list ",
        "Vendor tool: " + Narrow(s.PathOf(L"mnv_cli.exe")),
        "readKeyFilesFromKXXML: kxflash.xml",
        "Querying Boot Controller Device information ID: 1",
        "getModelName with subdeviceid: 0x2f6",
        std::string("Model name found for the subdeviceid is: ") + kModelP,
        "Querying Boot Controller Device information ID: 2",
        "getModelName with subdeviceid: 0x2F6",
        "Controller 2: model 0x2F6 is not supported by this package; it is not flashed",
        "Querying Boot Controller Device information ID: 3",
        "getModelName with subdeviceid: 0x999",
        "Controller 3: model 0x999 is not supported by this package; it is not flashed",
        "Querying Boot Controller Device information ID: 4",
        "getModelName with subdeviceid: 0x310",
        std::string("Model name found for the subdeviceid is: ") + kModelT,
        "Device Inventory completed.",
        "force flag -f set to 1",
        "setForceFlashForAll",
        "ucount: 0 dcount: 2 rcount: 0",
    };
    EXPECT_EQ(expected, Between(log, expected.front(), "FlashComponent::Checking Installation state Ends"));
    // Both recognised controllers are marked, in inventory order; the text
    // starts at byte offset 4, so offset 0 shows its CR LF twice.
    EXPECT_EQ(std::string("[3] current version  result 1  \"\\r\\n\\r\\n") + kModelP + ": 1.0.14\\n\\r\\n" + kModelT +
                  ": 2.1\\n\"",
              r.PropertyLine(3));
    EXPECT_TRUE(Contains(log, "isFlashNeed for ID: 0 is 1"));
    EXPECT_TRUE(Contains(log, "isFlashNeed for ID: 1 is 1"));
}

TEST(FlashEngine, SummaryFromRewritesAndDowngrades)
{
    // Firmware 1.0 is a rewrite of the package's 1.0, firmware 1.1 a downgrade.
    const struct {
        const char* name;
        const char* controllers;
        const char* state;
        const char* counts;
    } cases[] = {
        {"flash_only_rewrites", "1.sdid=0x30e\n1.fw=1.0\n2.sdid=0x379\n2.fw=1.0\n", "1",
         "ucount: 0 dcount: 0 rcount: 2"},
        {"flash_two_down_one_rewrite", "1.sdid=0x2f6\n1.fw=1.1\n2.sdid=0x30e\n2.fw=1.0\n3.sdid=0x310\n3.fw=1.2\n",
         "3", "ucount: 0 dcount: 2 rcount: 1"},
        // Ties go to the downgrade over the rewrite; more rewrites win.
        {"flash_one_down_one_rewrite", "1.sdid=0x2f6\n1.fw=1.1\n2.sdid=0x30e\n2.fw=1.0\n", "3",
         "ucount: 0 dcount: 1 rcount: 1"},
        {"flash_one_down_two_rewrites",
         "1.sdid=0x2f6\n1.fw=1.1\n2.sdid=0x30e\n2.fw=1.0\n3.sdid=0x380\n3.fw=1.0\n", "1",
         "ucount: 0 dcount: 1 rcount: 2"},
    };
    for (const auto& c : cases) {
        Scenario s(c.name);
        s.AddSimulator(c.controllers);
        AddPackageDefinition(s);
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_EQ(c.state, StateOf(r)) << c.name << "\n" << r.output;
        EXPECT_TRUE(Contains(EngineLog(), c.counts)) << c.name;
    }
}

TEST(FlashEngine, ControllerWithoutFirmwareLineIsListedWithAnEmptyVersion)
{
    Scenario s("flash_no_firmware_line");
    s.AddSimulator("1.svid=0x1590\n1.sdid=0x30e\n");
    AddPackageDefinition(s);
    const HostResult r = s.Host({L"--property", L"5", L"--property", L"3"});
    EXPECT_EQ("2", StateOf(r)) << r.output;  // the empty version is older than 1.0
    EXPECT_EQ(std::string("[3] current version  result 1  \"\\r\\n\\r\\n") + kModelD + ": \\n\"", r.PropertyLine(3));
}

TEST(FlashEngine, SecondInstallStateQueryGivesTheSameAnswerAndRunsNothing)
{
    Scenario s("flash_second_query");
    s.AddSimulator("1.sdid=0x2f6\n1.fw=1.1\n");
    AddPackageDefinition(s);
    const HostResult r = s.Host({L"--property", L"5", L"--property", L"5"});
    const size_t first = r.output.find("[5] install state    result 1  state 3 ");
    ASSERT_NE(std::string::npos, first) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("[5] install state    result 1  state 3 ", first + 1)) << r.output;
    EXPECT_EQ(InfoCalls(1), s.SimulatorCalls());
    // The second query adds only the component's own two lines.
    const std::vector<std::string> log = EngineLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ("FlashComponent::Checking Installation state Ends", log[log.size() - 3]);
    EXPECT_EQ("FlashComponent::Checking Installation state", log[log.size() - 2]);
    EXPECT_EQ("FlashComponent::Checking Installation state Ends", log[log.size() - 1]);
}

TEST(FlashEngine, CurrentVersionBeforeAnyInstallStateQueryIsEmpty)
{
    Scenario s("flash_version_first");
    s.AddSimulator("1.sdid=0x2f6\n1.fw=1.0\n");
    const HostResult r = s.Host({L"--property", L"3"});
    EXPECT_EQ("[3] current version  result 0  (buffer untouched)", r.PropertyLine(3)) << r.output;
    EXPECT_TRUE(s.SimulatorCalls().empty());
    const std::vector<std::string> log = EngineLog();
    EXPECT_TRUE(Contains(log, "FlashComponent::GetCurrentVersion ends with status: 0."));
    EXPECT_FALSE(Contains(log, "FlashComponent::GetCurrentVersion ends with status: 1."));
}

TEST(FlashEngine, CurrentVersionThatDoesNotFitIsNotWritten)
{
    Scenario s("flash_version_small_buffer");
    s.AddSimulator("1.sdid=0x2f6\n1.fw=1.0\n");
    const HostResult r = s.Host({L"--property", L"5", L"--property", L"3", L"--capacity", L"20"});
    EXPECT_EQ("[3] current version  result 0  (buffer untouched)", r.PropertyLine(3)) << r.output;
}

TEST(FlashEngine, ToolOutputVariantsAreReadAlike)
{
    const struct {
        const char* name;
        const char* options;
    } cases[] = {
        {"flash_out_crlf", ""},
        {"flash_out_lf", "line_end=lf\n"},
        {"flash_out_lf_open_end", "line_end=lf\nfinal_line_end=0\n"},
        {"flash_out_crlf_open_end", "final_line_end=0\n"},
        {"flash_out_stderr", "stream=stderr\n"},
        {"flash_out_long", "padding=150000\n"},
        {"flash_out_nul", "nul=1\n"},
    };
    for (const auto& c : cases) {
        Scenario s(c.name);
        s.AddSimulator(std::string(c.options) + "1.sdid=0x2f6\n1.fw=1.2.3\n2.sdid=0x310\n2.fw=4.5.6\n");
        AddPackageDefinition(s);
        const HostResult r = s.Host({L"--property", L"5", L"--property", L"3"});
        EXPECT_EQ(InfoCalls(2), s.SimulatorCalls()) << c.name;
        EXPECT_EQ("3", StateOf(r)) << c.name << "\n" << r.output;
        // The firmware line is the last of the answer: without a line end
        // it still keeps its last character.
        EXPECT_EQ(std::string("[3] current version  result 1  \"\\r\\n\\r\\n") + kModelP + ": 1.2.3\\n\\r\\n" +
                      kModelT + ": 4.5.6\\n\"",
                  r.PropertyLine(3))
            << c.name;
    }
}

TEST(FlashEngine, CountTooLargeIsNoCount)
{
    Scenario s("flash_count_too_large");
    s.AddSimulator("count_text=99999999999\n1.sdid=0x2f6\n1.fw=1.0\n");
    const HostResult r = s.Host({L"--property", L"5"});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("6", StateOf(r)) << r.output;
    EXPECT_EQ(InfoCalls(0), s.SimulatorCalls());
    EXPECT_TRUE(Contains(EngineLog(), "Controller count 99999999999 is out of range; no controller is queried"));
}

// Counts no machine can have are not believed: nothing is queried.
TEST(FlashEngine, CountAbove1024IsNoCount)
{
    for (const char* count : {"1025", "2147483647"}) {
        Scenario s(std::string("flash_count_") + count);
        s.AddSimulator(std::string("count_text=") + count + "\n1.sdid=0x2f6\n1.fw=1.0\n");
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_EQ("6", StateOf(r)) << count << "\n" << r.output;
        EXPECT_EQ(InfoCalls(0), s.SimulatorCalls()) << count;
        EXPECT_TRUE(Contains(EngineLog(), std::string("Controller count ") + count +
                                              " is out of range; no controller is queried"))
            << count;
    }
}

// Whatever the tool prints lands in the log a line at a time, each line at
// most 4096 bytes with its CR LF.
TEST(FlashEngine, HugeToolValuesAreCutInTheLog)
{
    const std::string digits(1 << 20, '9');
    const std::string sdid(1 << 20, 's');
    Scenario count("flash_huge_count");
    count.AddSimulator("count_text=" + digits + "\n");
    const HostResult r = count.Host({L"--property", L"5"});
    EXPECT_EQ("6", StateOf(r)) << r.output;
    const std::string countLine = "Controller count " + digits;
    // 4095 bytes of text, the last of them the line end.
    EXPECT_TRUE(Contains(EngineLog(), countLine.substr(0, 4094)));

    Scenario id("flash_huge_sdid");
    id.AddSimulator("1.sdid=" + sdid + "\n1.fw=1.0\n");
    const HostResult r2 = id.Host({L"--property", L"5"});
    EXPECT_EQ("6", StateOf(r2)) << r2.output;
    const std::string idLine = "getModelName with subdeviceid: " + sdid;
    EXPECT_TRUE(Contains(EngineLog(), idLine.substr(0, 4094)));
    const std::string log = Scenario::ProcessLog();
    EXPECT_LT(log.size(), 64u * 1024u);
    for (const std::string& line : SplitCrLf(log))
        EXPECT_LE(StripUtcStamp(line).size(), 4094u);
}

struct OptionCase {
    const char* name;
    std::vector<std::wstring> args;
    std::vector<std::string> lines;  // the engine's lines after "parameter 3: 5"
};

TEST(FlashEngineOptions, EveryOptionAndPrefix)
{
    const OptionCase cases[] = {
        {"force",
         {L"-f", L"/f", L"-force", L"/force"},
         {"parseCommandLine parameter 4: -f", "force parameter received", "force flag -f set to 1",
          "parseCommandLine parameter 5: /f", "force parameter received", "force flag -f set to 1",
          "parseCommandLine parameter 6: -force", "force parameter received", "force flag -f set to 1",
          "parseCommandLine parameter 7: /force", "force parameter received", "force flag -f set to 1"}},
        {"silent",
         {L"-s", L"/s", L"-silent", L"/silent"},
         {"parseCommandLine parameter 4: -s", "silent parameter received", "silent flag -s set to 1",
          "parseCommandLine parameter 5: /s", "silent parameter received", "silent flag -s set to 1",
          "parseCommandLine parameter 6: -silent", "silent parameter received", "silent flag -s set to 1",
          "parseCommandLine parameter 7: /silent", "silent parameter received", "silent flag -s set to 1"}},
        {"rewrite_downgrade",
         {L"-e", L"/e", L"-g", L"/g"},
         {"parseCommandLine parameter 4: -e", "rewrite parameter received", "rewrite flag -e set to 1",
          "parseCommandLine parameter 5: /e", "rewrite parameter received", "rewrite flag -e set to 1",
          "parseCommandLine parameter 6: -g", "downgrade parameter received", "downgrade flag -g set to 1",
          "parseCommandLine parameter 7: /g", "downgrade parameter received", "downgrade flag -g set to 1"}},
        {"not_options",
         {L"-F", L"--force", L"-Force", L"-D"},
         {"parseCommandLine parameter 4: -F", "parseCommandLine parameter 5: --force",
          "parseCommandLine parameter 6: -Force", "parseCommandLine parameter 7: -D"}},
        {"log_level",
         {L"-log_level", L"1", L"/log_level", L"x"},
         {"parseCommandLine parameter 4: -log_level", "setting verbose log level to 1",
          "parseCommandLine parameter 5: 1", "parseCommandLine parameter 6: /log_level",
          "setting verbose log level to 0", "parseCommandLine parameter 7: x"}},
        {"log_level_last", {L"-log_level"}, {"parseCommandLine parameter 4: -log_level"}},
        {"discovery_path",
         {L"-d", L"C:\\out\\disc.xml"},
         {"parseCommandLine parameter 4: -d", "discovery parameter received", "force flag -f set to 1",
          "self discovery flag -d set to 1", "self discovery file C:\\out\\disc.xml",
          "parseCommandLine parameter 5: C:\\out\\disc.xml"}},
        {"discovery_default",
         {L"/d"},
         {"parseCommandLine parameter 4: /d", "discovery parameter received", "force flag -f set to 1",
          "self discovery flag -d set to 1", "self discovery file \\tzrsystem\\log\\notes_disc.xml"}},
    };
    for (const OptionCase& c : cases) {
        Scenario s(std::string("flash_option_") + c.name);
        s.AddSimulator("count=0\n");
        s.AddFile(L"notes.xml", "<notes/>");
        std::vector<std::wstring> args = {L"--property", L"5"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        s.Host(args);
        std::vector<std::string> got = Between(EngineLog(), "parseCommandLine parameter 4: " + Narrow(c.args[0]),
                                               "parsing commandline parameters completed.");
        EXPECT_EQ(c.lines, got) << c.name;
    }
}

TEST(FlashEngineOptions, DiscoveryRunMarksNothing)
{
    Scenario s("flash_option_discovery_run");
    s.AddSimulator("1.sdid=0x2f6\n1.fw=1.0\n");
    const HostResult r = s.Host({L"--property", L"5", L"--property", L"3", L"-d", L"C:\\out\\disc.xml"});
    EXPECT_EQ("1", StateOf(r)) << r.output;
    EXPECT_EQ("[3] current version  result 0  (buffer untouched)", r.PropertyLine(3)) << r.output;
    const std::vector<std::string> log = EngineLog();
    EXPECT_TRUE(Contains(log, "Device discovery flag set! Generating discovery file.."));
    EXPECT_FALSE(Contains(log, "setForceFlashForAll"));
}

TEST(FlashEngineOptions, OnlyThirtyTwoArgumentsAreExamined)
{
    Scenario s("flash_option_forty_arguments");
    s.AddSimulator("count=0\n");
    // tzrhost, the folder and "--property 5" are arguments 0 to 3.
    std::vector<std::wstring> args = {L"--property", L"5"};
    for (int i = 4; i < 40; ++i)
        args.push_back(i == 35 ? L"-s" : L"a" + std::to_wstring(i));
    s.Host(args);
    const std::string raw = Scenario::ProcessLog();
    EXPECT_NE(std::string::npos, raw.find("] Only 32 arguments supported. Extra arguments will be ignored\r\r\n"));
    const std::vector<std::string> log = EngineLog();
    EXPECT_TRUE(Contains(log, "parseCommandLine parameter 31: a31"));
    EXPECT_FALSE(Contains(log, "parseCommandLine parameter 32: a32"));
    EXPECT_FALSE(Contains(log, "silent parameter received"));
}

TEST(FlashEngineOptions, ArgumentLongerThanItsSlotIsCut)
{
    Scenario s("flash_option_long_argument");
    s.AddSimulator("count=0\n");
    const HostResult r = s.Host({L"--property", L"5", std::wstring(5000, L'x'), L"-s"});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("6", StateOf(r)) << r.output;
    const std::vector<std::string> log = EngineLog();
    EXPECT_TRUE(Contains(log, "parseCommandLine parameter 4: " + std::string(1023, 'x')));
    EXPECT_TRUE(Contains(log, "silent parameter received"));
}

}  // namespace
