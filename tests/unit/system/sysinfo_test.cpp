// The framework's small system operations.
#include "sysinfo.h"
#include "test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <string>

using namespace tzrtest;

TEST(FindTextNoCase, Table)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* pattern;
        int index;
    } cases[] = {
        {L"app /Verbose_LOG x", L"/verbose_log", 4},
        {L"/no_overwrite", L"/NO_OVERWRITE", 0},
        {L"x/consoleoutput", L"/consoleout", 1},
        {L"abc", L"", -1},
        {L"ab", L"abc", -1},
        {L"abc", L"abd", -1},
        {L"", L"a", -1},
        {L"aaab", L"aab", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.index, FindTextNoCase(c.text, c.pattern)) << c.text << L" / " << c.pattern;
    EXPECT_EQ(-1, FindTextNoCase(nullptr, L"a"));
    EXPECT_EQ(-1, FindTextNoCase(L"a", nullptr));
}

TEST(TrimTrailingSpace, RemovesTheRunAtTheEndOnly)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* trimmed;
    } cases[] = {
        {L" \t\r\nModel \t\r\n ", L" \t\r\nModel"},
        {L"Model", L"Model"},
        {L"   ", L""},
        {L"", L""},
        {L"a\vb\v", L"a\vb\v"},  // only blank, tab, CR and LF count
    };
    for (const Case& c : cases) {
        wchar_t buffer[300];
        wcscpy(buffer, c.text);
        EXPECT_STREQ(c.trimmed, TrimTrailingSpace(buffer));
    }
}

TEST(TrimTrailingSpace, HoldsALongTextTo254Characters)
{
    std::wstring text(300, L'x');
    EXPECT_EQ(254u, wcslen(TrimTrailingSpace(&text[0])));
    std::wstring padded = std::wstring(250, L'y') + std::wstring(20, L' ');
    EXPECT_EQ(250u, wcslen(TrimTrailingSpace(&padded[0])));
}

class CreateDirectoryPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        m_root = std::wstring(cwd) + L"\\mkdirs";
        RemoveTree(m_root);
        CreateDirectoryW(m_root.c_str(), nullptr);
    }
    void TearDown() override { RemoveTree(m_root); }
    bool IsDir(const std::wstring& p) const
    {
        const DWORD a = GetFileAttributesW(p.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    std::wstring m_root;
};

TEST_F(CreateDirectoryPathTest, EndingInASeparatorCreatesEveryLevel)
{
    CreateDirectoryPath((m_root + L"\\a\\b/c\\").c_str());
    EXPECT_TRUE(IsDir(m_root + L"\\a\\b\\c"));
}

TEST_F(CreateDirectoryPathTest, EndingInANameLeavesTheLastLevelOut)
{
    CreateDirectoryPath((m_root + L"\\a\\b\\file.log").c_str());
    EXPECT_TRUE(IsDir(m_root + L"\\a\\b"));
    EXPECT_FALSE(IsDir(m_root + L"\\a\\b\\file.log"));
}

TEST_F(CreateDirectoryPathTest, EmptyDoubledAndExistingComponentsAreHarmless)
{
    CreateDirectoryPath((m_root + L"\\\\x\\\\y\\").c_str());
    CreateDirectoryPath((m_root + L"\\x\\y\\").c_str());
    EXPECT_TRUE(IsDir(m_root + L"\\x\\y"));
    CreateDirectoryPath(nullptr);
    CreateDirectoryPath(L"");
}

TEST_F(CreateDirectoryPathTest, OverlongPathIsBoundedNotOverrun)
{
    std::wstring deep = m_root;
    while (deep.size() < 600)
        deep += L"\\abcdefghij";
    CreateDirectoryPath((deep + L"\\").c_str());
    // A path beyond 260 characters is refused whole: not a cut one, and not
    // even its first levels.
    EXPECT_TRUE(IsDir(m_root));
    EXPECT_FALSE(IsDir(m_root + L"\\abcdefghij"));
}

TEST(GetTimeString, Is24HourWithoutMarker)
{
    wchar_t buffer[255];
    const int n = GetTimeString(buffer, 255);
    EXPECT_EQ(static_cast<int>(wcslen(buffer)), n);
    const std::string text = Narrow(buffer);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{1,2}:\d{2}:\d{2})"))) << text;
}

TEST(GetTimeString, SmallCapacityIsBounded)
{
    wchar_t buffer[4] = {L'#', L'#', L'#', L'#'};
    const int n = GetTimeString(buffer, 3);
    EXPECT_EQ(2, n);
    EXPECT_EQ(L'\0', buffer[2]);
    EXPECT_EQ(L'#', buffer[3]);
}
