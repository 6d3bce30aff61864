// The package version split into the four 16-bit numbers of a file version:
// every part bounded, whatever the text holds.
#include "package_version_parts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Printable(const wchar_t* text)
{
    if (!text)
        return "null";
    std::string out;
    for (; *text; ++text)
        out += static_cast<char>(*text < 0x80 ? *text : '?');
    return out;
}

}  // namespace

TEST(PackageVersionParts, SplitsIntoFourSixteenBitNumbers)
{
    struct Case {
        const wchar_t* text;
        uint32_t high, low;
    } cases[] = {
        {L"2.10", 0x0002000A, 0},
        {L"2.9", 0x00020009, 0},
        {L"5.2.3790.0", 0x00050002, 0x0ECE0000},
        {L"1.2.3.4.5", 0x00010002, 0x00030004},
        {L"65535.65535.65535.65535", 0xFFFFFFFF, 0xFFFFFFFF},
        {L"65536.1", 0x00000001, 0},                      // taken as 16 bits
        {L"99999.99999.x.-1", 0x869F869F, 0x0000FFFF},    // 99999 & 0xFFFF, x reads 0, -1 as 16 bits
        {L"99999999999999999999.1", 0xFFFF0001, 0},       // held at the limit of int, never wrapped
        {L"", 0, 0},
        {L"...", 0, 0},
        {L"3a.7", 0x00030007, 0},
        {L" 4.5", 0x00040005, 0},
        {nullptr, 0, 0},
    };
    for (const Case& k : cases) {
        const PackageVersionParts parts = SplitPackageVersion(k.text);
        EXPECT_EQ(k.high, parts.high) << Printable(k.text);
        EXPECT_EQ(k.low, parts.low) << Printable(k.text);
    }
}
