// The process log: flag bits, the UTC stamp, text mode, forwarding, failures.
#include "cmplog2.h"
#include "process_log.h"
#include "unique_resource.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <regex>
#include <vector>

using namespace tzrtest;

namespace {

const wchar_t kVerbose[] = L"\\tzrsystem\\log\\Verbose.log";

// Runs with the verbose file's folder present on the current drive (C:),
// the file itself removed, no component log attached, level 0.
class ProcessLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryW(L"\\tzrsystem", nullptr);
        CreateDirectoryW(L"\\tzrsystem\\log", nullptr);
        DeleteFileW(kVerbose);
        LogSetComponentLog(nullptr);
        LogSetVerboseLevel(0);
    }
    void TearDown() override
    {
        LogSetComponentLog(nullptr);
        LogSetVerboseLevel(0);
    }
    static std::string VerboseFile() { return ReadFileBytes(kVerbose); }
};

// A component log in a folder of its own, verbose on.
class AttachedLog {
public:
    AttachedLog()
    {
        m_log.reset(new CCmpLog2());
        m_log->EnableVerbose();
        m_log->Open();
        LogSetComponentLog(m_log.get());
    }
    ~AttachedLog()
    {
        LogSetComponentLog(nullptr);
        m_log.reset();
    }
    std::string Main() const { return ReadFileBytes(m_systemDrive.LogFolder() + L"tzrsetup.log"); }
    std::string Verbose() const { return ReadFileBytes(m_systemDrive.LogFolder() + L"tzrsetup.verbose.log"); }
    // A text without a line end waits for the rest of its line; closing
    // writes it as far as it got.
    void Close() { m_log->Close(); }

private:
    ScopedSystemDrive m_systemDrive{L"cmpdrive"};
    std::unique_ptr<CCmpLog2> m_log;
};

// Captures what the process prints on standard output during a call.
template <typename F>
std::string CaptureStdout(F&& f)
{
    fflush(stdout);
    const int saved = _dup(1);
    UniqueFile sink(fopen("stdout.capture", "w+b"));
    _dup2(_fileno(sink.get()), 1);
    f();
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    sink.reset();
    const std::string text = ReadFileBytes(L"stdout.capture");
    DeleteFileW(L"stdout.capture");
    return text;
}

}  // namespace

TEST_F(ProcessLogTest, Flag2AppendsAStampedCrLfLine)
{
    LogPrint(2, "setting verbose log level to %d\n", 1);
    const std::string file = VerboseFile();
    ASSERT_TRUE(HasUtcStamp(file)) << file;
    EXPECT_EQ("setting verbose log level to 1\r\n", StripUtcStamp(file));
}

TEST_F(ProcessLogTest, Flag40DropsTheStamp)
{
    LogPrint(0x42, "plain %s\n", "text");
    LogPrint(0x42, "two\nlines\n");
    EXPECT_EQ("plain text\r\ntwo\r\nlines\r\n", VerboseFile());
}

TEST_F(ProcessLogTest, VerboseLevelGatesFlag20)
{
    struct Case {
        int level;
        int flags;
        int copies;
    } cases[] = {
        {0, 0x60, 0}, {2, 0x60, 0}, {-1, 0x60, 0}, {1, 0x60, 1}, {1, 0x62, 2}, {0, 0x42, 1},
    };
    for (const Case& c : cases) {
        DeleteFileW(kVerbose);
        LogSetVerboseLevel(c.level);
        LogPrint(c.flags, "x\n");
        std::string expected;
        for (int i = 0; i < c.copies; ++i)
            expected += "x\r\n";
        EXPECT_EQ(expected, VerboseFile()) << "level " << c.level << " flags " << c.flags;
    }
}

TEST_F(ProcessLogTest, Flag08ReachesAllThreeFiles)
{
    AttachedLog attached;
    LogPrint(0x08, "all %d\n", 3);
    EXPECT_EQ("all 3\r\n", StripUtcStamp(VerboseFile()));
    EXPECT_EQ("all 3\n", attached.Main());
    EXPECT_TRUE(std::regex_match(attached.Verbose(), std::regex(R"(\[\d{1,2}:\d{2}:\d{2}\]::log\[157\] all 3\n)")))
        << attached.Verbose();
}

TEST_F(ProcessLogTest, ForwardingBitsChooseTheComponentFiles)
{
    AttachedLog attached;
    LogPrint(0x01, "main only\n");
    LogPrint(0x80, "verbose only\n");
    EXPECT_EQ("main only\n", attached.Main());
    EXPECT_TRUE(std::regex_match(attached.Verbose(), std::regex(R"(\[[0-9:]+\]::log\[157\] verbose only\n)")))
        << attached.Verbose();
    EXPECT_EQ("", VerboseFile());
}

TEST_F(ProcessLogTest, ForwardingWithoutAnAttachedLogDoesNothingElse)
{
    LogPrint(0x81, "nowhere\n");
    EXPECT_EQ("", VerboseFile());
    LogPrint(0x83, "only here\n");
    EXPECT_EQ("only here\r\n", StripUtcStamp(VerboseFile()));
}

