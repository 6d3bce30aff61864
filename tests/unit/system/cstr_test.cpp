// CStr: what the framework's text type adds to std::wstring.
#include "CStr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <new>
#include <stdexcept>

// Array allocations still outstanding in this test program: CStr hands out
// its scratch arrays with new[], so a leak shows here.
long g_nArraysOutstanding = 0;
void* operator new[](std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    ++g_nArraysOutstanding;
    return p;
}
void operator delete[](void* p) noexcept
{
    if (p) {
        --g_nArraysOutstanding;
        std::free(p);
    }
}
void operator delete[](void* p, std::size_t) noexcept
{
    operator delete[](p);
}

TEST(CStr, BufferBracketTakesWhatWasFormatted)
{
    CStr s;
    wchar_t* p = s.GetBuffer(260);
    EXPECT_EQ(260u, s.ScratchSize());
    swprintf(p, 260, L"PCI\\VEN_%ls&DEV_%ls", L"8086", L"1234");
    s.ReleaseBuffer(0);
    EXPECT_EQ(L"PCI\\VEN_8086&DEV_1234", s);
    EXPECT_EQ(0u, s.ScratchSize());
}

TEST(CStr, GetBufferCopiesTheTextAndZeroMeansLengthPlusOne)
{
    CStr s(L"abc");
    wchar_t* p = s.GetBuffer(0);
    EXPECT_EQ(4u, s.ScratchSize());
    EXPECT_STREQ(L"abc", p);
    p[1] = L'X';
    s.ReleaseBuffer(0);
    EXPECT_EQ(L"aXc", s);
}

TEST(CStr, GetBufferSmallerThanTheTextNeverOverruns)
{
    CStr s(L"abcdef");
    wchar_t* p = s.GetBuffer(3);
    EXPECT_STREQ(L"ab", p);
    s.ReleaseBuffer(0);
    EXPECT_EQ(L"ab", s);
}

TEST(CStr, ReleaseWithoutNulKeepsAllButTheLastElement)
{
    CStr s;
    wchar_t* p = s.GetBuffer(5);
    wmemset(p, L'z', 5);
    s.ReleaseBuffer(0);
    EXPECT_EQ(L"zzzz", s);
}

TEST(CStr, ReleaseWithCountTakesThatManyCharacters)
{
    CStr s(L"hello world");
    s.GetBuffer(0);
    s.ReleaseBuffer(5);
    EXPECT_EQ(L"hello", s);
}

TEST(CStr, CopiesTakeTheTextButNeverTheScratchArray)
{
    CStr a(L"text");
    a.GetBuffer(64);
    CStr b(a);
    EXPECT_EQ(L"text", b);
    EXPECT_EQ(0u, b.ScratchSize());
    CStr c;
    c = a;
    EXPECT_EQ(0u, c.ScratchSize());
    EXPECT_EQ(64u, a.ScratchSize());
}

TEST(CStr, CompareNoCaseFoldsAsciiLetters)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* other;
        int sign;
    } cases[] = {
        {L"Hello", L"hELLO", 0},
        {L"", L"", 0},
        {L"abc", L"abd", -1},
        {L"abd", L"ABC", 1},
        {L"ab", L"abc", -1},
        {L"[", L"a", -1},  // '[' sorts before 'a' once 'A'..'Z' are folded
    };
    for (const Case& c : cases) {
        const int r = CStr(c.text).CompareNoCase(c.other);
        EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.text << L" vs " << c.other;
    }
    EXPECT_EQ(1, CStr(L"x").CompareNoCase(nullptr));
}

TEST(CStr, FindNoCaseLeavesTheTextAlone)
{
    CStr s(L"Driver.SOFTWARESettings");
    EXPECT_EQ(6, s.FindNoCase(L".SoftwareSettings"));
    EXPECT_EQ(L"Driver.SOFTWARESettings", s);
    EXPECT_EQ(-1, CStr(L"Driver.Hardware").FindNoCase(L".SoftwareSettings"));
    EXPECT_EQ(0, CStr(L"abc").FindNoCase(L""));
}

TEST(CStr, CaseMappingStopsAtAnEmbeddedNul)
{
    CStr s(L"AbC");
    s.push_back(L'\0');
    s += L"DeF";
    CStr lower(s);
    lower.MakeLower();
    EXPECT_EQ(L"abc", lower);
    CStr upper(s);
    upper.MakeUpper();
    EXPECT_EQ(L"ABC", upper);
}

TEST(CStr, MidCutsAtTheEndAndRefusesAStartPastIt)
{
    const CStr s(L"ABCDEFGH");
    EXPECT_EQ(L"EFGH", s.Mid(4, 4));
    EXPECT_EQ(L"GH", s.Mid(6, 4));
    EXPECT_EQ(L"", s.Mid(8, 4));
    try {
        s.Mid(9, 1);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("invalid string position", e.what());
    }
}

TEST(CStr, FindIsCaseSensitive)
{
    const CStr s(L"abcABC");
    EXPECT_EQ(s.GetString() + 3, s.Find(L"ABC"));
    EXPECT_EQ(nullptr, s.Find(L"xyz"));
    EXPECT_EQ(nullptr, s.Find(nullptr));
    EXPECT_EQ(s.GetString(), s.Find(L""));
}

TEST(CStr, Trimming)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* left;
        const wchar_t* right;
    } cases[] = {
        {L"  \t x y \r\n", L"x y \r\n", L"  \t x y"},
        {L"abc  ", L"abc  ", L"abc"},
        {L" \t\r\n\v\f", L"", L""},
        {L"", L"", L""},
        {L"x", L"x", L"x"},
    };
    for (const Case& c : cases) {
        CStr left(c.text);
        left.TrimLeft();
        EXPECT_EQ(c.left, left);
        CStr right(c.text);
        right.TrimRight();
        EXPECT_EQ(c.right, right);
    }
}

TEST(CStr, DestroyingWithAnOutstandingBufferFreesIt)
{
    const long before = g_nArraysOutstanding;
    for (int i = 0; i < 1000; ++i) {
        CStr s(L"x");
        s.GetBuffer(4096);
        EXPECT_EQ(before + 1, g_nArraysOutstanding);
        s.GetBuffer(16);  // a second request frees the first array
        EXPECT_EQ(before + 1, g_nArraysOutstanding);
        CStr moved(std::move(s));  // the array stays with the string it was handed out by
    }
    EXPECT_EQ(before, g_nArraysOutstanding);
}
