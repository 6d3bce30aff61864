// The engine's Win32 side in-process: argument slots, the option parser on a
// given command line, the inventory and the check sequence over the
// simulated tool, the component's code tables and its version answer.
#include "flash_component.h"
#include "flash_engine.h"
#include "flash_test_util.h"
#include "process_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <cstring>

using namespace flashtest;

namespace {

// The engine's state is process-wide; each test starts from load-time values.
class Engine : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() { resetEngineState(); }
};

struct SlotCase {
    const char* name;
    UINT codePage;
    std::wstring argument;
    size_t bytes;  // written, without the terminator
};

TEST(ConvertArgument, CutsToTheSlotAtCharacterBoundaries)
{
    const std::wstring eAcute(600, L'\x00E9');      // 2 bytes each in UTF-8
    const std::wstring hiragana(600, L'\x3042');    // 2 bytes each in code page 932, 3 in UTF-8
    std::wstring emoji;
    for (int i = 0; i < 300; ++i)
        emoji += L"\xD83D\xDE00";                   // one character, 4 bytes in UTF-8
    const SlotCase cases[] = {
        {"short", CP_ACP, L"-f", 2},
        {"exactly 1023", CP_ACP, std::wstring(1023, L'a'), 1023},
        {"1024", CP_ACP, std::wstring(1024, L'a'), 1023},
        {"5000", CP_ACP, std::wstring(5000, L'a'), 1023},
        {"utf-8 two-byte", CP_UTF8, eAcute, 1022},
        {"utf-8 three-byte", CP_UTF8, hiragana, 1023},
        {"utf-8 surrogate pairs", CP_UTF8, emoji, 1020},
        {"932 double-byte", 932, hiragana, 1022},
        {"932 odd start", 932, L"a" + hiragana, 1023},
        {"empty", CP_ACP, L"", 0},
    };
    for (const SlotCase& c : cases) {
        char slot[1024 + 16];
        memset(slot, 0x5A, sizeof slot);
        const size_t written = convertArgument(c.codePage, c.argument.c_str(), slot, 1024);
        EXPECT_EQ(c.bytes, written) << c.name;
        EXPECT_EQ(c.bytes, strlen(slot)) << c.name;
        for (size_t i = 1024; i < sizeof slot; ++i)
            ASSERT_EQ(0x5A, static_cast<unsigned char>(slot[i])) << c.name << ": overrun at " << i;
        // What was kept converts back to whole characters of the argument.
        wchar_t back[1100] = L"";
        const int n = MultiByteToWideChar(c.codePage, MB_ERR_INVALID_CHARS, slot, -1, back, 1100);
        ASSERT_GT(n, 0) << c.name;
        EXPECT_EQ(c.argument.substr(0, wcslen(back)), std::wstring(back)) << c.name;
    }
}

TEST(ConvertArgument, TinySlotsStayTerminated)
{
    char slot[2] = {'x', 'x'};
    EXPECT_EQ(0u, convertArgument(CP_UTF8, L"\x00E9", slot, 2));
    EXPECT_EQ('\0', slot[0]);
    EXPECT_EQ(1u, convertArgument(CP_ACP, L"ab", slot, 2));
    EXPECT_STREQ("a", slot);
}

TEST_F(Engine, OptionsSetTheirFlagsAndLogTheirLines)
{
    const LogTail log;
    ASSERT_EQ(0, parseArguments(L"host.exe -f /s -e /g -log_level 1 -x"));
    EXPECT_EQ(1, forceFlag);
    EXPECT_EQ(1, silentFlag);
    EXPECT_EQ(1, rewriteFlag);
    EXPECT_EQ(1, downgradeFlag);
    EXPECT_EQ(0, discoveryFlag);
    EXPECT_EQ(1, LogGetVerboseLevel());
    const std::vector<std::string> expected = {
        "parseCommandLine parameter 0: host.exe",
        "parseCommandLine parameter 1: -f",
        "force parameter received",
        "force flag -f set to 1",
        "parseCommandLine parameter 2: /s",
        "silent parameter received",
        "silent flag -s set to 1",
        "parseCommandLine parameter 3: -e",
        "rewrite parameter received",
        "rewrite flag -e set to 1",
        "parseCommandLine parameter 4: /g",
        "downgrade parameter received",
        "downgrade flag -g set to 1",
        "parseCommandLine parameter 5: -log_level",
        "setting verbose log level to 1",
        "parseCommandLine parameter 6: 1",
        "parseCommandLine parameter 7: -x",
    };
    EXPECT_EQ(expected, log.Lines());
}

