// The Plug and Play driver installer: which files a package's INF makes it
// stage and in what order, the staging copies themselves, and how the
// answers of newdev become its result. Wine's newdev answers TRUE to every
// call and never asks for a restart, so those answers come through the seam.
#include "driver_failure.h"
#include "framework_module.h"
#include "inf_models.h"
#include "pnp_driver.h"

#include "driver_api.h"
#include "file_version.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tzrtest;

namespace {

using Names = std::vector<std::wstring>;

Names Files(const CWin2000PnPDriver& driver)
{
    Names names;
    for (const CStr& name : driver.m_vFiles)
        names.emplace_back(name.c_str());
    return names;
}

const char kStagingInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "CatalogFile.ntamd64=drv64.cat\r\n"
    "[DestinationDirs]\r\n"
    "DefaultDestDir=12\r\n"
    "[Drv.NTamd64]\r\n"
    "CopyFiles=Drv.Files\r\n"
    "[Drv.Files]\r\n"
    "drv.sys\r\n";

const char kEntriesInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "CatalogFile=one.cat\r\n"
    "CatalogFile.nt=two.cat\r\n"
    "[Install]\r\n"
    "CopyFiles=@single.dll,Renamed.Files,NoSuchSection\r\n"
    "CopyFiles=Renamed.Files\r\n"
    "[Other]\r\n"
    "AddReg=Nothing\r\n"
    "[Renamed.Files]\r\n"
    "target.sys,source.sys\r\n"
    "plain.sys,,,2\r\n"
    "[Unused.Files]\r\n"
    "never.sys\r\n";

// A package folder as current directory, with the INF also in the folder the
// installer reads INF files from (the test program's own).
class PnPDriverStaging : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, m_savedDir);
        RemoveTree(kPackage);
        RemoveTree(kStaging);
        MakeDirs(kPackage);
        MakeDirs(L"C:\\tzrtest_pnp\\stage");
        ASSERT_TRUE(SetCurrentDirectoryW(kPackage));
        ASSERT_FALSE(FrameworkFolder().empty());
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_savedDir);
        for (const std::wstring& inf : m_infs)
            DeleteFileW(inf.c_str());
        RemoveTree(L"C:\\tzrtest_pnp");
    }
    void WriteInf(const std::wstring& name, const std::string& text)
    {
        m_infs.push_back(std::wstring(FrameworkFolder().c_str()) + L"\\" + name);
        WriteFileBytes(m_infs.back(), text);
        WriteFileBytes(std::wstring(kPackage) + L"\\" + name, text);
    }
    static std::wstring Package(const std::wstring& name) { return std::wstring(kPackage) + L"\\" + name; }
    static std::wstring Staged(const std::wstring& name) { return std::wstring(kStaging) + L"\\" + name; }

    static constexpr const wchar_t* kPackage = L"C:\\tzrtest_pnp\\package";
    static constexpr const wchar_t* kStaging = L"C:\\tzrtest_pnp\\stage\\area";

private:
    wchar_t m_savedDir[MAX_PATH] = L"";
    Names m_infs;
};

