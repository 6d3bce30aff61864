// The component log: paths, modes, types, headers, ANSI conversion, appending.
#include "cmplog2.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <regex>

using namespace tzrtest;

namespace {

// Points %systemdrive% at a folder of the test's own, so each test's log
// folder starts empty and nothing touches the prefix's real C:\tzrsystem.
class CmpLogTest : public ::testing::Test {
protected:
    void SetUp() override { SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", nullptr); }
    void TearDown() override { SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", nullptr); }
    std::wstring Folder() const { return m_systemDrive.LogFolder(); }
    std::string Main() const { return ReadFileBytes(Folder() + L"tzrsetup.log"); }
    std::string Verbose() const { return ReadFileBytes(Folder() + L"tzrsetup.verbose.log"); }

    ScopedSystemDrive m_systemDrive{L"drive"};
    const std::wstring m_drive = m_systemDrive.Path();
};

template <class Text>
Text Repeat(const Text& piece, int times)
{
    Text text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// "[time]::" prefix of a verbose header, as a pattern.
const char kTime[] = R"(\[\d{1,2}:\d{2}:\d{2}\]::)";

}  // namespace

TEST_F(CmpLogTest, PathsComeFromTheSystemDrive)
{
    CCmpLog2 log;
    EXPECT_EQ(Folder(), log.Folder());
    EXPECT_EQ(Folder() + L"tzrsetup.log", log.MainPath());
    EXPECT_EQ(Folder() + L"tzrsetup.verbose.log", log.VerbosePath());
    EXPECT_EQ(0, log.IsVerbose());
}

TEST_F(CmpLogTest, WithoutVerboseOnlyTheMainFileIsCreated)
{
    CCmpLog2 log;
    EXPECT_EQ(0u, log.Open());
    EXPECT_TRUE(FileExists(Folder() + L"tzrsetup.log"));
    EXPECT_FALSE(FileExists(Folder() + L"tzrsetup.verbose.log"));
    EXPECT_EQ("", Main());  // nothing is written at open
}

TEST_F(CmpLogTest, EnvironmentVariableChoosesAndEnablesTheVerboseFile)
{
    const std::wstring chosen = m_drive + L"\\elsewhere.log";
    SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", chosen.c_str());
    CCmpLog2 log;
    EXPECT_EQ(1, log.IsVerbose());
    EXPECT_EQ(chosen, log.VerbosePath());
    EXPECT_EQ(0u, log.Open());
    log.Write(1, 0, L"src\\basecomp.cpp", 12, L"hello\r\n");
    log.Close();
    EXPECT_TRUE(std::regex_match(ReadFileBytes(chosen), std::regex(std::string(kTime) + R"(basecomp\.cpp\[12\] hello\r\n)")));
}

TEST_F(CmpLogTest, EnableVerboseTakesEffectAtOpen)
{
    CCmpLog2 log;
    log.EnableVerbose();
    EXPECT_EQ(1, log.IsVerbose());
    EXPECT_EQ(0u, log.Open());
    EXPECT_TRUE(FileExists(Folder() + L"tzrsetup.verbose.log"));
}

TEST_F(CmpLogTest, SetVerboseFileNameSetsThePathAndTheEnvironment)
{
    CCmpLog2 log;
    EXPECT_TRUE(log.SetVerboseFileName(L"mine.log"));
    EXPECT_EQ(Folder() + L"mine.log", log.VerbosePath());
    wchar_t value[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", value, MAX_PATH);
    EXPECT_EQ(Folder() + L"mine.log", value);
    // A log constructed later in the process writes the same file.
    CCmpLog2 later;
    EXPECT_EQ(Folder() + L"mine.log", later.VerbosePath());
    EXPECT_EQ(1, later.IsVerbose());
}

struct ModeCase {
    unsigned mode;
    int type;
    const char* main;     // exact bytes of the main file
    const char* verbose;  // pattern of the verbose file, or "" for nothing
};

class WriteModes : public CmpLogTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(WriteModes, ChooseFilesHeadersAndMarkers)
{
    const ModeCase& c = GetParam();
    CCmpLog2 log;
    log.EnableVerbose();
    ASSERT_EQ(0u, log.Open());
    log.Write(c.mode, c.type, L"C:\\src\\framework\\basecomp.cpp", 42, L"text %d\r\n", 7);
    log.Close();
    EXPECT_EQ(c.main, Main());
    if (*c.verbose)
        EXPECT_TRUE(std::regex_match(Verbose(), std::regex(c.verbose))) << Verbose();
    else
        EXPECT_EQ("", Verbose());
}

INSTANTIATE_TEST_SUITE_P(
    CCmpLog2, WriteModes,
    ::testing::Values(
        ModeCase{0, 0, "text 7\r\n", ""},
        ModeCase{1, 0, "", R"(\[\d{1,2}:\d{2}:\d{2}\]::basecomp\.cpp\[42\] text 7\r\n)"},
        ModeCase{2, 0, "", "text 7\r\n"},
        ModeCase{3, 0, "text 7\r\n", R"(\[\d{1,2}:\d{2}:\d{2}\]::basecomp\.cpp\[42\] text 7\r\n)"},
        ModeCase{4, 0, "text 7\r\n", "text 7\r\n"},
        ModeCase{5, 0, "", ""},
        ModeCase{99, 2, "", ""},
        ModeCase{3, 1, "**WARNING** - text 7\r\n",
                 R"(\[\d{1,2}:\d{2}:\d{2}\]::basecomp\.cpp\[42\] \*\*WARNING\*\* - text 7\r\n)"},
        ModeCase{3, 2, "**ERROR** - text 7\r\n",
                 R"(\[\d{1,2}:\d{2}:\d{2}\]::basecomp\.cpp\[42\] \*\*ERROR\*\* - text 7\r\n)"},
        ModeCase{3, 3, "**CRITICAL** - text 7\r\n",
                 R"(\[\d{1,2}:\d{2}:\d{2}\]::basecomp\.cpp\[42\] \*\*CRITICAL\*\* - text 7\r\n)"},
        ModeCase{4, 2, "**ERROR** - text 7\r\n", R"(\*\*ERROR\*\* - text 7\r\n)"},
        ModeCase{3, 7, "text 7\r\n", R"(\[\d{1,2}:\d{2}:\d{2}\]::basecomp\.cpp\[42\] text 7\r\n)"}));

TEST_F(CmpLogTest, NullSourceGivesAnEmptyName)
{
    CCmpLog2 log;
    log.EnableVerbose();
    log.Open();
    log.Write(1, 0, nullptr, 5, L"x");
    log.Close();
    EXPECT_TRUE(std::regex_match(Verbose(), std::regex(std::string(kTime) + R"(\[5\] x)"))) << Verbose();
}

TEST_F(CmpLogTest, LongMessageIsCutAtTheLineBoundKeepingItsLineEnd)
{
    const std::wstring text(5000, L'a');
    const struct {
        const wchar_t* format;
        std::string expected;
    } cases[] = {
        {L"%ls|", std::string(4095, 'a')},
        {L"%ls\r\n", std::string(4093, 'a') + "\r\n"},
        {L"%.4095ls", std::string(4095, 'a')},
        {L"%.4093ls\r\n", std::string(4093, 'a') + "\r\n"},
    };
    for (const auto& c : cases) {
        DeleteFileW((Folder() + L"tzrsetup.log").c_str());
        CCmpLog2 log;
        log.Open();
        log.Write(0, 0, nullptr, 0, c.format, text.c_str());
        log.Close();
        EXPECT_EQ(c.expected, Main()) << Narrow(c.format);
    }
}

TEST_F(CmpLogTest, TextIsConvertedToTheAnsiCodePage)
{
    CCmpLog2 log;
    log.Open();
    // U+00E9 exists in the Western code pages; U+30C6 does not and becomes
    // the code page's default character.
    log.WriteText(0, 0, nullptr, 0, L"caf\u00e9 \u30c6\r\n");
    log.Close();
    const std::string expected = GetACP() == 1252 ? "caf\xe9 ?\r\n" : "";
    if (expected.empty())
        GTEST_SKIP() << "ANSI code page " << GetACP();
    EXPECT_EQ(expected, Main());
}

// Where the ANSI code page is UTF-8 (Windows' "use Unicode UTF-8" setting) a
// character takes up to four bytes: a line over the bound is cut between
// whole characters, keeping all that fits. Wine makes UTF-8 the ANSI code
// page of a process whose locale has none of its own: the test runs as
// unit_log_utf8, under LC_ALL=hi_IN (Hindi), which changes nothing in the
// prefix.
TEST_F(CmpLogTest, Utf8CodePageCutsLongLinesBetweenWholeCharacters)
{
    if (GetACP() != CP_UTF8) {
        ASSERT_EQ(0u, GetEnvironmentVariableW(L"TZR_EXPECT_UTF8", nullptr, 0)) << "ANSI code page " << GetACP();
        GTEST_SKIP() << "runs as unit_log_utf8, under a UTF-8 ANSI code page";
    }
    const std::string te = "\xE3\x83\x86", smile = "\xF0\x9F\x98\x80";  // U+30C6, U+1F600
    const struct {
        std::wstring text;
        std::string expected;
    } cases[] = {
        {L"caf\u00e9 \u30c6 \U0001F600\r\n", "caf\xC3\xA9 " + te + " " + smile + "\r\n"},
        // 4093 bytes for the text before the line end: 1364 characters of three.
        {Repeat(std::wstring(L"\u30c6"), 5000) + L"\r\n", Repeat(te, 1364) + "\r\n"},
        // 4095 bytes: 1023 pairs of four, never half a pair.
        {Repeat(std::wstring(L"\U0001F600"), 3000), Repeat(smile, 1023)},
    };
    for (const auto& c : cases) {
        DeleteFileW((Folder() + L"tzrsetup.log").c_str());
        CCmpLog2 log;
        log.Open();
        log.WriteText(0, 0, nullptr, 0, c.text.c_str());
        log.Close();
        EXPECT_EQ(c.expected, Main()) << c.expected.size();
    }
}

TEST_F(CmpLogTest, ReopeningAppendsAndWritesBeforeOpenAreDropped)
{
    {
        CCmpLog2 log;
        log.Write(0, 0, nullptr, 0, L"dropped\r\n");
        log.Open();
        log.Write(0, 0, nullptr, 0, L"one\r\n");
    }
    {
        CCmpLog2 log;
        log.Open();
        log.Write(0, 0, nullptr, 0, L"two\r\n");
        log.Close();
        log.Write(0, 0, nullptr, 0, L"after close\r\n");
    }
    EXPECT_EQ("one\r\ntwo\r\n", Main());
}

// Two writers append at the end, and an entry's start ("... ") leaves with
// its continuation in one write: the other writer's line never comes
// between them. A line still open at Close goes out as far as it got.
TEST_F(CmpLogTest, TwoWritersAppendWholeLinesAtTheEnd)
{
    CCmpLog2 a, b;
    a.Open();
    b.Open();
    a.Write(0, 0, nullptr, 0, L"a1... ");
    b.Write(0, 0, nullptr, 0, L"b1\r\n");
    a.Write(0, 0, nullptr, 0, L"Done.\r\n");
    b.Write(0, 0, nullptr, 0, L"b2... ");
    a.Close();
    b.Close();
    EXPECT_EQ("b1\r\na1... Done.\r\nb2... ", Main());
}

TEST_F(CmpLogTest, UnopenableFolderFailsOpenAndDropsWrites)
{
    SetEnvironmentVariableW(L"SystemDrive", L"Q:");
    CCmpLog2 log;
    log.EnableVerbose();
    EXPECT_EQ(CCmpLog2::kOpenFailed, log.Open());
    EXPECT_FALSE(log.IsMainOpen());
    EXPECT_FALSE(log.IsVerboseOpen());
    log.Write(3, 2, L"x", 1, L"nothing happens\r\n");
}

TEST_F(CmpLogTest, OverlongPathsAreCutNotOverrun)
{
    const std::wstring longDrive = m_drive + L"\\" + std::wstring(300, L'd');
    SetEnvironmentVariableW(L"SystemDrive", longDrive.c_str());
    CCmpLog2 log;
    EXPECT_EQ(259u, wcslen(log.Folder()));
    EXPECT_EQ(0, wcsncmp(log.Folder(), longDrive.c_str(), 259));
    EXPECT_EQ(259u, wcslen(log.MainPath()));
    EXPECT_EQ(259u, wcslen(log.VerbosePath()));
    log.Open();  // fails or not, it must stay inside its arrays
    const std::wstring name(400, L'n');
    log.SetVerboseFileName(name.c_str());
    EXPECT_EQ(259u, wcslen(log.VerbosePath()));
    // A verbose file name from the environment longer than a path: ignored.
    SetEnvironmentVariableW(L"SystemDrive", m_drive.c_str());
    const std::wstring tooLong = m_drive + L"\\" + std::wstring(300, L'v');
    SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", tooLong.c_str());
    CCmpLog2 other;
    EXPECT_EQ(Folder() + L"tzrsetup.verbose.log", other.VerbosePath());
    EXPECT_EQ(0, other.IsVerbose());
}
