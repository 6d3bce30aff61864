// The WMI context against the real WMI service (Wine's Model reads "Wine").
#include "wmi_query.h"

#include <gtest/gtest.h>

#include <cwchar>

TEST(CWmiQuery, ReadsTheComputerModel)
{
    CWmiQuery query;
    ASSERT_EQ(0, query.ErrorCode()) << "COM set-up failed";
    ASSERT_EQ(1, query.Connect(L"ROOT\\CIMV2"));
    ASSERT_EQ(1, query.Select(L"Win32_ComputerSystem"));
    ASSERT_EQ(1, query.ReadProperty(L"Model", query.ResultBuffer()));
    EXPECT_STREQ(L"Wine", static_cast<const wchar_t*>(query.ResultBuffer()));
}

TEST(CWmiQuery, ModelMatchesIgnoringCaseAndTrailingBlanks)
{
    struct Case {
        const wchar_t* model;
        int match;
    } cases[] = {
        {L"Wine", 1}, {L"WINE", 1}, {L"wine  \t\r\n", 1}, {L" Wine", 0}, {L"Win", 0}, {L"", 0},
    };
    for (const Case& c : cases) {
        CWmiQuery query;
        EXPECT_EQ(c.match, query.IsComputerModel(c.model)) << c.model;
    }
}

TEST(CWmiQuery, OverlongModelTextIsBounded)
{
    std::wstring model = L"Wine" + std::wstring(400, L' ');
    CWmiQuery query;
    EXPECT_EQ(1, query.IsComputerModel(model.c_str()));
    std::wstring other(400, L'W');
    CWmiQuery second;
    EXPECT_EQ(0, second.IsComputerModel(other.c_str()));
}

TEST(CWmiQuery, BadNamespaceFailsAndLeavesNothingUsable)
{
    CWmiQuery query;
    EXPECT_EQ(0, query.Connect(L"ROOT\\NoSuchNamespace"));
    EXPECT_EQ(CWmiQuery::kErrorComSetup, query.ErrorCode());
    EXPECT_STREQ(L"An error occurred initializing the COM environment.", query.ErrorMessage());
    EXPECT_EQ(0, query.Select(L"Win32_ComputerSystem"));
    EXPECT_EQ(0, query.ReadProperty(L"Model", query.ResultBuffer()));
}

TEST(CWmiQuery, UnknownClassOrPropertyIsRefused)
{
    CWmiQuery query;
    ASSERT_EQ(1, query.Connect(L"ROOT\\CIMV2"));
    ASSERT_EQ(1, query.Select(L"Win32_ComputerSystem"));
    EXPECT_EQ(0, query.ReadProperty(L"NoSuchProperty", query.ResultBuffer()));
    CWmiQuery noQuery;
    EXPECT_EQ(0, noQuery.ReadProperty(L"Model", noQuery.ResultBuffer()));
}
