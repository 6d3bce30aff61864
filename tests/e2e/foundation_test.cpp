// The plug-in as a host sees it: loading, the interface version, the property
// dispatch, the command-line switches and the component log on disk.
#include "scenario.h"

#include <gtest/gtest.h>

#include <regex>

using namespace tzrtest;

namespace {

// A verbose component-log entry: "[time]::source[line] text".
bool HasVerboseEntry(const std::string& log, const std::string& source, const std::string& text)
{
    for (const std::string& line : SplitCrLf(log)) {
        static const std::regex header(R"(^\[\d{1,2}:\d{2}:\d{2}\]::([^\[]*)\[\d+\] (.*)$)");
        std::smatch m;
        if (std::regex_match(line, m, header) && m[1] == source && m[2] == text)
            return true;
    }
    return false;
}

bool OnlyCrLfLineEnds(const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

}  // namespace

TEST(Host, LoadsThePluginAndAsksEveryProperty)
{
    Scenario s("host_loads");
    const HostResult r = s.Host({});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("interface 100 (result 1)")) << r.output;
    // Without a package definition the text properties have no answer yet.
    for (unsigned id : {1u, 2u, 4u, 3u})
        EXPECT_EQ("  (buffer untouched)", r.PropertyLine(id).substr(r.PropertyLine(id).size() - 20)) << id;
    for (unsigned id : {6u, 7u, 8u})
        EXPECT_NE(std::string::npos, r.PropertyLine(id).find("result 1  value 1")) << r.PropertyLine(id);
}

TEST(Host, UnknownPropertyIsRefusedAndLogged)
{
    Scenario s("host_unknown_id");
    const HostResult r = s.Host({L"--property", L"10", L"/verbose_log"});
    EXPECT_EQ("[10] unknown          result 0  (buffer untouched)", r.PropertyLine(10)) << r.output;
    EXPECT_TRUE(HasVerboseEntry(Scenario::ComponentVerboseLog(), "basecomp", "GetProperty(0x0A) - unknown type"))
        << Scenario::ComponentVerboseLog();
}

TEST(Host, PropertyQueriesAreLoggedByName)
{
    Scenario s("host_property_lines");
    s.Host({L"/verbose_log"});
    const std::string log = Scenario::ComponentVerboseLog();
    for (const char* name : {"TZRPROP_NAME", "TZRPROP_DESCRIPTION", "TZRPROP_VERSIONNEW", "TZRPROP_INSTALLSTATE",
                             "TZRPROP_VERSIONCURRENT", "TZRPROP_SUPPORTSILENTINSTALL",
                             "TZRPROP_SUPPORTSILENTUPDATE", "TZRPROP_SUPPORTDOWNGRADE"})
        EXPECT_TRUE(HasVerboseEntry(log, "basecomp", std::string("GetProperty(") + name + ")")) << name;
}

TEST(Host, InstallStateRecordBelowMinimumIsRefused)
{
    Scenario s("host_small_record");
    // The install-state answer is refused, yet the export still writes the
    // state code at offset 0.
    const HostResult small = s.Host({L"--property", L"5", L"--state-size", L"2050"});
    EXPECT_NE(std::string::npos, small.PropertyLine(5).find("result 0  state ")) << small.output;
    const HostResult enough = s.Host({L"--property", L"5", L"--state-size", L"2052"});
    EXPECT_NE(std::string::npos, enough.PropertyLine(5).find("result 1  state ")) << enough.output;
    // Smaller than the state code itself: nothing is written past the size
    // the host gave (the host's buffer has room for the code, to see it).
    const HostResult tiny = s.Host({L"--property", L"5", L"--state-size", L"2"});
    EXPECT_EQ("[5] install state    result 0  (buffer untouched)", tiny.PropertyLine(5)) << tiny.output;
}

struct SwitchCase {
    const wchar_t* argument;
    bool verbose;
    bool noOverwrite;
};

