// The component's device table from devices the tests make on the prefix,
// and the installed version from the target file.
#include "base_component.h"
#include "driver_fixtures.h"
#include "package_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

using Ids = std::vector<std::wstring>;

const wchar_t kRev[] = L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234&REV_02";
const wchar_t kSubsys[] = L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234";
const wchar_t kClassCode[] = L"PCI\\VEN_1234&DEV_0001&CC_010802";

// The entries of the table among the given ids (ids no other device has).
Ids EntriesOf(const CBaseComponent& c, const std::vector<std::wstring>& candidates)
{
    Ids found;
    for (const auto& entry : c.m_vDevices)
        for (const std::wstring& id : candidates)
            if (entry.second == id.c_str())
                found.push_back(id);
    return found;
}

class DeviceTable : public MachineTest {};

TEST_F(DeviceTable, OneEntryPerKeptIdFoundInAnyCase)
{
    TestDevice device(L"TZRTABLE_A", Ids{kRev, kSubsys, kClassCode});
    ASSERT_TRUE(device.Created());
    CBaseComponent c;
    EXPECT_EQ(1, c.BuildDeviceList(0));
    EXPECT_EQ(Ids{kSubsys}, EntriesOf(c, {kRev, kSubsys, kClassCode}));

    std::wstring lower = kSubsys;
    for (wchar_t& ch : lower)
        ch = static_cast<wchar_t>(towlower(ch));
    W2KDEVINST* record = nullptr;
    ASSERT_EQ(1, c.FindDevice(lower.c_str(), &record));
    ASSERT_NE(nullptr, record);
    // A snapshot: the set it came from is given back, only its values stay.
    EXPECT_NE(nullptr, record->hDevInfo);
    EXPECT_EQ(std::wstring(), record->InfFileName()) << "no INF matches the device";
    EXPECT_EQ(1, c.FindDevice(lower.c_str(), nullptr));
    EXPECT_EQ(0, c.FindDevice(kRev, nullptr)) << "revision ids are never kept";
    EXPECT_EQ(0, c.FindDevice(L"PCI\\VEN_1234&DEV_0001", nullptr)) << "only whole ids match";
    EXPECT_EQ(0, c.FindDevice(nullptr, nullptr));

    // With the first id only, the first id as reported.
    EXPECT_EQ(1, c.BuildDeviceList(1));
    EXPECT_EQ(Ids{kRev}, EntriesOf(c, {kRev, kSubsys, kClassCode}));
}

TEST_F(DeviceTable, ALongIdListIsLeftOutAndTheDevicesAfterItAreRead)
{
    // Three ids of 400 characters: 2406 bytes, more than a device may give.
    const std::wstring longId(400, L'L');
    TestDevice tooLong(L"TZRTABLE_L", Ids{L"TZR\\" + longId, L"TZR\\M" + longId, L"TZR\\N" + longId});
    TestDevice after(L"TZRTABLE_M", Ids{L"TZR\\AFTER_LONG"});
    // Data as a broken driver might leave it: an odd byte count and no
    // double terminator.
    TestDevice broken(L"TZRTABLE_N", std::string(reinterpret_cast<const char*>(L"TZR\\BROKEN"), 20) + "Z");
    TestDevice noIds(L"TZRTABLE_O", std::string(), false);
    ASSERT_TRUE(tooLong.Created() && after.Created() && broken.Created() && noIds.Created());
    CBaseComponent c;
    EXPECT_EQ(1, c.BuildDeviceList(0));
    EXPECT_EQ(0, c.FindDevice((L"TZR\\" + longId).c_str(), nullptr));
    EXPECT_EQ(1, c.FindDevice(L"TZR\\AFTER_LONG", nullptr));
    EXPECT_EQ(1, c.FindDevice(L"TZR\\BROKEN", nullptr));
    for (const auto& entry : c.m_vDevices)
        EXPECT_LT(entry.second.size(), 2048u / sizeof(wchar_t));
}

class DeviceTableAtLoad : public PackageTest {
protected:
    MachineState m_before = CaptureMachineState();
    void TearDown() override
    {
        PackageTest::TearDown();
        const MachineState after = CaptureMachineState();
        EXPECT_EQ(m_before.devices, after.devices);
    }
};