TEST_F(Engine, DiscoveryTakesTheNextArgumentOrTheDefaultPath)
{
    ToolFolder folder("options_discovery", "", false);
    folder.AddFile(L"kx012345.xml", "<tzr_package/>");

    ASSERT_EQ(0, parseArguments(L"host.exe -d -f"));
    EXPECT_STREQ("-f", discoveryFile);  // and "-f" still has its own turn
    EXPECT_EQ(1, discoveryFlag);
    EXPECT_EQ(1, forceFlag);

    const LogTail log;
    ASSERT_EQ(0, parseArguments(L"host.exe /d"));
    EXPECT_STREQ("\\tzrsystem\\log\\kx012345_disc.xml", discoveryFile);
    const std::vector<std::string> expected = {
        "parseCommandLine parameter 0: host.exe",
        "parseCommandLine parameter 1: /d",
        "discovery parameter received",
        "force flag -f set to 1",
        "self discovery flag -d set to 1",
        "self discovery file \\tzrsystem\\log\\kx012345_disc.xml",
    };
    EXPECT_EQ(expected, log.Lines());

    // A path longer than the report's buffer is cut, never overrun.
    const std::wstring longPath(5000, L'p');
    ASSERT_EQ(0, parseArguments((L"host.exe -d " + longPath).c_str()));
    EXPECT_EQ(1023u, strlen(discoveryFile));
}

TEST_F(Engine, LogLevelWithoutValueDoesNothingAndNonNumbersGiveZero)
{
    LogSetVerboseLevel(5);
    const LogTail log;
    ASSERT_EQ(0, parseArguments(L"host.exe -log_level"));
    EXPECT_EQ(5, LogGetVerboseLevel());
    EXPECT_EQ((std::vector<std::string>{"parseCommandLine parameter 0: host.exe",
                                        "parseCommandLine parameter 1: -log_level"}),
              log.Lines());
    ASSERT_EQ(0, parseArguments(L"host.exe /log_level abc"));
    EXPECT_EQ(0, LogGetVerboseLevel());
}

TEST_F(Engine, OnlyThirtyTwoArgumentsAreExamined)
{
    std::wstring line = L"host.exe";
    for (int i = 1; i < 40; ++i)
        line += i == 35 ? L" -f" : L" a" + std::to_wstring(i);
    const LogTail log;
    ASSERT_EQ(0, parseArguments(line.c_str()));
    EXPECT_EQ(0, forceFlag);  // argument 35 was never looked at
    const std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find("Only 32 arguments supported. Extra arguments will be ignored\r\r\n"));
    EXPECT_NE(std::string::npos, text.find("parseCommandLine parameter 31: a31\r\n"));
    EXPECT_EQ(std::string::npos, text.find("parseCommandLine parameter 32"));
}

TEST_F(Engine, AnArgumentLongerThanItsSlotIsLoggedCut)
{
    const LogTail log;
    ASSERT_EQ(0, parseArguments((L"host.exe " + std::wstring(5000, L'x') + L" -s").c_str()));
    EXPECT_EQ(1, silentFlag);
    const std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("parseCommandLine parameter 1: " + std::string(1023, 'x'), lines[1]);
}

TEST_F(Engine, UnreadableCommandLineStopsTheParse)
{
    const LogTail log;
    EXPECT_EQ(-1, parseArguments(nullptr));
    EXPECT_EQ("Command line argument retrieval error\r\r\n", tzrtest::StripUtcStamp(log.Text()));
}

const char kThreeControllers[] =
    "1.svid=0x1590\n1.sdid=0x2f6\n1.fw=1.0.14\n"
    "2.svid=0x1590\n2.sdid=0x2F6\n2.fw=1.0.14\n"
    "3.svid=0x1590\n3.sdid=0x310\n";

