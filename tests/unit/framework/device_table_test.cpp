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

class DeviceTable : public MachineTest {
protected:
    void TearDown() override
    {
        driverapi::OverrideForTest(driverapi::kSetupDiBuildDriverInfoList, nullptr);
        driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW, nullptr);
        MachineTest::TearDown();
    }
};

TEST_F(DeviceTable, OneEntryPerKeptIdFoundInAnyCase)
{
    TestDevice device(L"TZRTABLE_A", Ids{kRev, kSubsys, kClassCode});
    ASSERT_TRUE(device.Created());
    CBaseComponent c;
    EXPECT_EQ(1, c.BuildDeviceList(0));
    EXPECT_EQ((Ids{kRev, kSubsys}), EntriesOf(c, {kRev, kSubsys, kClassCode}));

    std::wstring lower = kSubsys;
    for (wchar_t& ch : lower)
        ch = static_cast<wchar_t>(towlower(ch));
    W2KDEVINST* record = nullptr;
    ASSERT_EQ(1, c.FindDevice(lower.c_str(), &record));
    ASSERT_NE(nullptr, record);
    // The set it came from stays open as long as the table.
    EXPECT_NE(nullptr, record->hDevInfo);
    EXPECT_EQ(std::wstring(), record->InfFileName()) << "no INF matches the device";
    EXPECT_EQ(1, c.FindDevice(lower.c_str(), nullptr));
    EXPECT_EQ(1, c.FindDevice(kRev, nullptr)) << "a package naming the revision finds it";
    EXPECT_EQ(0, c.FindDevice(L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234&REV_03", nullptr)) << "only that revision";
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

int g_nDriverListsBuilt = 0;
BOOL WINAPI CountedBuildDriverInfoList(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD type)
{
    ++g_nDriverListsBuilt;
    return SetupDiBuildDriverInfoList(set, device, type);
}

BOOL WINAPI InstallParamsWithFlags(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W, PSP_DRVINSTALL_PARAMS params)
{
    params->Flags = DNF_INET_DRIVER;
    return TRUE;
}

// A record's driver fields, less the pointers SetupAPI keeps there for
// the set they came from.
std::string DriverBytes(W2KDEVINST r)
{
    r.driverInfo.Reserved = 0;
    r.DriverDetail()->Reserved = 0;
    return std::string(reinterpret_cast<const char*>(&r.driverInfo), sizeof r.driverInfo) +
           std::string(reinterpret_cast<const char*>(r.driverDetail), sizeof r.driverDetail) +
           std::string(reinterpret_cast<const char*>(&r.driverInstallParams), sizeof r.driverInstallParams);
}

TEST_F(DeviceTable, AFoundRecordCarriesWhatAnEagerSnapshotReadsTakenOncePerDevice)
{
    TestDriverInf inf(L"tzrtable", L"TZR\\TABLE_DRIVEN");
    TestDevice driven(L"TZRTABLE_D", Ids{L"TZR\\TABLE_DRIVEN", L"TZR\\TABLE_DRIVEN_TOO"});
    TestDevice undriven(L"TZRTABLE_E", Ids{L"TZR\\TABLE_UNDRIVEN"});
    ASSERT_TRUE(driven.Created() && undriven.Created());
    // As Wine answers (the install-parameter call is only a stub there),
    // then with those parameters as Windows would give them.
    for (bool seam : {false, true}) {
        if (seam)
            driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW,
                                       reinterpret_cast<void*>(&InstallParamsWithFlags));
        driverapi::OverrideForTest(driverapi::kSetupDiBuildDriverInfoList,
                                   reinterpret_cast<void*>(&CountedBuildDriverInfoList));
        g_nDriverListsBuilt = 0;
        CBaseComponent c;
        EXPECT_EQ(1, c.BuildDeviceList(0));
        EXPECT_EQ(0, g_nDriverListsBuilt) << "the table is built without driver lists";
        struct Found {
            const wchar_t* id;
            const TestDevice& device;
            int listsBuilt;
            W2KDEVINST* record;
        } found[] = {{L"tzr\\table_driven", driven, 1, nullptr},
                     {L"TZR\\TABLE_DRIVEN_TOO", driven, 1, nullptr},  // the same device: no second snapshot
                     {L"TZR\\TABLE_UNDRIVEN", undriven, 2, nullptr}};
        for (Found& f : found) {
            ASSERT_EQ(1, c.FindDevice(f.id, &f.record)) << Narrow(f.id);
            EXPECT_EQ(f.listsBuilt, g_nDriverListsBuilt) << Narrow(f.id);
        }
        EXPECT_NE(std::wstring(), found[0].record->InfFileName());
        EXPECT_EQ(seam ? static_cast<DWORD>(DNF_INET_DRIVER) : 0u, found[1].record->TestDriverFlags(DNF_INET_DRIVER));

        CWin2000DeviceList eager;
        eager.Enumerate(nullptr);
        for (const Found& f : found) {
            size_t i = 0;
            for (wchar_t id[MAX_PATH] = L""; i < eager.GetCount(); ++i) {
                SP_DEVINFO_DATA device = eager.GetDevice(i)->devInfoData;
                if (SetupDiGetDeviceInstanceIdW(eager.GetDevice(i)->hDevInfo, &device, id, MAX_PATH, nullptr) &&
                    _wcsicmp(id, f.device.InstanceId().c_str()) == 0)
                    break;
            }
            ASSERT_LT(i, eager.GetCount()) << Narrow(f.id);
            EXPECT_EQ(DriverBytes(*eager.GetDevice(i)), DriverBytes(*f.record)) << Narrow(f.id);
            // The record's set is the table's, still open.
            DWORD required = 0;
            f.record->GetRegistryProperty(SPDRP_HARDWAREID, nullptr, nullptr, 0, &required);
            EXPECT_GT(required, 0u) << Narrow(f.id);
        }
    }
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

// Loading runs under the loader lock, so the table of present devices waits
// for the first question about a device, whether or not the package lists any.
TEST_F(DeviceTableAtLoad, BuiltOnFirstUseNeverAtLoad)
{
    TestDevice device(L"TZRTABLE_P", Ids{L"PCI\\VEN_1B4B&DEV_2241&SUBSYS_22411B4B"});
    ASSERT_TRUE(device.Created());
    for (const std::string& children :
         {std::string("<filename>kxtable.xml</filename>"),
          std::string("<prerequisites><supported_devices><supported_devices_and><supported_device type=\"pci\">"
                      "<supported_device_data name=\"ven\">1B4B</supported_device_data>"
                      "<supported_device_data name=\"dev\">2241</supported_device_data>"
                      "<supported_device_data name=\"subven\">1B4B</supported_device_data>"
                      "<supported_device_data name=\"subdev\">2241</supported_device_data>"
                      "</supported_device></supported_devices_and></supported_devices></prerequisites>")}) {
        AddFile(L"kxtable.xml", Package(children));
        DeleteFileW(m_verbose.c_str());
        CBaseComponent c;
        c.m_pLog->EnableVerbose();
        c.Initialize();
        EXPECT_TRUE(c.m_vDevices.empty()) << children;
        EXPECT_TRUE(VerboseLinesStartingWith("basecomp> Building PnP").empty()) << children;
        EXPECT_EQ(1, c.FindDevice(L"pci\\ven_1b4b&dev_2241&subsys_22411b4b", nullptr)) << children;
        EXPECT_EQ(std::vector<std::string>{"basecomp> Building PnP device list... Done."},
                  VerboseLinesStartingWith("basecomp> Building PnP"))
            << children;
    }
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
