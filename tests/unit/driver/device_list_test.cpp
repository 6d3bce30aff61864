// The present-device list on the prefix's real SetupAPI, with devices the
// tests make, and the bounded reading of hardware-id multi-strings.
#include "device_list.h"
#include "driver_fixtures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cfgmgr32.h>
#include <cwctype>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

using Ids = std::vector<std::wstring>;

std::string Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

TEST(HardwareIds, MultiStringsAreReadWithinTheirSize)
{
    struct Case {
        const char* what;
        std::string data;
        Ids ids;
    } cases[] = {
        {"double terminator", Bytes(std::wstring(L"A\0BC\0\0", 6)), {L"A", L"BC"}},
        {"stops at the first empty string", Bytes(std::wstring(L"A\0\0B\0\0", 6)), {L"A"}},
        {"no double terminator", Bytes(std::wstring(L"A\0BC\0", 5)), {L"A", L"BC"}},
        {"no terminator at all", Bytes(L"ABC"), {L"ABC"}},
        {"odd byte count", Bytes(std::wstring(L"AB\0", 3)) + "X", {L"AB"}},
        {"odd byte count, no terminator", Bytes(L"AB") + "X", {L"AB"}},
        {"one byte", "X", {}},
        {"empty", "", {}},
    };
    for (const Case& c : cases) {
        // Copied to a heap block of exactly its size, so a read past the end
        // is a read outside the block.
        std::vector<char> block(c.data.begin(), c.data.end());
        EXPECT_EQ(c.ids, SplitMultiString(block.data(), block.size())) << c.what;
    }
    EXPECT_EQ(Ids{}, SplitMultiString(nullptr, 8));
    // Unaligned data is read as well.
    const std::string aligned = Bytes(std::wstring(L"XY\0\0", 4));
    std::vector<char> shifted(1 + aligned.size());
    std::copy(aligned.begin(), aligned.end(), shifted.begin() + 1);
    EXPECT_EQ(Ids{L"XY"}, SplitMultiString(shifted.data() + 1, aligned.size()));
}

TEST(HardwareIds, KeptIdsLeaveClassCodesOut)
{
    struct Case {
        Ids reported;
        bool firstOnly;
        Ids kept;
    } cases[] = {
        {{L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234&REV_02", L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234",
          L"PCI\\VEN_1234&DEV_0001&CC_010802"},
         false,
         {L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234&REV_02", L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234"}},
        // Ids after the first are upper-cased before the test; the first stays as reported.
        {{L"pci\\ven_1&rev_01", L"pci\\ven_1&dev_2", L"pci\\ven_1&cc_01", L"pci\\ven_1&rev_01&cc_01"}, false,
         {L"pci\\ven_1&rev_01", L"PCI\\VEN_1&DEV_2"}},
        {{L"PCI\\VEN_1&REV_01", L"PCI\\VEN_1"}, true, {L"PCI\\VEN_1&REV_01"}},
        {{}, false, {}},
        {{}, true, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.kept, KeptHardwareIds(c.reported, c.firstOnly));
}

std::wstring InstanceIdOf(const W2KDEVINST& record)
{
    wchar_t id[MAX_DEVICE_ID_LEN] = L"";
    SP_DEVINFO_DATA device = record.devInfoData;
    SetupDiGetDeviceInstanceIdW(record.hDevInfo, &device, id, MAX_DEVICE_ID_LEN, nullptr);
    return id;
}

// The index of the device with the given instance id, or the count.
size_t IndexOf(CWin2000DeviceList& list, const std::wstring& instanceId)
{
    size_t i = 0;
    for (; i < list.GetCount(); ++i)
        if (_wcsicmp(InstanceIdOf(*list.GetDevice(i)).c_str(), instanceId.c_str()) == 0)
            break;
    return i;
}

// The file name of a path; Wine joins the INF folder with a forward slash.
std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

BOOL WINAPI InstallParamsWithFlags(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W, PSP_DRVINSTALL_PARAMS params)
{
    if (params->cbSize != sizeof *params)
        return FALSE;
    params->Flags = DNF_INET_DRIVER | DNF_OLDDRIVER;
    return TRUE;
}

// Enumeration reaches the install-parameter call, which Wine only stubs;
// the loader is put back as at start, so its one notice is still to come
// for the tests that look for it.
class DeviceList : public MachineTest {
protected:
    void TearDown() override
    {
        driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW, nullptr);
        MachineTest::TearDown();
    }
};