TEST_F(Engine, InventoryKeepsRecognisedControllersInQueryOrder)
{
    ToolFolder tool("inventory_three", kThreeControllers);
    EXPECT_EQ(3, getControllerCount());
    EXPECT_EQ(1, runDeviceInventory());
    ASSERT_EQ(2u, deviceCollection.size());
    EXPECT_EQ(1, deviceCollection[0].getControllerId());
    EXPECT_EQ("Veyra KB118m-p Mk3+ Boot Controller", deviceCollection[0].getProductName());
    EXPECT_EQ("1.0.14", deviceCollection[0].getFwVersion());
    EXPECT_EQ("0x1590", deviceCollection[0].getSubVendorId());
    EXPECT_EQ(kUpdateDowngrade, deviceCollection[0].getUpdateState());  // against the empty package version
    EXPECT_EQ(3, deviceCollection[1].getControllerId());
    EXPECT_EQ("", deviceCollection[1].getFwVersion());
    EXPECT_EQ(kUpdateRewrite, deviceCollection[1].getUpdateState());
    EXPECT_FALSE(deviceCollection[1].isFlashNeed());
    EXPECT_EQ((std::vector<std::string>{"mnv_cli.exe adapter --list", "mnv_cli.exe adapter --list",
                                        "mnv_cli.exe 1 info -o hba", "mnv_cli.exe 2 info -o hba",
                                        "mnv_cli.exe 3 info -o hba"}),
              tool.Calls());
}

TEST_F(Engine, CountThatDoesNotFitIsNoCount)
{
    ToolFolder tool("inventory_count_too_large", "count_text=99999999999\n1.sdid=0x2f6\n1.fw=1\n");
    const LogTail log;
    EXPECT_EQ(0, getControllerCount());
    EXPECT_EQ((std::vector<std::string>{"Command: mnv_cli.exe adapter --list ", tool.ToolLine(),
                                        "Controller count 99999999999 is out of range; no controller is queried"}),
              log.Lines());
}

// No machine holds more than 1024 controllers; a larger count is refused
// like one that does not fit 32 bits, and nothing is queried.
TEST_F(Engine, CountAbove1024IsNoCount)
{
    const struct {
        const char* count;
        int expected;
    } cases[] = {{"1024", 1024}, {"1025", 0}, {"2147483647", 0}};
    for (const auto& c : cases) {
        ToolFolder tool(std::string("inventory_count_") + c.count, std::string("count_text=") + c.count + "\n");
        const LogTail log;
        EXPECT_EQ(c.expected, getControllerCount()) << c.count;
        std::vector<std::string> expected = {"Command: mnv_cli.exe adapter --list ", tool.ToolLine()};
        if (c.expected == 0)
            expected.push_back(std::string("Controller count ") + c.count + " is out of range; no controller is queried");
        EXPECT_EQ(expected, log.Lines()) << c.count;
    }
    ToolFolder tool("inventory_count_int_max", "count_text=2147483647\n1.sdid=0x2f6\n1.fw=1\n");
    EXPECT_EQ(0, runDeviceInventory());
    EXPECT_EQ(std::vector<std::string>{"mnv_cli.exe adapter --list"}, tool.Calls());
}

TEST_F(Engine, CheckSequenceMarksAllOnceAndThenAnswersTheSame)
{
    ToolFolder tool("sequence_once", kThreeControllers);
    tool.AddFile(L"kxflash.xml", "<tzr_package><version value=\"1.0\"/></tzr_package>");
    tool.AddFile(L"fw.bin", "image");
    packageDefinitionFile = "kxflash.xml";
    EXPECT_EQ(kFlashUpgrade, runCheckSequence());  // one downgrade, one upgrade (no firmware line)
    ASSERT_EQ(2u, deviceCollection.size());
    for (const DeviceObj& d : deviceCollection)
        EXPECT_TRUE(d.isFlashNeed());
    EXPECT_EQ(1, forceFlag);
    EXPECT_EQ(1, sequenceDone);

    // Asked again, the same answer, and nothing run again: Install acts on it.
    const LogTail log;
    EXPECT_EQ(kFlashUpgrade, runCheckSequence());
    EXPECT_EQ("", log.Text());
    EXPECT_EQ(2u, deviceCollection.size());
    EXPECT_EQ(4u, tool.Calls().size());  // the count and three queries, once
}