class Switches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(Switches, AreFoundAnywhereInAnyCase)
{
    const SwitchCase& c = GetParam();
    Scenario s("host_switches");
    s.Host({c.argument}, {{L"CMPLOG2_VERBOSE_FILENAME", L""}});
    const bool verboseExists = FileExists(Scenario::LogFolder() + L"\\tzrsetup.verbose.log");
    EXPECT_EQ(c.verbose, verboseExists);
    EXPECT_TRUE(FileExists(Scenario::LogFolder() + L"\\tzrsetup.log"));
    if (!verboseExists)
        return;
    const std::string log = Scenario::ComponentVerboseLog();
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", "Initializing installer DLL")) << log;
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", c.noOverwrite ? "/no_overwrite DETECTED" : "/no_overwrite ABSENT"))
        << log;
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", "Detecting if 64-bit operating system... ")) << log;
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", "    - Operating system is 64-bit x64 based.")) << log;
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", "Locating package definition file ... Failed!")) << log;
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", "Checking for install.xml... Not found.")) << log;
    // The whole file is CR LF lines.
    EXPECT_TRUE(OnlyCrLfLineEnds(log));
}

INSTANTIATE_TEST_SUITE_P(Host, Switches,
                         ::testing::Values(SwitchCase{L"-x", false, false},
                                           SwitchCase{L"/verbose_log", true, false},
                                           SwitchCase{L"/VERBOSE_LOG", true, false},
                                           SwitchCase{L"x/Verbose_Logging", true, false},
                                           SwitchCase{L"/no_overwrite", false, true},
                                           SwitchCase{L"/verbose_log/NO_OVERWRITE", true, true}));

TEST(Host, VerboseFileChosenByEnvironmentWithoutSwitch)
{
    Scenario s("host_verbose_env");
    const std::wstring chosen = s.PathOf(L"chosen-verbose.log");
    s.Host({}, {{L"CMPLOG2_VERBOSE_FILENAME", chosen}});
    EXPECT_FALSE(FileExists(Scenario::LogFolder() + L"\\tzrsetup.verbose.log"));
    const std::string log = ReadFileBytes(chosen);
    EXPECT_TRUE(HasVerboseEntry(log, "basecomp", "Initializing installer DLL")) << log;
}

TEST(Host, GoesOnWhenTheLogFolderCannotBeCreated)
{
    Scenario s("host_no_log_folder");
    // A system drive that does not exist: no log can be opened, the plug-in
    // still loads and answers.
    const HostResult r = s.Host({L"/verbose_log"}, {{L"SystemDrive", L"Q:"}});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.PropertyLine(6).find("result 1  value 1")) << r.output;
}

TEST(Host, InstallKeepsTheHostsTextAndReportsTheResult)
{
    Scenario s("host_install");
    // --force: Install without the install-state query that the host
    // otherwise asks first.
    const HostResult r =
        s.Host({L"--property", L"6", L"--install", L"--force", L"--install-text", L"before\r\n"});
    // No install-state query came first, so no controller is marked: the
    // host's text stays and one failure line follows it.
    EXPECT_EQ("install   result 0 (failure)  message \"before\\r\\nError\\r\\n\"", r.InstallLine()) << r.output;
    EXPECT_EQ(1603u, r.exitCode);
}

TEST(Host, UsageErrorsAndMissingPlugin)
{
    Scenario s("host_usage");
    const ProcessResult none = RunProcess(QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")), s.Folder());
    EXPECT_EQ(1639u, none.exitCode);
    EXPECT_NE(std::string::npos, none.output.find("usage: tzrhost.exe")) << none.output;

    Scenario empty("host_missing_plugin");
    DeleteFileW(empty.PathOf(L"setup.dll").c_str());
    const HostResult missing = empty.Host({});
    EXPECT_EQ(1619u, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.output.find("cannot load")) << missing.output;
}

TEST(Host, ConsoleSwitchKeepsThePluginWorking)
{
    Scenario s("host_consoleout");
    const HostResult r = s.Host({L"/CONSOLEOUT", L"--property", L"6"});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("[6] silent install   result 1  value 1", r.PropertyLine(6)) << r.output;
}

TEST(Host, JsonReportCarriesEveryAnswer)
{
    Scenario s("host_json");
    const HostResult r = s.Host({L"--json", L"--property", L"5", L"--property", L"10", L"--property", L"7"});
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_NE(std::string::npos, r.output.find("\"interface\": {\"result\": 1, \"version\": 100}")) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("{\"id\": 10, \"name\": \"unknown\", \"result\": 0, \"touched\": false}"))
        << r.output;
    EXPECT_NE(std::string::npos, r.output.find("{\"id\": 7, \"name\": \"silent update\", \"result\": 1, "
                                               "\"touched\": true, \"value\": 1}"))
        << r.output;
    EXPECT_NE(std::string::npos, r.output.find("\"id\": 5, \"name\": \"install state\", \"result\": 1, "
                                               "\"touched\": true, \"state\": "))
        << r.output;
}
