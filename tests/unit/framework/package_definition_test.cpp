// Finding and reading the package definition: the file search, every field,
// the walks along the reader's sibling chain, and bad input.
#include "package_fixture.h"

#include <cstring>

using namespace tzrtest;

namespace {

const std::string kOtherRoot = "<tzr_install><filename>other.xml</filename></tzr_install>";

std::wstring WideOf(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// The "kx*.xml" files as the directory search returns them.
std::vector<std::wstring> SearchOrder()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"kx*.xml", &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

}  // namespace

TEST_F(PackageTest, LocateTakesTheFirstFileWithThePackageRoot)
{
    AddFile(L"kxa.xml", kOtherRoot);
    AddFile(L"kxb.xml", Package("<filename>b.xml</filename>"));
    AddFile(L"kxc.xml", "<tzr_package><unclosed></tzr_package>");
    AddFile(L"kxd.txt", Package(""));
    AddFile(L"pkg.xml", Package(""));
    CBaseComponent c;
    wchar_t path[40];
    wmemset(path, L'Z', 40);
    ASSERT_EQ(1, c.LocatePackageDefinition(path, 32));
    EXPECT_STREQ(L"kxb.xml", path);
    // The rest of the capacity is zeros, and nothing beyond it is written.
    for (int i = 7; i < 32; ++i)
        ASSERT_EQ(L'\0', path[i]) << i;
    for (int i = 32; i < 40; ++i)
        ASSERT_EQ(L'Z', path[i]) << i;
    // The search's reader is not kept.
    EXPECT_EQ(nullptr, c.m_pPackageReader);
}

TEST_F(PackageTest, LocateAmongSeveralGoodFilesFollowsTheSearchOrder)
{
    for (const char* name : {"kx1.xml", "kx2.xml", "kx3.xml"})
        AddFile(WideOf(name), Package(""));
    const std::vector<std::wstring> order = SearchOrder();
    ASSERT_EQ(3u, order.size());
    // The first in the search order is malformed: the next one wins.
    AddFile(order[0], Package("<name>"));
    CBaseComponent c;
    wchar_t path[MAX_PATH] = L"";
    ASSERT_EQ(1, c.LocatePackageDefinition(path, MAX_PATH));
    EXPECT_EQ(order[1], path);
}

TEST_F(PackageTest, LocateFindsNothingAndLeavesTheBufferAlone)
{
    CBaseComponent c;
    wchar_t path[16];
    wmemset(path, L'Z', 16);
    EXPECT_EQ(0, c.LocatePackageDefinition(path, 16));  // empty folder
    AddFile(L"kxonly.xml", kOtherRoot);
    AddFile(L"kxempty.xml", "");
    EXPECT_EQ(0, c.LocatePackageDefinition(path, 16));
    AddFile(L"kxgood.xml", Package(""));
    // The name needs 11 characters with its terminator.
    EXPECT_EQ(0, c.LocatePackageDefinition(path, 10));
    for (wchar_t ch : path)
        ASSERT_EQ(L'Z', ch);
    EXPECT_EQ(0, c.LocatePackageDefinition(nullptr, 16));
    EXPECT_EQ(0, c.LocatePackageDefinition(path, 0));
    EXPECT_EQ(1, c.LocatePackageDefinition(path, 11));
    EXPECT_STREQ(L"kxgood.xml", path);
}

TEST_F(PackageTest, ReadResultCodes)
{
    CBaseComponent c;
    EXPECT_EQ(4u, c.ReadPackageDefinition(nullptr));
    EXPECT_EQ(nullptr, c.m_pPackageReader);
    EXPECT_EQ(3u, c.ReadPackageDefinition(L"kxmissing.xml"));
    ASSERT_NE(nullptr, c.m_pPackageReader);  // in place, but empty
    EXPECT_FALSE(c.m_pPackageReader->m_bLoaded);
    // Read once: a second call reads nothing.
    AddFile(L"kxgood.xml", Package("<filename>good.xml</filename>"));
    EXPECT_EQ(1u, c.ReadPackageDefinition(L"kxgood.xml"));
    EXPECT_STREQ(L"", c.m_szPackageName);

    CBaseComponent other;
    AddFile(L"kxother.xml", kOtherRoot);
    EXPECT_EQ(0u, other.ReadPackageDefinition(L"kxother.xml"));
    EXPECT_STREQ(L"", other.m_szPackageName);

    CBaseComponent good;
    EXPECT_EQ(0u, good.ReadPackageDefinition(L"kxgood.xml"));
    EXPECT_STREQ(L"good", good.m_szPackageName);
    EXPECT_EQ(1u, good.ReadPackageDefinition(L"kxgood.xml"));
}

TEST_F(PackageTest, PackageNameIsTheFileNameLessItsExtension)
{
    struct Case {
        const char* text;
        const wchar_t* name;
    } cases[] = {
        {"setup.xml", L"setup"}, {"archive.tar.gz", L"archive.ta"}, {"a.bc", L""},
        {"abc", L""},  // fewer than four characters
        {"", L""},
    };
    for (const Case& k : cases) {
        AddFile(L"kxname.xml", Package(std::string("<filename>") + k.text + "</filename>"));
        CBaseComponent c;
        EXPECT_EQ(0u, c.ReadPackageDefinition(L"kxname.xml"));
        EXPECT_STREQ(k.name, c.m_szPackageName) << k.text;
    }
}

TEST_F(PackageTest, CapabilitiesAndDiskSpace)
{
    struct Case {
        std::string children;
        int silent;
        int reboot;
        DWORD diskKB;
    } cases[] = {
        {"", 1, 0, 0},
        {"<installation><install><install_caps silent='YES'/><reboot_required value='Yes'/></install></installation>"
         "<prerequisites><required_diskspace size_kb='2048'/></prerequisites>",
         1, 1, 2048},
        {"<installation><install><install_caps silent='no'/><reboot_required value='no'/></install></installation>"
         "<prerequisites><required_diskspace/></prerequisites>",
         0, 0, 0},
        {"<installation><install><install_caps silent='yes '/><reboot_required/></install></installation>", 0, 0, 0},
        {"<installation><install><install_caps/></install></installation>", 1, 0, 0},
        // Only the first prerequisites element is read.
        {"<prerequisites><required_diskspace size_kb='12'/></prerequisites>"
         "<prerequisites><required_diskspace size_kb='99'/></prerequisites>",
         1, 0, 12},
        {"<prerequisites><required_diskspace size_kb=' 77kb'/></prerequisites>", 1, 0, 77},
    };
    for (const Case& k : cases) {
        AddFile(L"kxcaps.xml", Package(k.children));
        CBaseComponent c;
        c.SetRequiredDiskSpace(5);
        ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxcaps.xml")) << k.children;
        EXPECT_EQ(k.silent, c.SupportsSilentInstall()) << k.children;
        EXPECT_EQ(k.silent, c.SupportsSilentUpdate()) << k.children;
        EXPECT_EQ(k.reboot, c.m_bRebootRequired) << k.children;
        if (k.children.find("required_diskspace") != std::string::npos)
            EXPECT_EQ(k.diskKB, c.m_dwRequiredDiskSpaceKB) << k.children;
        else
            EXPECT_EQ(5u, c.m_dwRequiredDiskSpaceKB) << k.children;
    }
}

TEST_F(PackageTest, TargetFileFallsBackToTheFirstExpectedPath)
{
    SetEnvironmentVariableW(L"TZR_PKG_DIR", m_folder.c_str());
    AddFile(L"kxkeys.xml", Package("<sw_keys>\r\n"
                                   "  <sw_keys_and><sw_key name='tzrnone-a.sys'>"
                                   "<sw_key_expectedpath>%TZR_PKG_DIR%\\missing1</sw_key_expectedpath>"
                                   "</sw_key></sw_keys_and>\r\n"
                                   "  <sw_keys_and><sw_key name='tzrnone-b.sys'>"
                                   "<sw_key_expectedpath>%TZR_PKG_DIR%\\missing2\\</sw_key_expectedpath>"
                                   "</sw_key></sw_keys_and>\r\n"
                                   "</sw_keys>"));
    CBaseComponent c;
    OpenLog(c);
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxkeys.xml"));
    const std::string dir = Narrow(m_folder);
    std::vector<std::string> expected = {
        "pkgdef>     - filename tzrnone-a.sys",
        "pkgdef>     - sw_key_expectedpath " + dir + "\\missing1\\tzrnone-a.sys",
        "pkgdef>     - Driver path from component xml " + dir + "\\missing1\\tzrnone-a.sys",
    };
    // Reading stops before the service database (it runs under the loader
    // lock at load); the first question about the file goes on from there.
    EXPECT_EQ(expected, VerboseLines());
    EXPECT_EQ(WideOf(dir) + L"\\missing1\\tzrnone-a.sys", c.TargetFile());
    expected = {
        "pkgdef>     - filename tzrnone-a.sys",
        "pkgdef>     - sw_key_expectedpath " + dir + "\\missing1\\tzrnone-a.sys",
        "pkgdef>     - Driver path from component xml " + dir + "\\missing1\\tzrnone-a.sys",
        "pkgdef>     - Driver path not found in service control manager database " + dir + "\\missing1\\tzrnone-a.sys",
        "pkgdef>     - filename tzrnone-b.sys",
        "pkgdef>     - sw_key_expectedpath " + dir + "\\missing2\\tzrnone-b.sys",
        "pkgdef>     - Driver path from component xml " + dir + "\\missing2\\tzrnone-b.sys",
        "pkgdef>     - Driver path not found in service control manager database " + dir + "\\missing1\\tzrnone-a.sys",
    };
    EXPECT_EQ(expected, VerboseLines());
    SetEnvironmentVariableW(L"TZR_PKG_DIR", nullptr);
}

TEST_F(PackageTest, TargetFileWalkKeepsTheKeyNameAndStopsAtAnExistingFile)
{
    SetEnvironmentVariableW(L"TZR_PKG_DIR", m_folder.c_str());
    AddFile(L"a.sys", "driver");
    CreateDirectoryW(L"dir.sys", nullptr);
    // Walk order: E1, E5, E4, E3, E2. E5 names a.sys without an expected
    // path, E4 holds no key, E3 has no name of its own and so looks for a.sys,
    // which exists: E2 is never reached.
    AddFile(L"kxkeys.xml",
            Package("<sw_keys>"
                    "<sw_keys_and><sw_key name='dir.sys'><sw_key_expectedpath>%TZR_PKG_DIR%</sw_key_expectedpath>"
                    "</sw_key></sw_keys_and>"
                    "<sw_keys_and><sw_key name='never.sys'><sw_key_expectedpath>C:\\</sw_key_expectedpath>"
                    "</sw_key></sw_keys_and>"
                    "<sw_keys_and><sw_key><sw_key_expectedpath>%TZR_PKG_DIR%\\</sw_key_expectedpath>"
                    "</sw_key></sw_keys_and>"
                    "<sw_keys_and/>"
                    "<other><sw_key name='a.sys'/></other>"
                    "</sw_keys>"));
    CBaseComponent c;
    OpenLog(c);
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxkeys.xml"));
    const std::string dir = Narrow(m_folder);
    EXPECT_EQ(WideOf(dir) + L"\\a.sys", c.TargetFile());
    const std::vector<std::string> expected = {
        // A directory of the key's name is not the file.
        "pkgdef>     - filename dir.sys",
        "pkgdef>     - sw_key_expectedpath " + dir + "\\dir.sys",
        "pkgdef>     - Driver path from component xml " + dir + "\\dir.sys",
        "pkgdef>     - Driver path not found in service control manager database " + dir + "\\dir.sys",
        // The walk takes every following sibling, whatever its name; its key
        // has no expected path.
        "pkgdef>     - filename a.sys",
        "pkgdef>     - filename a.sys",
        "pkgdef>     - sw_key_expectedpath " + dir + "\\a.sys",
        "pkgdef>     - m_sTargetFile " + dir + "\\a.sys",
    };
    EXPECT_EQ(expected, VerboseLines());
    SetEnvironmentVariableW(L"TZR_PKG_DIR", nullptr);
}

TEST_F(PackageTest, TargetFileFromAPathTooLongToExpandIsSkipped)
{
    const std::string longDir = "C:\\" + std::string(300, 'd');
    AddFile(L"kxkeys.xml", Package("<sw_keys><sw_keys_and><sw_key name='x.sys'><sw_key_expectedpath>" + longDir +
                                   "</sw_key_expectedpath></sw_key></sw_keys_and>"
                                   "<sw_keys_and><sw_key name='tzrnone-y.sys'><sw_key_expectedpath>C:\\short"
                                   "</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys>"));
    CBaseComponent c;
    OpenLog(c);
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxkeys.xml"));
    EXPECT_EQ(L"C:\\short\\tzrnone-y.sys", c.TargetFile());
    const std::vector<std::string> lines = VerboseLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("pkgdef>     - sw_key_expectedpath longer than 259 characters: " + longDir + "\\x.sys", lines[1]);
    EXPECT_EQ("pkgdef>     - filename tzrnone-y.sys", lines[2]);
}

TEST_F(PackageTest, SupportedDevicesByType)
{
    // Chain order: the first supported_devices_and, then the others from the
    // last backwards.
    AddFile(L"kxdev.xml",
            Package("<prerequisites><supported_devices>\r\n"
                    "<supported_devices_and><supported_device type='pci'>"
                    "<supported_device_data name='ven'>8086</supported_device_data>"
                    "<supported_device_data name='dev'>1234</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='PCI'>"
                    "<supported_device_data name='subdev'>3456</supported_device_data>"
                    "<supported_device_data name='ven'>8086</supported_device_data>"
                    "<supported_device_data name='SubVen'>abcd</supported_device_data>"
                    "<supported_device_data name='DEV'>1234</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='pci'>"
                    "<supported_device_data name='ven'>8086</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='pci'>"
                    "<supported_device_data name='ven'>1000</supported_device_data>"
                    "<supported_device_data name='dev'>0001</supported_device_data>"
                    "<supported_device_data name='subven'>1028</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='scsi'>"
                    "<supported_device_data name='id'>SCSI\\DiskVendor</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='pnp'>"
                    "<supported_device_data name='ID'>ROOT\\TZRDEV</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='PnP'>"
                    "<supported_device_data name='hw'>ROOT\\NOPE</supported_device_data>"
                    "<supported_device_data name='id'>ROOT\\LATER</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device type='usb'>"
                    "<supported_device_data name='id'>USB\\X</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<supported_devices_and><supported_device>"
                    "<supported_device_data name='id'>NOTYPE</supported_device_data>"
                    "</supported_device></supported_devices_and>\r\n"
                    "<other_entry><supported_device type='pnp'>"
                    "<supported_device_data name='id'>OTHER</supported_device_data>"
                    "</supported_device></other_entry>\r\n"
                    "<supported_devices_and><supported_device type='pnp'>"
                    "<supported_device_data name='id'/></supported_device></supported_devices_and>\r\n"
                    "</supported_devices></prerequisites>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxdev.xml"));
    const std::vector<CStr> expected = {
        L"PCI\\VEN_8086&DEV_1234",
        L"ROOT\\TZRDEV",
        L"",  // ven, dev and subven: 12 characters
        L"",  // ven alone
        L"PCI\\VEN_8086&DEV_1234&SUBSYS_3456abcd",
    };
    EXPECT_EQ(expected, c.m_vSupportedDevices);
    EXPECT_EQ(std::vector<CStr>{L"SCSI\\DiskVendor"}, c.m_vScsiDevices);
}

TEST_F(PackageTest, SupportedOperatingSystemsInChainOrder)
{
    AddFile(L"kxos.xml", Package("<prerequisites><supported_operating_systems>\r\n"
                                 "  <supported_operating_system platform='nt_x86-64' major='1'/>\r\n"
                                 "  <supported_operating_system platform='nt_x86-64' major='2'/>\r\n"
                                 "  <supported_operating_system platform='nt_x86-64' major='3'/>\r\n"
                                 "  <not_an_os major='9'/>\r\n"
                                 "</supported_operating_systems></prerequisites>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxos.xml"));
    ASSERT_EQ(3u, c.m_vSupportedOS.size());
    EXPECT_EQ(1u, c.m_vSupportedOS[0].dwMajor);
    EXPECT_EQ(3u, c.m_vSupportedOS[1].dwMajor);
    EXPECT_EQ(2u, c.m_vSupportedOS[2].dwMajor);
}

struct OsEntryCase {
    const char* attributes;
    const wchar_t* platform;
    int major, minor, servicePack;
    WORD edition;
    DWORD minBuild, maxBuild;
};

class OsEntries : public PackageTest, public ::testing::WithParamInterface<OsEntryCase> {};

TEST_P(OsEntries, AreReadWithTheirDefaults)
{
    const OsEntryCase& k = GetParam();
    AddFile(L"kxos.xml", Package(std::string("<prerequisites><supported_operating_systems>"
                                             "<supported_operating_system ") +
                                 k.attributes + "/></supported_operating_systems></prerequisites>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxos.xml"));
    ASSERT_EQ(1u, c.m_vSupportedOS.size());
    const SupportedOS& e = c.m_vSupportedOS[0];
    EXPECT_STREQ(k.platform, e.szPlatform);
    EXPECT_EQ(k.major, static_cast<int>(e.dwMajor));
    EXPECT_EQ(k.minor, static_cast<int>(e.dwMinor));
    EXPECT_EQ(k.servicePack, static_cast<int>(e.dwServicePack));
    EXPECT_EQ(k.edition, e.wEditionMask);
    EXPECT_EQ(k.minBuild, e.dwMinBuild);
    EXPECT_EQ(k.maxBuild, e.dwMaxBuild);
}

INSTANTIATE_TEST_SUITE_P(
    PackageTest, OsEntries,
    ::testing::Values(
        OsEntryCase{"", L"", -1, -1, -1, 0xFFFF, 0, 0xFFFFFFFF},
        OsEntryCase{"platform='nt_x86-64' major='10' minor='0' sr='2' minimumbuild='17763' maximumbuild='20348'",
                    L"nt_x86-64", 10, 0, 2, 0xFFFF, 17763, 20348},
        OsEntryCase{"major=' +6x' minor='-1' sr='abc' maximumbuild='-1'", L"", 6, -1, 0, 0xFFFF, 0, 0xFFFFFFFF},
        OsEntryCase{"minimumbuild='4294967295' maximumbuild='99999999999'", L"", -1, -1, -1, 0xFFFF, 0xFFFFFFFF,
                    0xFFFFFFFF},
        OsEntryCase{"major='99999999999'", L"", 0x7FFFFFFF, -1, -1, 0xFFFF, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='srvr'", L"", -1, -1, -1, 0xFF05, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='CORE'", L"", -1, -1, -1, 0xFF0A, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='r2'", L"", -1, -1, -1, 0xFF0C, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='R2SRVR'", L"", -1, -1, -1, 0xFF04, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='r2core'", L"", -1, -1, -1, 0xFF08, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='dc'", L"", -1, -1, -1, 0x040F, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='DcSrvr'", L"", -1, -1, -1, 0x0405, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='dccore'", L"", -1, -1, -1, 0x040A, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='dcr2'", L"", -1, -1, -1, 0x040C, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='dcr2srvr'", L"", -1, -1, -1, 0x0404, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='DCR2CORE'", L"", -1, -1, -1, 0x0408, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='sbs'", L"", -1, -1, -1, 0x0205, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='sbsr2'", L"", -1, -1, -1, 0x0204, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='ebs'", L"", -1, -1, -1, 0x0206, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='EBSR2'", L"", -1, -1, -1, 0x0207, 0, 0xFFFFFFFF},
        OsEntryCase{"edition=''", L"", -1, -1, -1, 0xFFFF, 0, 0xFFFFFFFF},
        OsEntryCase{"edition='server'", L"", -1, -1, -1, 0, 0, 0xFFFFFFFF},
        OsEntryCase{"edition=' srvr'", L"", -1, -1, -1, 0, 0, 0xFFFFFFFF},
        OsEntryCase{"platform='NT'", L"NT", -1, -1, -1, 0xFFFF, 0, 0xFFFFFFFF}));

TEST_F(PackageTest, BrokenFilesAreRefusedAndTheComponentStillAnswers)
{
    const std::string full = Package("<filename>x.xml</filename><version value='1.0'/>");
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"truncated", full.substr(0, full.size() / 2)},
        {"not_xml", "MZ\x90\x00\x03 this is a program, not a package"},
        {"empty", ""},
        {"text_only", "tzr_package"},
    };
    for (const Case& k : cases) {
        AddFile(L"kxbad.xml", k.bytes);
        CBaseComponent c;
        EXPECT_EQ(5u, c.ReadPackageDefinition(L"kxbad.xml")) << k.name;
        EXPECT_STREQ(L"", c.m_szPackageName) << k.name;
        wchar_t text[32];
        wmemset(text, L'Z', 32);
        EXPECT_EQ(0, c.GetName(text, 32, L"en")) << k.name;
        EXPECT_EQ(0, c.GetNewVersion(text, 32)) << k.name;
        EXPECT_EQ(L'Z', text[0]) << k.name;
        EXPECT_EQ(1, c.SupportsSilentInstall()) << k.name;
        // The search passes over such a file.
        EXPECT_EQ(0, c.LocatePackageDefinition(text, 32)) << k.name;
    }
}