TEST_F(ProcessLogTest, ForwardedPercentSignsAreNotFormattedTwice)
{
    AttachedLog attached;
    LogPrint(0x01, "%s\n", "100% %d %s");
    EXPECT_EQ("100% %d %s\n", attached.Main());
}

TEST_F(ProcessLogTest, ForwardedTextIsCutAt1023Bytes)
{
    AttachedLog attached;
    const std::string text(5000, 'f');
    LogPrint(0x01, "%s", text.c_str());
    attached.Close();
    EXPECT_EQ(std::string(1023, 'f'), attached.Main());
    // The verbose file of the process takes up to a line's bound.
    LogPrint(0x42, "%s", text.c_str());
    EXPECT_EQ(std::string(kLogLineBytes - 2, 'f') + "\r\n", VerboseFile());
}

// What the vendor tool prints reaches the files inside a line: a text that
// fits the line's 4096 bytes (its terminator included) is written as it is,
// a longer one is cut to what fits and still ends its line.
TEST_F(ProcessLogTest, FileLinesAreBoundedAndEndTheirLine)
{
    const size_t fits = kLogLineBytes - 1;
    const struct {
        size_t digits;
        std::string expected;  // what the verbose file holds after "count %s\n"
    } cases[] = {
        {fits - 7, "count " + std::string(fits - 7, '7') + "\r\n"},  // 4095 bytes with its line end
        {fits - 6, "count " + std::string(fits - 7, '7') + "\r\n"},  // one more: the line end is kept
        {10u << 20, "count " + std::string(fits - 7, '7') + "\r\n"},
        {3, "count 777\r\n"},
    };
    LogSetFileName("bounded.log");
    LogSetVerboseLevel(1);
    for (const auto& c : cases) {
        DeleteFileW(kVerbose);
        DeleteFileW(L"bounded.log");
        const std::string digits(c.digits, '7');
        // Verbose file twice (0x02 and 0x20 at level 1), named file once.
        LogPrint(0x72, "count %s\n", digits.c_str());
        EXPECT_EQ(c.expected + c.expected, VerboseFile()) << c.digits;
        EXPECT_EQ(c.expected, ReadFileBytes(L"bounded.log")) << c.digits;
        LogPrint(0x02, "count %s\n", digits.c_str());
        const std::string stamped = VerboseFile().substr(2 * c.expected.size());
        EXPECT_TRUE(HasUtcStamp(stamped)) << c.digits;
        EXPECT_EQ(c.expected, StripUtcStamp(stamped)) << c.digits;
    }
    DeleteFileW(L"bounded.log");
    LogSetFileName(nullptr);
}

TEST_F(ProcessLogTest, NamedFileGetsTheTextWithoutStamp)
{
    LogSetFileName("named.log");
    DeleteFileW(L"named.log");
    LogPrint(0x10, "named %d\n", 1);
    LogPrint(0x10, "again\n");
    EXPECT_EQ("named 1\r\nagain\r\n", ReadFileBytes(L"named.log"));
    EXPECT_EQ("", VerboseFile());
    DeleteFileW(L"named.log");
}

TEST_F(ProcessLogTest, OverlongNamedFileIsCutTo511Bytes)
{
    std::string path(600, 'p');
    path[510] = 'E';
    path[511] = 'X';
    LogSetFileName(path.c_str());
    EXPECT_EQ(path.substr(0, 511), LogGetFileName());
    LogSetFileName(nullptr);
    EXPECT_STREQ("", LogGetFileName());
}

TEST_F(ProcessLogTest, OpenFailureIsReportedOncePerFile)
{
    // The verbose file's folder does not exist on drive Z: (the Linux root),
    // and the named file's folder does not exist anywhere.
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    ASSERT_TRUE(SetCurrentDirectoryW(L"Z:\\tmp"));
    ASSERT_FALSE(FileExists(L"\\tzrsystem\\log"));
    const std::string verbose = CaptureStdout([] {
        LogPrint(2, "first\n");
        LogPrint(2, "second\n");
    });
    SetCurrentDirectoryW(cwd);
    EXPECT_EQ("Failed to open log file \\tzrsystem\\log\\Verbose.log : No such file or directory\n", verbose);

    LogSetFileName("C:\\no\\such\\folder\\named.log");
    const std::string named = CaptureStdout([] {
        LogPrint(0x10, "first\n");
        LogPrint(0x10, "second\n");
    });
    LogSetFileName(nullptr);
    EXPECT_EQ("Failed to open log file C:\\no\\such\\folder\\named.log : No such file or directory\n", named);

    // Once reported, later failures are silent; the engine's record still
    // goes beside the component log (here the same file as drive C:'s).
    LogPrint(2, "works\n");
    std::vector<std::string> lines;
    for (const std::string& line : SplitCrLf(VerboseFile()))
        lines.push_back(StripUtcStamp(line));
    EXPECT_EQ((std::vector<std::string>{"first", "second", "works"}), lines);
}

TEST(LogDateString, IsDayMonthYearAndTime)
{
    const std::string date = LogDateString();
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{2} [A-Z][a-z]{2} \d{4} - \d{2}:\d{2}:\d{2})"))) << date;
}