TEST_F(DeviceTableAtLoad, BuiltAtLoadOnlyForSupportedDevicesElseOnFirstUse)
{
    TestDevice device(L"TZRTABLE_P", Ids{L"PCI\\VEN_1B4B&DEV_2241&SUBSYS_22411B4B"});
    ASSERT_TRUE(device.Created());
    {
        AddFile(L"kxtable.xml", Package("<filename>kxtable.xml</filename>"));
        CBaseComponent c;
        c.m_pLog->EnableVerbose();
        c.Initialize();
        EXPECT_TRUE(c.m_vDevices.empty());
        EXPECT_TRUE(VerboseLinesStartingWith("basecomp> Building PnP").empty());
        EXPECT_EQ(1, c.FindDevice(L"PCI\\VEN_1B4B&DEV_2241&SUBSYS_22411B4B", nullptr));
        EXPECT_FALSE(c.m_vDevices.empty());
    }
    DeleteFileW(L"kxtable.xml");
    AddFile(L"kxtable.xml",
            Package("<prerequisites><supported_devices><supported_devices_and><supported_device type=\"pci\">"
                    "<supported_device_data name=\"ven\">1B4B</supported_device_data>"
                    "<supported_device_data name=\"dev\">2241</supported_device_data>"
                    "<supported_device_data name=\"subven\">1B4B</supported_device_data>"
                    "<supported_device_data name=\"subdev\">2241</supported_device_data>"
                    "</supported_device></supported_devices_and></supported_devices></prerequisites>"));
    CBaseComponent c;
    c.m_pLog->EnableVerbose();
    c.Initialize();
    EXPECT_EQ(std::vector<std::string>{"basecomp> Building PnP device list... Done."},
              VerboseLinesStartingWith("basecomp> Building PnP"));
    EXPECT_EQ(1, c.FindDevice(L"pci\\ven_1b4b&dev_2241&subsys_22411b4b", nullptr));
}

}  // namespace

namespace {

std::wstring Versioned(const std::wstring& name)
{
    return BuildFile(L"tests\\unit\\versioned\\versioned_" + name + L".dll");
}

TEST(InstalledVersion, TheTargetFilesVersionWithinTheCapacity)
{
    struct Case {
        std::wstring target;
        unsigned capacity;
        int result;
        const wchar_t* text;
    } cases[] = {
        {Versioned(L"5_2_3790_0"), 11, 1, L"5.2.3790.0"},
        {Versioned(L"5_2_3790_0"), 10, 0, nullptr},  // no room for the terminator
        {Versioned(L"65535_0_0_0"), 64, 1, L"65535.0.0.0"},
        {Versioned(L"none"), 64, 0, nullptr},  // no version resource
        {L"C:\\tzr-no-such-folder\\x.sys", 64, 0, nullptr},
        {L"", 64, 0, nullptr},
    };
    for (const Case& c : cases) {
        CBaseComponent component;
        component.SetTargetFile(c.target.c_str());
        wchar_t text[64];
        wmemset(text, L'Z', 64);
        EXPECT_EQ(c.result, component.GetCurrentVersion(text, c.capacity)) << Narrow(c.target);
        if (c.text)
            EXPECT_EQ(std::wstring(c.text), text);
        else
            EXPECT_EQ(L'Z', text[0]) << "nothing written";
    }
}

}  // namespace

namespace {

TEST_F(PackageTest, ARefusedDriverCallIsLoggedOnceByTheLatestComponent)
{
    CBaseComponent earlier;
    {
        CBaseComponent c;
        OpenLog(c);
        // Made for real on Wine, this call would end the test process.
        for (int i = 0; i < 2; ++i)
            EXPECT_FALSE(driverapi::SetupDiSetSelectedDriverW(nullptr, nullptr, nullptr));
        EXPECT_EQ(std::vector<std::string>{"basecomp>     - SetupDiSetSelectedDriverW is only a stub on this system "
                                           "(Wine); treated as failed."},
                  VerboseLinesStartingWith("basecomp>     - SetupDiSetSelectedDriverW"));
    }
    // The component that went away no longer hears of refusals.
    driverapi::OverrideForTest(driverapi::kSetupDiSetSelectedDriverW, nullptr);
    EXPECT_FALSE(driverapi::SetupDiSetSelectedDriverW(nullptr, nullptr, nullptr));
    driverapi::OverrideForTest(driverapi::kSetupDiSetSelectedDriverW, nullptr);
}

}  // namespace
