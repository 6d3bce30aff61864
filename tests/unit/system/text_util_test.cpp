// The shared text helpers: bounded copies never write past their capacity,
// the decimal readers hold absurd values instead of wrapping.
#include "text_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(TextUtil, BoundedCopyAndAppendStayInsideTheCapacity)
{
    struct Case {
        const wchar_t* start;
        const wchar_t* append;
        size_t capacity;
        const wchar_t* expected;
    } cases[] = {
        {L"", L"abc", 4, L"abc"},
        {L"", L"abcd", 4, L"abc"},
        {L"ab", L"cd", 4, L"abc"},
        {L"abc", L"d", 4, L"abc"},
        {L"", nullptr, 4, L""},
        {L"", L"abc", 1, L""},
    };
    for (const Case& c : cases) {
        wchar_t buffer[8];
        for (wchar_t& w : buffer)
            w = L'#';
        BoundedCopy(buffer, c.capacity, c.start);
        BoundedAppend(buffer, c.capacity, c.append);
        EXPECT_EQ(std::wstring(c.expected), buffer) << c.capacity;
        for (size_t i = c.capacity; i < 8; ++i)
            ASSERT_EQ(L'#', buffer[i]) << "written past the capacity at " << i;
    }
    // A destination without a terminator counts as full and gets one.
    wchar_t full[4] = {L'x', L'x', L'x', L'x'};
    BoundedAppend(full, 4, L"y");
    EXPECT_EQ(std::wstring(L"xxx"), full);
    BoundedCopy(static_cast<wchar_t*>(nullptr), 4, L"y");  // nothing to write into
}

TEST(TextUtil, DecimalReadersHoldTheirRange)
{
    struct Case {
        const char* text;
        long long held32;  // ReadDecimal held at 0xFFFFFFFF
        int asInt;         // ReadDecimalInt
        int firstNumber;   // FirstNumberIn
    } cases[] = {
        {"  42xyz", 42, 42, 42},
        {"\t\r\n-7", -7, -7, 7},
        {"+", 0, 0, 0},
        {"abc", 0, 0, 0},
        {"2147483647", 2147483647LL, INT_MAX, INT_MAX},
        {"2147483648", 2147483648LL, INT_MAX, INT_MAX},
        {"-2147483648", -2147483648LL, INT_MIN, INT_MAX},
        {"-99999999999999999999999", -0xFFFFFFFFLL, INT_MIN, INT_MAX},
        {"4294967296", 0xFFFFFFFFLL, INT_MAX, INT_MAX},
        {"Service Pack 2", 0, 0, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.held32, ReadDecimal(c.text, 0xFFFFFFFFLL)) << c.text;
        EXPECT_EQ(c.asInt, ReadDecimalInt(c.text)) << c.text;
        EXPECT_EQ(c.firstNumber, FirstNumberIn(c.text)) << c.text;
        const std::wstring wide(c.text, c.text + std::char_traits<char>::length(c.text));
        EXPECT_EQ(c.asInt, ReadDecimalInt(wide.c_str())) << c.text;
    }
    EXPECT_EQ(0, ReadDecimalInt(static_cast<const char*>(nullptr)));
}

TEST(TextUtil, CaseFoldingTouchesOnlyAsciiLetters)
{
    EXPECT_EQ(std::string("PCI\\VEN_8086&DEV_1234"), [] {
        std::string s = "pci\\ven_8086&dev_1234";
        for (char& c : s)
            c = AsciiUpper(c);
        return s;
    }());
    EXPECT_EQ(L'\u00e9', AsciiUpper(L'\u00e9'));
    EXPECT_EQ(L'\u00c9', AsciiLower(L'\u00c9'));
    EXPECT_EQ('[', AsciiLower('['));
    EXPECT_EQ('@', AsciiUpper('@'));
}

}  // namespace
