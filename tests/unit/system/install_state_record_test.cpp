// The install-state record: the code at byte 0, the message from byte 4,
// and never a byte written past the size the host gave.
#include "install_state_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const unsigned char kGuard = 0xA5;

struct RecordCase {
    unsigned size;            // bytes the host says the record has
    const wchar_t* message;
    const wchar_t* expected;  // what the record holds afterwards; null: nothing written
};

TEST(InstallStateRecord, TheMessageIsCutToTheRecordAndAlwaysTerminated)
{
    const RecordCase cases[] = {
        {0, L"abc", nullptr},
        {3, L"abc", nullptr},       // too small even for the code
        {4, L"abc", nullptr},       // the code only: no unit left for a terminator
        {5, L"abc", nullptr},       // half a unit is no unit
        {6, L"abc", L""},           // room for the terminator alone
        {9, L"abc", L"a"},          // odd size: (9 - 4) / 2 = 2 units, one the terminator
        {12, L"abc", L"abc"},
        {12, nullptr, L""},
        {2052, L"The OS is not supported.\r\n", L"The OS is not supported.\r\n"},
    };
    for (const RecordCase& c : cases) {
        // One byte of offset so the message is not aligned for wchar_t.
        std::vector<unsigned char> bytes(1 + c.size + 16, kGuard);
        InstallStateRecord record(bytes.data() + 1, c.size);
        record.SetState(7);
        record.SetMessage(c.message);
        const std::string label = "size " + std::to_string(c.size);

        if (c.size >= 4) {
            EXPECT_EQ(7u, record.State()) << label;
        } else {
            EXPECT_EQ(0u, record.State()) << label;
        }
        size_t written = c.size >= 4 ? 4 : 0;
        if (c.expected) {
            std::wstring held;
            for (size_t i = 5;; i += 2) {
                wchar_t unit;
                memcpy(&unit, &bytes[i], sizeof unit);
                if (unit == L'\0')
                    break;
                held.push_back(unit);
            }
            EXPECT_EQ(std::wstring(c.expected), held) << label;
            written = 4 + (held.size() + 1) * 2;
        }
        EXPECT_EQ(kGuard, bytes[0]) << label;
        for (size_t i = 1 + written; i < bytes.size(); ++i)
            ASSERT_EQ(kGuard, bytes[i]) << label << ", byte " << i - 1;
        EXPECT_LE(written, c.size < 4 ? 0u : c.size) << label;
    }
}

TEST(InstallStateRecord, OnlyARecordOfTheMinimumSizeIsFull)
{
    unsigned char bytes[2052] = {};
    EXPECT_FALSE(InstallStateRecord(bytes, 2051).IsFullSize());
    EXPECT_TRUE(InstallStateRecord(bytes, 2052).IsFullSize());
    EXPECT_FALSE(InstallStateRecord(nullptr, 2052).IsFullSize());
    EXPECT_EQ(1024u, InstallStateRecord(bytes, 2052).MessageCapacity());
}

}  // namespace