TEST(PnPDriver, CompressedNames)
{
    const struct {
        const wchar_t* name;
        const wchar_t* compressed;
    } cases[] = {
        {L"driver.inf", L"driver.in_"}, {L"a.sy", L"a.sy_"},      {L"noext", L"noext._"},
        {L"x.y.dll", L"x.y.dl_"},       {L"end.", L"end._"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.compressed, CWin2000PnPDriver::CompressedName(c.name)) << Narrow(c.name);
}

TEST(PnPDriver, FilesAndIdsAreKeptOnceWithExactComparison)
{
    CWin2000PnPDriver driver(L"pkg.inf", 0);
    EXPECT_EQ(1, driver.AddFile(L"a.sys"));
    EXPECT_EQ(1, driver.AddFile(L"a.sys"));
    EXPECT_EQ(1, driver.AddFile(L"a.sy_")) << "already there as a compressed name";
    EXPECT_EQ(1, driver.AddFile(L"A.SYS"));
    EXPECT_EQ(1, driver.AddFile(L""));
    EXPECT_EQ(1, driver.AddFile(nullptr));
    EXPECT_EQ((Names{L"a.sys", L"a.sy_", L"A.SYS", L"A.SY_"}), Files(driver));

    EXPECT_EQ(1, driver.AddHardwareId(L"PCI\\VEN_1"));
    EXPECT_EQ(1, driver.AddHardwareId(L"PCI\\VEN_1"));
    EXPECT_EQ(1, driver.AddHardwareId(L"pci\\ven_1"));
    ASSERT_EQ(2u, driver.m_vHardwareIds.size());
    EXPECT_EQ(0, driver.m_nRefusedIds);
}

TEST_F(PnPDriverStaging, InfCatalogAndCopyFilesInOrder)
{
    WriteInf(L"driver.inf", kStagingInf);
    for (const wchar_t* name : {L"drv64.cat", L"drv.sys", L"driver.in_", L"drv64.ca_", L"drv.sy_"})
        WriteFileBytes(Package(name), Narrow(name));
    // A read-only copy left by an earlier run is replaced.
    MakeDirs(kStaging);
    WriteFileBytes(Staged(L"drv.sys"), "old");
    ASSERT_TRUE(SetFileAttributesW(Staged(L"drv.sys").c_str(), FILE_ATTRIBUTE_READONLY));

    CWin2000PnPDriver driver(L"driver.inf", 1);
    EXPECT_EQ(1, driver.StageFiles(kStaging));
    const Names expected{L"driver.inf", L"driver.in_", L"drv64.cat", L"drv64.ca_", L"drv.sys", L"drv.sy_"};
    EXPECT_EQ(expected, Files(driver));
    for (const std::wstring& name : expected)
        EXPECT_EQ(ReadFileBytes(Package(name)), ReadFileBytes(Staged(name))) << Narrow(name);

    // One form missing: the other is enough, and the copy an earlier run
    // left under the missing name is gone.
    DeleteFileW(Package(L"drv64.ca_").c_str());
    ASSERT_TRUE(FileExists(Staged(L"drv64.ca_")));
    CWin2000PnPDriver again(L"driver.inf", 1);
    EXPECT_EQ(1, again.StageFiles(kStaging));
    EXPECT_FALSE(FileExists(Staged(L"drv64.ca_")));

    // A copied file missing in both forms: failure naming it, the others
    // are still copied.
    DeleteFileW(Package(L"drv.sys").c_str());
    DeleteFileW(Package(L"drv.sy_").c_str());
    driverfail::Reset();
    CWin2000PnPDriver third(L"driver.inf", 1);
    EXPECT_EQ(0, third.StageFiles(kStaging));
    EXPECT_EQ(0u, driverfail::Line().find(L"    - CopyFileW(drv.sys to C:\\tzrtest_pnp\\stage\\area) failed: "
                                          L"error 0x00000002 ("))
        << Narrow(driverfail::Line());
    EXPECT_TRUE(FileExists(Staged(L"drv64.cat")));
}

TEST_F(PnPDriverStaging, AtEntriesSourceNamesAndCatalogKeys)
{
    WriteInf(L"entries.inf", kEntriesInf);
    CWin2000PnPDriver driver(L"entries.inf", 1);
    driver.StageFiles(kStaging);
    EXPECT_EQ((Names{L"entries.inf", L"entries.in_", L"one.cat", L"one.ca_", L"two.cat", L"two.ca_",
                     L"single.dll", L"single.dl_", L"source.sys", L"source.sy_", L"plain.sys", L"plain.sy_"}),
              Files(driver));
    EXPECT_TRUE(FileExists(Staged(L"entries.inf")));
}

TEST_F(PnPDriverStaging, BadInfInputIsBoundedAndNeverStagesOutsideTheFolder)
{
    const std::wstring longName(300, L'n');
    std::string inf =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Install]\r\nCopyFiles=Many.Files,@..\\escape.sys,@" +
        Narrow(longName) + ".sys\r\n[Many.Files]\r\n";
    for (int i = 0; i < 10000; ++i)
        inf += "f" + std::to_string(i) + ".sys\r\n";
    WriteInf(L"bad.inf", inf);
    WriteFileBytes(L"C:\\tzrtest_pnp\\escape.sys", "x");

    CWin2000PnPDriver driver(L"bad.inf", 1);
    EXPECT_EQ(0, driver.StageFiles(kStaging));
    EXPECT_EQ(2u + 2u + 2u + 20000u, driver.m_vFiles.size());
    EXPECT_TRUE(FileExists(Staged(L"bad.inf")));
    // A name that climbs out of the package is not copied next to the
    // staging folder.
    EXPECT_FALSE(FileExists(L"C:\\tzrtest_pnp\\stage\\escape.sys"));
    DeleteFileW(L"C:\\tzrtest_pnp\\escape.sys");
}