TEST_F(PackageTest, ValuesLongerThanTheirArraysAreCut)
{
    const std::string longName(300, 'n');
    const std::string longPlatform(100, 'p');
    const std::string longPiece(300, 'A');
    const std::string longPnp(1000, 'P');
    AddFile(L"kxlong.xml",
            Package("<filename>" + longName + ".xml</filename>"
                    "<prerequisites><supported_devices>"
                    "<supported_devices_and><supported_device type='pci'>"
                    "<supported_device_data name='ven'>" + longPiece + "</supported_device_data>"
                    "<supported_device_data name='dev'>1234</supported_device_data>"
                    "</supported_device></supported_devices_and>"
                    "<supported_devices_and><supported_device type='pnp'>"
                    "<supported_device_data name='id'>" + longPnp + "</supported_device_data>"
                    "</supported_device></supported_devices_and>"
                    "</supported_devices><supported_operating_systems>"
                    "<supported_operating_system platform='" + longPlatform + "'/>"
                    "</supported_operating_systems></prerequisites>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxlong.xml"));
    EXPECT_EQ(std::wstring(127, L'n'), c.m_szPackageName);
    EXPECT_STREQ(L"", c.m_szShellExecuteFile);  // the next array is untouched
    ASSERT_EQ(1u, c.m_vSupportedOS.size());
    EXPECT_EQ(std::wstring(63, L'p'), c.m_vSupportedOS[0].szPlatform);
    // A cut PCI id has no valid length: an empty id. A PnP id is kept whole.
    const std::vector<CStr> expected = {L"", CStr(WideOf(longPnp).c_str())};
    EXPECT_EQ(expected, c.m_vSupportedDevices);
}

TEST_F(PackageTest, TenThousandSupportedDevices)
{
    std::string devices;
    for (int i = 0; i < 10000; ++i) {
        char entry[200];
        snprintf(entry, sizeof entry,
                 "<supported_devices_and><supported_device type='pnp'><supported_device_data name='id'>"
                 "ROOT\\DEV%05d</supported_device_data></supported_device></supported_devices_and>\r\n",
                 i);
        devices += entry;
    }
    AddFile(L"kxmany.xml", Package("<prerequisites><supported_devices>" + devices +
                                   "</supported_devices></prerequisites>"));
    CBaseComponent c;
    ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxmany.xml"));
    ASSERT_EQ(10000u, c.m_vSupportedDevices.size());
    EXPECT_EQ(L"ROOT\\DEV00000", c.m_vSupportedDevices[0]);
    EXPECT_EQ(L"ROOT\\DEV09999", c.m_vSupportedDevices[1]);
    EXPECT_EQ(L"ROOT\\DEV00001", c.m_vSupportedDevices[9999]);
}