TEST_F(DeviceList, EachDeviceWithItsIdsAndItsOwnDriverSnapshot)
{
    TestDriverInf inf(L"tzrdevlist", L"TZR\\DRIVEN");
    TestDevice driven(L"TZRDEVLIST_A", Ids{L"TZR\\DRIVEN", L"TZR\\DRIVEN_OTHER"});
    TestDevice undriven(L"TZRDEVLIST_B", Ids{L"TZR\\UNDRIVEN"});
    TestDevice noIds(L"TZRDEVLIST_C", std::string(), false);
    ASSERT_TRUE(driven.Created() && undriven.Created() && noIds.Created());

    // Once as Wine answers (the install-parameter call is only a stub
    // there), once through the seam as Windows would answer it.
    for (bool seam : {false, true}) {
        if (seam)
            driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW,
                                       reinterpret_cast<void*>(&InstallParamsWithFlags));
        CWin2000DeviceList list;
        list.Enumerate(nullptr);
        const size_t a = IndexOf(list, driven.InstanceId());
        const size_t b = IndexOf(list, undriven.InstanceId());
        const size_t c = IndexOf(list, noIds.InstanceId());
        ASSERT_LT(a, list.GetCount());
        ASSERT_LT(b, list.GetCount());
        ASSERT_LT(c, list.GetCount());
        // The device without a driver comes right after the one with it, so
        // its empty snapshot shows nothing was carried over.
        ASSERT_EQ(a + 1, b) << "enumeration order";

        const W2KDEVINST& withDriver = *list.GetDevice(a);
        EXPECT_EQ(0, _wcsicmp(L"tzrdevlist.inf", FileNameOf(withDriver.InfFileName()).c_str()))
            << Narrow(withDriver.InfFileName());
        EXPECT_EQ(std::wstring(L"TZR test device driver"), withDriver.driverInfo.Description);
        EXPECT_EQ(seam ? static_cast<DWORD>(DNF_INET_DRIVER) : 0u, withDriver.TestDriverFlags(DNF_INET_DRIVER));

        for (size_t empty : {b, c}) {
            const W2KDEVINST& record = *list.GetDevice(empty);
            EXPECT_EQ(std::wstring(), record.InfFileName());
            EXPECT_EQ(0u, record.TestDriverFlags(0xFFFFFFFF));
            EXPECT_EQ(std::wstring(), record.driverInfo.Description);
        }
        driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW, nullptr);
    }
    // A record never filled has no set to ask.
    W2KDEVINST blank;
    DWORD required = 0;
    EXPECT_FALSE(blank.GetRegistryProperty(SPDRP_HARDWAREID, nullptr, nullptr, 0, &required));
    EXPECT_EQ(0u, blank.TestDriverFlags(0xFFFFFFFF));
}

TEST_F(DeviceList, HardwareIdsBySizeProtocol)
{
    const Ids ids{L"TZR\\SIZED", L"TZR\\SIZED_TOO"};
    const std::string expected = MultiString(ids);
    TestDevice sized(L"TZRDEVLIST_S", ids);
    TestDevice noIds(L"TZRDEVLIST_T", std::string(), false);
    TestDevice odd(L"TZRDEVLIST_U", Bytes(L"TZR\\ODD") + "X", true);
    ASSERT_TRUE(sized.Created() && noIds.Created() && odd.Created());
    CWin2000DeviceList list;
    list.Enumerate(nullptr);
    const size_t i = IndexOf(list, sized.InstanceId());
    ASSERT_LT(i, list.GetCount());

    BYTE buffer[512];
    DWORD size = 77;
    EXPECT_EQ(0, list.GetHardwareIds(i, buffer, nullptr));
    EXPECT_EQ(0, list.GetHardwareIds(list.GetCount(), buffer, &size));
    EXPECT_EQ(77u, size) << "an index out of range leaves the size alone";
    EXPECT_EQ(0, list.GetHardwareIds(i, nullptr, &size));
    EXPECT_EQ(expected.size(), size);
    size = static_cast<DWORD>(expected.size() - 1);
    memset(buffer, 0xCC, sizeof buffer);
    EXPECT_EQ(0, list.GetHardwareIds(i, buffer, &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(0xCC, buffer[0]) << "a buffer too small is not written";
    size = sizeof buffer;
    ASSERT_EQ(1, list.GetHardwareIds(i, buffer, &size));
    EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(buffer), size));

    size = sizeof buffer;
    EXPECT_EQ(0, list.GetHardwareIds(IndexOf(list, noIds.InstanceId()), buffer, &size)) << "no id property";
    size = sizeof buffer;
    const size_t u = IndexOf(list, odd.InstanceId());
    ASSERT_LT(u, list.GetCount());
    if (list.GetHardwareIds(u, buffer, &size)) {
        EXPECT_EQ(Ids{L"TZR\\ODD"}, SplitMultiString(buffer, size));
    }

    list.Clear();
    EXPECT_EQ(0u, list.GetCount());
    EXPECT_EQ(nullptr, list.GetDevice(0));
}

}  // namespace