// Outside the host's contract, but guarded: threads that race into the
// check sequence run it once between them.
TEST_F(Engine, CheckSequenceRunsOnceWhenThreadsRace)
{
    ToolFolder tool("sequence_race", kThreeControllers);
    tool.AddFile(L"kxflash.xml", "<tzr_package><version value=\"1.0\"/></tzr_package>");
    tool.AddFile(L"fw.bin", "image");
    packageDefinitionFile = "kxflash.xml";
    std::vector<unsigned> codes(8);
    std::vector<std::thread> threads;
    for (unsigned& code : codes)
        threads.emplace_back([&code] { code = runCheckSequence(); });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(8, std::count(codes.begin(), codes.end(), kFlashUpgrade));
    EXPECT_EQ(2u, deviceCollection.size());
    EXPECT_EQ(4u, tool.Calls().size());  // the count and three queries, once
}

TEST_F(Engine, CheckSequenceWithoutControllersMarksNothing)
{
    ToolFolder tool("sequence_none", "count=0\n");
    EXPECT_EQ(kFlashNoDevice, runCheckSequence());
    EXPECT_TRUE(deviceCollection.empty());
    EXPECT_EQ(kFlashNoDevice, runCheckSequence());
    EXPECT_EQ(std::vector<std::string>{"mnv_cli.exe adapter --list"}, tool.Calls());
}

TEST_F(Engine, CheckSequenceOutOfMemoryEndsAsCannotInstall)
{
    ToolFolder tool("sequence_no_memory", kThreeControllers);
    const LogTail log;
    unsigned code = 0;
    {
        const AllocationLimit limit(0);
        code = runCheckSequence();
    }
    EXPECT_EQ(kFlashError, code);
    EXPECT_TRUE(deviceCollection.empty());
    EXPECT_EQ(0, sequenceDone);
    EXPECT_NE(std::string::npos, log.Text().find("Check sequence failed: std::bad_alloc\r\n")) << log.Text();
    EXPECT_EQ(kStateCannotInstall, FlashComponent::InstallStateOf(code));
}

TEST_F(Engine, ResetGivesBackTheLoadTimeState)
{
    deviceCollection.resize(3);
    strcpy(discoveryFile, "C:\\out\\disc.xml");
    forceFlag = downgradeFlag = rewriteFlag = silentFlag = discoveryFlag = sequenceDone = 1;
    packageVersion = "2.4.10";
    resetEngineState();
    EXPECT_TRUE(deviceCollection.empty());
    for (char c : discoveryFile)
        ASSERT_EQ('\0', c);
    EXPECT_EQ(0, forceFlag | downgradeFlag | rewriteFlag | silentFlag | discoveryFlag | sequenceDone);
    EXPECT_TRUE(packageVersion.empty());
}

TEST_F(Engine, ForceMarksEveryRecordOnlyWhenSet)
{
    deviceCollection.resize(2);
    setForceFlashForAll();
    EXPECT_FALSE(deviceCollection[0].isFlashNeed());
    forceFlag = 1;
    setForceFlashForAll();
    EXPECT_TRUE(deviceCollection[0].isFlashNeed());
    EXPECT_TRUE(deviceCollection[1].isFlashNeed());
}

DeviceObj Marked(const std::string& name, const std::string& version, bool marked = true)
{
    DeviceObj d;
    d.setProductName(name);
    d.setFwVersion(version);
    d.setFlashNeeded(marked);
    return d;
}

