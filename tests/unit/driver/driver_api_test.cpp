// The driver APIs are reached through one loader that knows Wine's stubs.
#include "driver_api.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_notices;
void RecordNotice(void* context, const char* function)
{
    EXPECT_EQ(&g_notices, context);
    g_notices.push_back(function);
}

TEST(DriverApi, AStubbedCallIsRefusedOnWineWithOneNoticeAndNeverMade)
{
    ASSERT_TRUE(driverapi::RunningOnWine()) << "these tests run under Wine";
    g_notices.clear();
    driverapi::SetStubNotice(RecordNotice, &g_notices);
    SP_DRVINSTALL_PARAMS params{};
    params.cbSize = sizeof params;
    // Made for real, this call would end the test process.
    for (int i = 0; i < 2; ++i)
        EXPECT_LAST_ERROR(ERROR_CALL_NOT_IMPLEMENTED,
                          EXPECT_FALSE(driverapi::SetupDiGetDriverInstallParamsW(nullptr, nullptr, nullptr, &params)));
    EXPECT_EQ(std::vector<std::string>{"SetupDiGetDriverInstallParamsW"}, g_notices);
    driverapi::SetStubNotice(nullptr, nullptr);
}

TEST(DriverApi, ACallWineImplementsIsMadeForReal)
{
    EXPECT_FALSE(driverapi::IsWineStub(driverapi::kSetupDiGetClassDevsW));
    UniqueDevInfoSet set(driverapi::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    ASSERT_TRUE(set.valid());
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    EXPECT_TRUE(driverapi::SetupDiEnumDeviceInfo(set.get(), 0, &device)) << "a fresh prefix has devices";
    EXPECT_TRUE(set.reset());
    // version.dll too: a file without a version resource.
    DWORD handle = 0;
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND, EXPECT_EQ(0u, driverapi::GetFileVersionInfoSizeW(L"no-such.dll", &handle)));
}

BOOL WINAPI PretendInstallParams(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W, PSP_DRVINSTALL_PARAMS params)
{
    params->Flags = DNF_INET_DRIVER;
    return TRUE;
}

TEST(DriverApi, ATestReplacementStandsInForTheRealCall)
{
    driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW,
                               reinterpret_cast<void*>(&PretendInstallParams));
    SP_DRVINSTALL_PARAMS params{};
    EXPECT_TRUE(driverapi::SetupDiGetDriverInstallParamsW(nullptr, nullptr, nullptr, &params));
    EXPECT_EQ(static_cast<DWORD>(DNF_INET_DRIVER), params.Flags);
    driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW, nullptr);
    EXPECT_FALSE(driverapi::SetupDiGetDriverInstallParamsW(nullptr, nullptr, nullptr, &params));
}

}  // namespace