// A service an install section gets through Include= and Needs= (as
// Microsoft's WinUSB template does) counts as the package's: the included
// INF is opened from the system's INF folder, as SetupAPI opens it.
TEST_F(PnPDriverStaging, ServicesThroughIncludeAndNeedsCount)
{
    wchar_t windows[MAX_PATH] = L"";
    ASSERT_NE(0u, GetWindowsDirectoryW(windows, MAX_PATH));
    const std::wstring included = std::wstring(windows) + L"\\inf\\tzrunitinc.inf";
    WriteFileBytes(included, "[Version]\r\nSignature=\"$Windows NT$\"\r\n[INC.NT.Services]\r\n"
                             "AddService=TzrIncSvc,0x00000002,Inc.Service\r\n[Inc.Service]\r\nServiceType=1\r\n");
    WriteInf(L"usb.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Manufacturer]\r\n%M%=Models,NTamd64\r\n"
                         "[Models.NTamd64]\r\n%D%=Usb_Install,USB\\VID_1234&PID_0001\r\n[Usb_Install]\r\n"
                         "Include=tzrunitinc.inf\r\nNeeds=INC.NT\r\n[Usb_Install.Services]\r\nInclude=tzrunitinc.inf\r\n"
                         "Needs=INC.NT.Services\r\n[Strings]\r\nM=\"m\"\r\nD=\"d\"\r\n");
    UniqueInf inf(driverapi::SetupOpenInfFileW(Package(L"usb.inf").c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(inf.valid());
    const std::vector<CStr> services = NeededServices(inf.get(), Package(L"usb.inf").c_str());
    DeleteFileW(included.c_str());
    ASSERT_EQ(1u, services.size());
    EXPECT_EQ("TzrIncSvc", Narrow(services[0]));
}

TEST_F(PnPDriverStaging, AnInfThatCannotBeOpenedStagesOnlyItsOwnName)
{
    CWin2000PnPDriver driver(L"missing.inf", 1);
    EXPECT_EQ(0, driver.StageFiles(kStaging));
    EXPECT_EQ((Names{L"missing.inf", L"missing.in_"}), Files(driver));
}

// newdev as Windows answers it: per id a result and a restart request.
struct NewDevCall {
    std::wstring id;
    std::wstring inf;
    DWORD flags;
};
std::vector<NewDevCall> g_calls;
// The stand-in newdev binds no device: its success is taken as the binding
// it stands for.
BOOL WINAPI BindsAsAnswered(const wchar_t*, const wchar_t*)
{
    return TRUE;
}

BOOL WINAPI FakeUpdateDriver(HWND, LPCWSTR id, LPCWSTR inf, DWORD flags, PBOOL restart)
{
    g_calls.push_back({id, inf, flags});
    const std::wstring text(id);
    if (restart)
        *restart = text == L"TZR\\RESTARTS" ? TRUE : FALSE;
    if (text == L"TZR\\FAILS") {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    return TRUE;
}

class PnPDriverInstall : public PnPDriverStaging {
protected:
    void SetUp() override
    {
        PnPDriverStaging::SetUp();
        g_calls.clear();
        driverapi::OverrideForTest(driverapi::kUpdateDriverForPlugAndPlayDevicesW,
                                   reinterpret_cast<void*>(&FakeUpdateDriver));
    }
    void TearDown() override
    {
        driverapi::OverrideForTest(driverapi::kUpdateDriverForPlugAndPlayDevicesW, nullptr);
        const std::wstring staging(CWin2000PnPDriver::StagingFolder().c_str());
        for (const wchar_t* name : {L"driver.inf", L"drv64.cat", L"drv.sys"})
            DeleteFileW((staging + L"\\" + name).c_str());
        PnPDriverStaging::TearDown();
    }
};

TEST_F(PnPDriverInstall, OneOfTwoIdsFailingKeepsTheOthersRestartRequest)
{
    WriteInf(L"driver.inf", kStagingInf);
    WriteFileBytes(Package(L"drv.sys"), "drv");
    driverapi::OverrideForTest(driverapi::kTzrRunsPackageDriver, reinterpret_cast<void*>(&BindsAsAnswered));
    CWin2000PnPDriver driver(L"driver.inf", 1);
    driver.AddHardwareId(L"TZR\\RESTARTS");
    driver.AddHardwareId(L"TZR\\FAILS");
    driverfail::Reset();
    EXPECT_EQ(4, driver.Install(0, 0));
    EXPECT_EQ(L"    - UpdateDriverForPlugAndPlayDevicesW(TZR\\FAILS) failed: error 0xE000020B (no such device "
              L"instance)\r\n",
              driverfail::Line());
    EXPECT_EQ(1, driver.IsRebootNeeded());
    const std::wstring staged = std::wstring(CWin2000PnPDriver::StagingFolder().c_str()) + L"\\driver.inf";
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ(L"TZR\\RESTARTS", g_calls[0].id);
    EXPECT_EQ(L"TZR\\FAILS", g_calls[1].id);
    for (const NewDevCall& call : g_calls) {
        EXPECT_EQ(staged, call.inf);
        EXPECT_EQ(static_cast<DWORD>(INSTALLFLAG_FORCE), call.flags);
    }
    EXPECT_EQ("drv", ReadFileBytes(std::wstring(CWin2000PnPDriver::StagingFolder().c_str()) + L"\\drv.sys"));

    // Every id succeeding, no restart asked: 0 and no restart.
    g_calls.clear();
    CWin2000PnPDriver fine(L"driver.inf", 0);
    fine.AddHardwareId(L"TZR\\FINE");
    EXPECT_EQ(0, fine.Install(0, 0));
    EXPECT_EQ(0, fine.IsRebootNeeded());
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_EQ(0u, g_calls[0].flags);
    driverapi::OverrideForTest(driverapi::kTzrRunsPackageDriver, nullptr);
}

TEST_F(PnPDriverInstall, AnInfThatCannotBeStagedIsNeverOffered)
{
    // The INF is readable where the plug-in lies but missing from the
    // package folder, and an earlier run left one of that name staged.
    WriteInf(L"driver.inf", kStagingInf);
    DeleteFileW(Package(L"driver.inf").c_str());
    const std::wstring stale = std::wstring(CWin2000PnPDriver::StagingFolder().c_str()) + L"\\driver.inf";
    WriteFileBytes(stale, "an older package");
    CWin2000PnPDriver driver(L"driver.inf", 1);
    driver.AddHardwareId(L"TZR\\FINE");
    EXPECT_EQ(4, driver.Install(0, 0));
    EXPECT_TRUE(g_calls.empty());
    EXPECT_FALSE(FileExists(stale));
}

TEST_F(PnPDriverInstall, WithoutIdsNothingIsStagedOrCalled)
{
    const struct {
        int noOverwrite, skipped, expected;
    } cases[] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 0}};
    for (const auto& c : cases) {
        CWin2000PnPDriver driver(L"driver.inf", 1);
        EXPECT_EQ(c.expected, driver.Install(c.noOverwrite, c.skipped)) << c.noOverwrite << c.skipped;
        EXPECT_TRUE(driver.m_vFiles.empty());
    }
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(PnPDriverInstall, AnIdLongerThanNewdevTakesIsRefusedAndCountsAsFailed)
{
    WriteInf(L"driver.inf", kStagingInf);
    WriteFileBytes(Package(L"drv.sys"), "driver");
    CWin2000PnPDriver driver(L"driver.inf", 1);
    EXPECT_EQ(1, driver.AddHardwareId(std::wstring(255, L'A').c_str()));
    EXPECT_EQ(0, driver.AddHardwareId(std::wstring(256, L'B').c_str()));
    EXPECT_EQ(0, driver.AddHardwareId(std::wstring(300, L'C').c_str()));
    EXPECT_EQ(0, driver.AddHardwareId(nullptr));
    EXPECT_EQ(1u, driver.m_vHardwareIds.size());
    EXPECT_EQ(4, driver.Install(0, 0));
    ASSERT_EQ(1u, g_calls.size()) << "only the id that fits reaches newdev";
    EXPECT_EQ(255u, g_calls[0].id.size());

    // Only refused ids: a failure, not "nothing to install", and no call.
    g_calls.clear();
    CWin2000PnPDriver refusedOnly(L"driver.inf", 1);
    refusedOnly.AddHardwareId(std::wstring(300, L'C').c_str());
    EXPECT_EQ(4, refusedOnly.Install(1, 1));
    EXPECT_TRUE(g_calls.empty());
}

}  // namespace