TEST_F(Engine, VersionTextListsMarkedControllersInWholeEntries)
{
    deviceCollection = {Marked("A", "1.0"), Marked("B", "2.0", false), Marked("C", "")};
    EXPECT_STREQ("\r\nA: 1.0\n\r\nC: \n", getFirmwareCurrentVersion());

    // 40 entries of 47 bytes do not fit 1023: only whole entries are kept.
    deviceCollection.assign(40, Marked("Veyra KB118m-p Mk3+ Boot Controller", "1.0.14"));
    const std::string text = getFirmwareCurrentVersion();
    const std::string entry = "\r\nVeyra KB118m-p Mk3+ Boot Controller: 1.0.14\n";
    EXPECT_EQ(1023u / entry.size() * entry.size(), text.size());
    EXPECT_EQ(0u, text.size() % entry.size());
    EXPECT_EQ(entry, text.substr(text.size() - entry.size()));

    // A piece holds at most 249 characters.
    deviceCollection = {Marked(std::string(400, 'n'), "1")};
    EXPECT_EQ(249u, strlen(getFirmwareCurrentVersion()));
}

TEST(FlashComponentCodes, InstallStatesAndResultLines)
{
    const struct {
        unsigned check;
        unsigned state;
    } states[] = {{2, 2}, {4, 3}, {3, 1}, {5, 6}, {13, 6}, {0, 7}, {1, 7}, {7, 7}, {12, 7}, {99, 7}};
    for (const auto& s : states)
        EXPECT_EQ(s.state, FlashComponent::InstallStateOf(s.check)) << s.check;

    const struct {
        unsigned code;
        const wchar_t* line;
        unsigned result;
    } results[] = {
        {0, L"Installation completed successfully. No Reboot is required\r\n", 1},
        {1, L"Installation completed successfully.\r\n", 2},
        {2, L"UPGRADE- OK\r\n", 1},
        {3, L"Rewrite OK\r\n", 2},
        {4, L"Downgrade OK\r\n", 2},
        {5, L"No Device Found\r\n", 0},
        {6, L"User Interrupted\r\n", 0},
        {7, L"Error\r\n", 0},
        {8, L"Error - Other\r\n", 0},
        {9, L"Critical Error\r\n", 0},
        {10, L"Error\r\n", 0},
        {11, L"Error\r\n", 0},
        {12, L"Discovery Successful\r\n", 3},
        {13, L"Error\r\n", 0},
    };
    for (const auto& r : results) {
        EXPECT_STREQ(r.line, FlashComponent::ResultLine(r.code)) << r.code;
        EXPECT_EQ(r.result, FlashComponent::ResultOf(r.code)) << r.code;
    }
}

TEST_F(Engine, CurrentVersionIsWrittenWholeOrNotAtAll)
{
    FlashComponent component(nullptr);
    wchar_t buffer[64];
    wmemset(buffer, L'#', 64);
    EXPECT_EQ(0, component.GetCurrentVersion(buffer, 64));  // nothing marked
    EXPECT_EQ(L'#', buffer[0]);

    deviceCollection = {Marked("A", "1.0"), Marked("B", "2.0")};
    const std::wstring text = L"\r\nA: 1.0\n\r\nB: 2.0\n";
    EXPECT_EQ(0, component.GetCurrentVersion(buffer, static_cast<unsigned>(text.size())));  // no room for the NUL
    EXPECT_EQ(L'#', buffer[0]);
    EXPECT_EQ(1, component.GetCurrentVersion(buffer, static_cast<unsigned>(text.size() + 1)));
    EXPECT_EQ(text, std::wstring(buffer));
    EXPECT_EQ(L'#', buffer[text.size() + 1]);
}

TEST_F(Engine, InstallationAppendsOneLineAfterTheHostsText)
{
    FlashComponent component(nullptr);
    wchar_t message[64] = L"before\r\n";
    const LogTail log;
    EXPECT_EQ(0u, component.Installation(0, 0, message, 0, L"en"));
    EXPECT_STREQ(L"before\r\nError\r\n", message);
    EXPECT_EQ((std::vector<std::string>{"FlashComponent::Installation initiated.",
                                        "Attempting for firmware installation...", "FW binary file: ",
                                        "No firmware image (.bin) found in the package folder; nothing is flashed",
                                        "FlashComponent::Installation completed."}),
              log.Lines());
}

}  // namespace
