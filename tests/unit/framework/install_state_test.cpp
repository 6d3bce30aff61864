// The install-state query: the order of its checks and their log lines, how
// the answers become a state code and a message, the disk-space and
// dependency checks against the real drive, files and WMI (which reports the
// model "Wine"), and the bounds of every buffer on the way.
#include "install_checks.h"
#include "driver_fixtures.h"
#include "package_fixture.h"
#include "win_handle.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace tzrtest;

namespace {

// A record of the given size with guard bytes after it.
struct Record {
    explicit Record(unsigned size = 2052) : size(size), bytes(size + 16, 0xCC) {}
    unsigned State() const { return InstallStateRecord::StateOf(bytes.data(), size); }
    std::wstring Message() const
    {
        std::wstring text;
        for (unsigned at = 4; at + 1 < size; at += 2) {
            wchar_t unit;
            memcpy(&unit, &bytes[at], 2);
            if (!unit)
                break;
            text += unit;
        }
        return text;
    }
    bool GuardIntact() const
    {
        for (size_t i = size; i < bytes.size(); ++i)
            if (bytes[i] != 0xCC)
                return false;
        return true;
    }
    unsigned size;
    std::vector<unsigned char> bytes;
};

SupportedOS UnmatchedOS()
{
    SupportedOS e;
    wcscpy(e.szPlatform, L"nt_x86-64");
    e.dwMajor = 99;
    return e;
}

std::string Dependencies(const std::string& platforms)
{
    return "<?xml version=\"1.0\"?>\r\n<componentdependencies><dependent_hardware><platforms>" + platforms +
           "</platforms></dependent_hardware></componentdependencies>\r\n";
}

const std::string kCheck = "basecomp>     - ";

}  // namespace

TEST_F(PackageTest, EmptyPackageCanBeInstalledAndLogsEveryCheck)
{
    CBaseComponent c;
    OpenLog(c);
    Record r;
    ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"en"));
    EXPECT_EQ(5u, r.State());
    EXPECT_EQ(L"", r.Message());
    EXPECT_EQ(1, c.m_bDependenciesChecked);
    EXPECT_EQ(1, c.m_bDependenciesMet);

    const std::vector<std::string> expected = {
        "Is operating system supported...Yes",   "Is necessary disk space available...Yes",
        "Is hardware present...Yes",             "Is component already installed...No",
        "Is component marked for removal...No",  "Installed component version status...Older",
        "Checking dependency list...Done.",
    };
    std::vector<std::string> verbose;
    for (const std::string& line : VerboseLinesStartingWith(kCheck))
        verbose.push_back(line.substr(kCheck.size()));
    EXPECT_EQ(expected, verbose);
    // The main log has the same lines, without headers, the last one
    // followed by an empty line.
    std::string main;
    for (const std::string& line : expected)
        main += "    - " + line + "\r\n";
    main += "\r\n";
    EXPECT_NE(std::string::npos, ReadFileBytes(c.m_pLog->MainPath()).find(main));
}

TEST_F(PackageTest, UnsupportedOsStopsWithTheTextOfTheLanguage)
{
    struct Case {
        const wchar_t* language;
        const wchar_t* text;
    } cases[] = {
        {L"en", L"The OS is not supported.\r\n"},
        {L"fr", L"Le syst\u00e8me d'exploitation n'est pas pris en charge\r\n"},
        {L"it", L"The OS is not supported.\r\n"},
        {L"es", L"El sistema operativo no es compatible.\r\n"},
    };
    for (const Case& k : cases) {
        CBaseComponent c;
        OpenLog(c);
        c.AddSupportedOS(UnmatchedOS());
        c.SetRequiredDiskSpace(0xFFFFFFFF);  // never reached
        Record r;
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, k.language));
        EXPECT_EQ(7u, r.State());
        EXPECT_EQ(std::wstring(k.text), r.Message()) << Narrow(k.language);
    }
    const std::vector<std::string> checks = VerboseLinesStartingWith(kCheck);
    ASSERT_EQ(4u, checks.size());
    EXPECT_EQ(kCheck + "Is operating system supported...No", checks[0]);
}

TEST_F(PackageTest, MissingDiskSpaceStopsWithTheTextOfTheLanguage)
{
    CBaseComponent c;
    OpenLog(c);
    c.SetRequiredDiskSpace(0xFFFFFFFF);  // 4 TB
    Record r;
    ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"de"));
    EXPECT_EQ(7u, r.State());
    EXPECT_EQ(L"F\u00fcr die Installation dieser Komponente steht nicht gen\u00fcgend freier "
              L"Festplattenspeicherplatz zur Verf\u00fcgung.\r\n",
              r.Message());
    const std::vector<std::string> checks = VerboseLinesStartingWith(kCheck);
    ASSERT_EQ(2u, checks.size());
    EXPECT_EQ(kCheck + "Is necessary disk space available...No", checks[1]);
}

TEST_F(PackageTest, RecordBelowTheMinimumIsLeftUntouched)
{
    CBaseComponent c;
    Record r(2051);
    EXPECT_EQ(0, c.GetInstallState(r.bytes.data(), r.size, L"en"));
    EXPECT_EQ(std::vector<unsigned char>(r.bytes.size(), 0xCC), r.bytes);
    EXPECT_EQ(0, c.GetInstallState(nullptr, 4096, L"en"));
}

namespace {

// The checks answer as told, so every combination of answers can be put to
// the decision; the product message fills its whole buffer when asked to.
class ScriptedChecks : public CBaseComponent {
public:
    int hardware = 1, installed = 0, removal = 0, version = 1, custom = 1, dependencies = 1;
    std::wstring customText, dependencyText;
    bool customFillsAll = false;
    int IsHardwarePresent() override { return hardware; }
    int IsComponentInstalled() override { return installed; }
    int IsMarkedForRemoval() override { return removal; }
    int GetInstalledVersionStatus() override { return version; }
    int CheckCustomPrerequisites(wchar_t* message, unsigned capacity, const wchar_t*) override
    {
        EXPECT_EQ(kCheckMessageChars, capacity);
        EXPECT_EQ(L'\0', message[0]);
        if (customFillsAll)
            wmemset(message, L'x', capacity);  // no terminator at all
        else
            wcscpy(message, customText.c_str());
        return custom;
    }
    int CheckDependencies(wchar_t* message, unsigned capacity, const wchar_t*) override
    {
        EXPECT_EQ(kCheckMessageChars, capacity);
        EXPECT_EQ(L'\0', message[0]);
        wcscpy(message, dependencyText.c_str());
        return dependencies;
    }
};

}  // namespace

TEST_F(PackageTest, AnswersBecomeStateAndMessage)
{
    const std::wstring removalFr =
        L"Le composant sera supprim\u00e9 au prochain d\u00e9marrage.  L'installation ne peut pas continuer.\r\n";
    struct Case {
        const char* name;
        int hardware, installed, removal, version, custom, dependencies;
        const wchar_t* customText;
        const wchar_t* dependencyText;
        unsigned state;
        std::wstring message;
    } cases[] = {
        {"absent, installed, older", 0, 1, 0, 0, 1, 1, L"", L"", 4, L""},
        {"absent, not installed", 0, 0, 1, 1, 0, 1, L"custom", L"", 6, L""},
        {"custom refusal with text", 1, 1, 0, 1, 0, 1, L"needs more", L"", 7, L"needs more"},
        {"custom refusal without text", 1, 0, 0, 1, 0, 1, L"", L"", 7, L""},
        {"custom refusal and removal", 1, 1, 1, 1, 0, 1, L"needs more", L"", 7, removalFr},
        {"removal", 1, 1, 1, 1, 1, 1, L"", L"", 7, removalFr},
        {"not installed", 1, 0, 0, 2, 1, 1, L"", L"", 5, L""},
        {"older", 1, 1, 0, 0, 1, 1, L"", L"", 2, L""},
        {"same", 1, 1, 0, 1, 1, 1, L"", L"", 1, L""},
        {"newer", 1, 1, 0, 2, 1, 1, L"", L"", 3, L""},
        {"version status unknown", 1, 1, 0, 7, 1, 1, L"", L"", 8, L""},
        {"dependencies replace a message", 1, 1, 1, 1, 1, 0, L"", L"model", 6, L"model"},
        {"dependencies without text keep it", 1, 1, 0, 1, 0, 0, L"needs more", L"", 6, L"needs more"},
        {"dependencies with hardware absent", 0, 1, 0, 1, 1, 0, L"", L"model", 6, L"model"},
    };
    for (const Case& k : cases) {
        ScriptedChecks c;
        c.hardware = k.hardware;
        c.installed = k.installed;
        c.removal = k.removal;
        c.version = k.version;
        c.custom = k.custom;
        c.dependencies = k.dependencies;
        c.customText = k.customText;
        c.dependencyText = k.dependencyText;
        Record r;
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"fr")) << k.name;
        EXPECT_EQ(k.state, r.State()) << k.name;
        EXPECT_EQ(k.message, r.Message()) << k.name;
    }
}

TEST_F(PackageTest, MessageIsCutToTheRecord)
{
    // 2052 bytes hold 1023 units of message and the terminator.
    for (unsigned size : {2052u, 2053u, 2054u, 9000u}) {
        ScriptedChecks c;
        c.custom = 0;
        c.customFillsAll = true;
        Record r(size);
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"en"));
        EXPECT_EQ(7u, r.State());
        const size_t fits = (size - 4) / 2 - 1;
        EXPECT_EQ(std::wstring(fits < kCheckMessageChars - 1 ? fits : kCheckMessageChars - 1, L'x'), r.Message())
            << size;
        EXPECT_TRUE(r.GuardIntact()) << size;
    }
}

namespace {

struct FreeSpaceProbe {
    static int calls;
    static std::wstring directory;
    static ULONGLONG available;
    static BOOL ok;
    static BOOL WINAPI Query(LPCWSTR path, PULARGE_INTEGER caller, PULARGE_INTEGER, PULARGE_INTEGER)
    {
        ++calls;
        directory = path;
        caller->QuadPart = available;
        return ok;
    }
};
int FreeSpaceProbe::calls = 0;
std::wstring FreeSpaceProbe::directory;
ULONGLONG FreeSpaceProbe::available = 0;
BOOL FreeSpaceProbe::ok = TRUE;

class DiskSpace : public PackageTest {
protected:
    void SetUp() override
    {
        PackageTest::SetUp();
        FreeSpaceProbe::calls = 0;
        FreeSpaceProbe::ok = TRUE;
        driverapi::OverrideForTest(driverapi::kGetDiskFreeSpaceExW, reinterpret_cast<void*>(&FreeSpaceProbe::Query));
    }
    void TearDown() override
    {
        driverapi::OverrideForTest(driverapi::kGetDiskFreeSpaceExW, nullptr);
        PackageTest::TearDown();
    }
};

}  // namespace

TEST_F(DiskSpace, BoundaryAndDirectory)
{
    struct Case {
        DWORD requiredKB;
        ULONGLONG available;
        BOOL ok;
        int result;
        int calls;
    } cases[] = {
        {0, 0, FALSE, 1, 0},  // no requirement: the drive is not asked
        {10, 10 * 1024, TRUE, 1, 1},
        {10, 10 * 1024 - 1, TRUE, 0, 1},  // a part of a KB does not count
        {0xFFFFFFFF, 0xFFFFFFFFull * 1024, TRUE, 1, 1},
        {1, 1ull << 62, FALSE, 0, 1},  // a failed query counts as no space
    };
    for (const Case& k : cases) {
        CBaseComponent c;
        c.SetRequiredDiskSpace(k.requiredKB);
        FreeSpaceProbe::calls = 0;
        FreeSpaceProbe::available = k.available;
        FreeSpaceProbe::ok = k.ok;
        EXPECT_EQ(k.result, c.IsDiskSpaceAvailable(L"D:\\data")) << k.requiredKB << " " << k.available;
        EXPECT_EQ(k.calls, FreeSpaceProbe::calls);
    }
    CBaseComponent c;
    c.SetRequiredDiskSpace(1);
    FreeSpaceProbe::available = 1024;
    FreeSpaceProbe::ok = TRUE;
    EXPECT_EQ(1, c.IsDiskSpaceAvailable(L"D:\\data"));
    EXPECT_EQ(L"D:\\data\\", FreeSpaceProbe::directory);
    EXPECT_EQ(1, c.IsDiskSpaceAvailable(nullptr));
    wchar_t system[MAX_PATH];
    ASSERT_LT(3u, GetSystemDirectoryW(system, MAX_PATH));
    EXPECT_EQ(std::wstring(system, 3), FreeSpaceProbe::directory);
    // An overlong directory is passed whole, never cut into another one.
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'd');
    c.IsDiskSpaceAvailable(longPath.c_str());
    EXPECT_EQ(longPath + L"\\", FreeSpaceProbe::directory);
}

TEST_F(PackageTest, DiskSpaceOfTheRealDrive)
{
    ULARGE_INTEGER available{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &available, nullptr, nullptr));
    const ULONGLONG freeKB = available.QuadPart / 1024;
    ASSERT_LT(64u * 1024u, freeKB);
    ASSERT_GT(0xFFFFFFFFull, freeKB);
    // Other programs write to the same drive meanwhile: 32 MB either side.
    struct Case {
        ULONGLONG requiredKB;
        int result;
    } cases[] = {{freeKB - 32 * 1024, 1}, {freeKB + 32 * 1024, 0}};
    for (const Case& k : cases) {
        CBaseComponent c;
        c.SetRequiredDiskSpace(static_cast<DWORD>(k.requiredKB));
        EXPECT_EQ(k.result, c.IsDiskSpaceAvailable(nullptr)) << k.requiredKB;
        EXPECT_EQ(k.result, c.IsDiskSpaceAvailable(L"C:\\windows")) << k.requiredKB;
    }
}

TEST_F(PackageTest, DependencyFileDecides)
{
    const std::string longModel(5000, 'W');
    std::string manyPlatforms;
    for (int i = 0; i < 10000; ++i)
        manyPlatforms += "<platform model='Model " + std::to_string(i) + "'/>";
    const std::string bigComment = "<!--" + std::string(10 * 1024 * 1024, 'c') + "-->";
    const std::string wine = "<platform model='wine  '/>";
    struct Case {
        const char* name;
        std::string bytes;  // empty: no file
        int met;
    } cases[] = {
        {"no file", "", 1},
        {"only another model", Dependencies("<platform model='Contoso 1000'/>"), 0},
        {"the model among others", Dependencies("<platform model='A'/><platform/><platform model='B'/>" + wine), 1},
        {"siblings of any name are walked", Dependencies("<platform model='A'/><other model='Wine'/>"), 1},
        {"no platform at all", Dependencies("<other model='Wine'/>"), 0},
        {"another root",
         "<dependencies><dependent_hardware><platforms>" + wine + "</platforms></dependent_hardware></dependencies>",
         0},
        {"no platforms element", "<componentdependencies><dependent_hardware/></componentdependencies>", 0},
        {"truncated", Dependencies(wine).substr(0, 90), 0},
        {"UTF-16", Utf16LeFile(Dependencies("<platform model='A'/>" + wine)), 1},
        {"10 MB", Dependencies("<platform model='A'/>" + wine) + bigComment, 1},
        {"10,000 other platforms", Dependencies(manyPlatforms), 0},
        {"10,000 platforms and the model", Dependencies(manyPlatforms + wine), 1},
        {"a model of 5,000 characters", Dependencies("<platform model='" + longModel + "'/>"), 0},
    };
    for (const Case& k : cases) {
        DeleteFileW(L"dependency.xml");
        if (!k.bytes.empty())
            AddFile(L"dependency.xml", k.bytes);
        CBaseComponent c;
        wchar_t message[kCheckMessageChars] = L"";
        EXPECT_EQ(k.met, c.CheckDependencies(message, kCheckMessageChars, L"ja")) << k.name;
        EXPECT_EQ(1, c.m_bDependenciesChecked);
        EXPECT_EQ(k.met, c.m_bDependenciesMet) << k.name;
        EXPECT_STREQ(k.met ? L"" : L"System model not supported.", message) << k.name;
        // Through the whole query: only the unmet dependency changes the answer.
        Record r;
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"ja"));
        EXPECT_EQ(k.met ? 5u : 6u, r.State()) << k.name;
        EXPECT_EQ(k.met ? L"" : L"System model not supported.", r.Message()) << k.name;
    }
}

TEST_F(PackageTest, DependencyMessageIsBounded)
{
    AddFile(L"dependency.xml", Dependencies("<platform model='A'/>"));
    CBaseComponent c;
    wchar_t message[8];
    wmemset(message, L'#', 8);
    EXPECT_EQ(0, c.CheckDependencies(message, 5, L"en"));
    EXPECT_STREQ(L"Syst", message);
    EXPECT_EQ(L'#', message[5]);
}

namespace {

const wchar_t kDeviceId[] = L"ROOT\\TZRSTATE_DEV";
const wchar_t kService[] = L"tzrstate";
const std::wstring kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\tzrstate";

// A Plug and Play driver package: Class and ClassGUID, and the service its
// first AddService section adds.
std::string DriverInf(bool withClassGuid = true)
{
    return std::string("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n") +
           (withClassGuid ? "ClassGUID={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n" : "") +
           "\r\n[Drv.Install]\r\nCopyFiles=Drv.Files\r\n\r\n[Drv.Install.Services]\r\n"
           "AddService=tzrstate,0x00000002,Drv.Service\r\n\r\n[Drv.Files]\r\ntzrstate.sys\r\n\r\n"
           "[Drv.Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\n"
           "ServiceBinary=%12%\\tzrstate.sys\r\n";
}

std::wstring Versioned(const std::wstring& name)
{
    return BuildFile(L"tests\\unit\\versioned\\versioned_" + name + L".dll");
}

// A package folder of its own that also leaves the prefix's devices,
// services and device nodes as it found them.
class MachineInstallState : public PackageTest {
protected:
    void SetUp() override
    {
        PackageTest::SetUp();
        m_before = CaptureMachineState();
    }
    void TearDown() override
    {
        const MachineState after = CaptureMachineState();
        EXPECT_EQ(m_before.devices, after.devices);
        EXPECT_EQ(m_before.services, after.services);
        EXPECT_EQ(m_before.rootNodes, after.rootNodes);
        PackageTest::TearDown();
    }

    // A component for the driver package in this folder at the given
    // package version, installed as a PnP driver of the test device.
    void Prepare(CBaseComponent& c, const std::string& version)
    {
        AddFile(L"kxstate.xml", Package("<version value='" + version + "'/>"));
        ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxstate.xml"));
        c.SetInfFile((m_folder + L"\\tzrstate.inf").c_str(), kInstallPnP);
        c.SetTargetFile(Versioned(L"2_10_0_0").c_str());
        c.AddSupportedDevice(kDeviceId);
    }

    MachineState m_before;
};

}  // namespace

TEST_F(MachineInstallState, InstalledDriverOnItsDevice)
{
    TestDevice device(L"TZRSTATE_DEV", {kDeviceId});
    ASSERT_TRUE(device.Created());
    TestService service(kService, L"C:\\windows\\system32\\drivers\\tzrstate.sys");
    ASSERT_TRUE(service.Created());
    // The Plug and Play manager lists the devices a driver runs in its
    // service's Enum key; Wine never writes it, so the test does.
    TestRegistryKey enumKey(kServiceKey + L"\\Enum");
    ASSERT_TRUE(enumKey.Created());
    ASSERT_TRUE(enumKey.SetDword(L"Count", 1));
    ASSERT_TRUE(enumKey.SetString(L"0", device.InstanceId()));
    AddFile(L"tzrstate.inf", DriverInf());

    struct Case {
        const char* name;
        std::string version;
        std::string dependencies;  // empty: no file
        unsigned state;
        const wchar_t* message;
        const char* versionLine;
    } cases[] = {
        {"same", "2.10", "", 1, L"", "Same"},
        {"installed file newer", "2.9", "", 3, L"", "Newer"},
        {"installed file older", "3.0", "", 2, L"", "Older"},
        {"same, another model", "2.10", Dependencies("<platform model='Contoso 1000'/>"), 6,
         L"System model not supported.", "Same"},
        {"same, this model", "2.10", Dependencies("<platform model='Wine'/>"), 1, L"", "Same"},
    };
    for (const Case& k : cases) {
        DeleteFileW(L"dependency.xml");
        if (!k.dependencies.empty())
            AddFile(L"dependency.xml", k.dependencies);
        CBaseComponent c;
        Prepare(c, k.version);
        OpenLog(c);
        Record r;
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"en")) << k.name;
        EXPECT_EQ(k.state, r.State()) << k.name;
        EXPECT_EQ(std::wstring(k.message), r.Message()) << k.name;
        EXPECT_EQ(1, c.IsHardwarePresent()) << k.name;
        EXPECT_EQ(1, c.IsComponentInstalled()) << k.name;
        const std::vector<std::string> lines = VerboseLinesStartingWith(kCheck + "Installed component");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(kCheck + "Installed component version status..." + k.versionLine, lines.back()) << k.name;
    }
}

TEST_F(MachineInstallState, WhatMakesTheDriverNotInstalled)
{
    TestDevice device(L"TZRSTATE_DEV", {kDeviceId});
    ASSERT_TRUE(device.Created());
    struct Case {
        const char* name;
        bool service;
        DWORD start;  // 0: as created
        DWORD enumCount;
        std::wstring enumFirst;
        bool classGuid;
        int installType;
        int installed;
    } cases[] = {
        {"everything in place", true, 0, 1, device.InstanceId(), true, kInstallPnP, 1},
        {"no service", false, 0, 1, device.InstanceId(), true, kInstallPnP, 0},
        {"service disabled", true, 4, 1, device.InstanceId(), true, kInstallPnP, 0},
        {"no ClassGUID", true, 0, 1, device.InstanceId(), false, kInstallPnP, 0},
        {"legacy install type", true, 0, 1, device.InstanceId(), true, kInstallLegacy, 0},
        {"only its legacy node", true, 0, 1, L"Root\\LEGACY_TZRSTATE\\0000", true, kInstallPnP, 0},
        {"fewer devices than present", true, 0, 0, L"", true, kInstallPnP, 0},
    };
    for (const Case& k : cases) {
        std::unique_ptr<TestService> service;
        std::unique_ptr<TestRegistryKey> enumKey;
        if (k.service) {
            service.reset(new TestService(kService, L"C:\\windows\\system32\\drivers\\tzrstate.sys"));
            ASSERT_TRUE(service->Created()) << k.name;
            if (k.start) {
                ASSERT_TRUE(SetRegistryDword(kServiceKey, L"Start", k.start));
            }
            // What the Plug and Play manager would have written.
            enumKey.reset(new TestRegistryKey(kServiceKey + L"\\Enum"));
            ASSERT_TRUE(enumKey->SetDword(L"Count", k.enumCount));
            if (!k.enumFirst.empty()) {
                ASSERT_TRUE(enumKey->SetString(L"0", k.enumFirst));
            }
        }
        AddFile(L"tzrstate.inf", DriverInf(k.classGuid));
        CBaseComponent c;
        Prepare(c, "2.10");
        c.m_nInstallType = k.installType;
        EXPECT_EQ(k.installed, c.IsComponentInstalled()) << k.name;
        Record r;
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"en"));
        EXPECT_EQ(k.installed ? 1u : 5u, r.State()) << k.name;
        enumKey.reset();
        service.reset();
    }
}

TEST_F(MachineInstallState, MarkedForRemovalRefusesTheInstallation)
{
    TestService service(kService, L"C:\\windows\\system32\\drivers\\tzrstate.sys");
    ASSERT_TRUE(service.Created());
    AddFile(L"tzrstate.inf", DriverInf());
    CBaseComponent c;
    Prepare(c, "2.10");
    c.m_vSupportedDevices.clear();
    EXPECT_EQ(0, c.IsMarkedForRemoval());
    // Windows marks a service deleted while it runs with DeleteFlag; Wine's
    // DeleteService never does, so the test writes it.
    ASSERT_TRUE(SetRegistryDword(kServiceKey, L"DeleteFlag", 1));
    EXPECT_EQ(1, c.IsMarkedForRemoval());
    Record r;
    ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"es"));
    EXPECT_EQ(7u, r.State());
    EXPECT_EQ(L"El componente est\u00e1 marcado para eliminarlo la pr\u00f3xima vez que reinicie.  La instalaci\u00f3n "
              L"no puede continuar.\r\n",
              r.Message());
    // The service of the INF counts, not the one install.xml names.
    c.m_sServiceName = L"tzrother";
    EXPECT_EQ(1, c.IsMarkedForRemoval());
    c.SetInfFile(L"", kInstallPnP);
    EXPECT_EQ(0, c.IsMarkedForRemoval()) << "no INF, no service to ask";
}

TEST_F(MachineInstallState, HardwareAbsentAndInstalledEvenWhenOlder)
{
    TestService service(kService, L"C:\\windows\\system32\\drivers\\tzrstate.sys");
    ASSERT_TRUE(service.Created());
    TestRegistryKey enumKey(kServiceKey + L"\\Enum");
    ASSERT_TRUE(enumKey.SetDword(L"Count", 1));
    ASSERT_TRUE(enumKey.SetString(L"0", L"ROOT\\TZRSTATE_GONE\\0000"));
    AddFile(L"tzrstate.inf", DriverInf());
    CBaseComponent c;
    Prepare(c, "3.0");  // the device of kDeviceId is not there
    OpenLog(c);
    Record r;
    ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"en"));
    EXPECT_EQ(4u, r.State());
    EXPECT_EQ(std::vector<std::string>{kCheck + "Is hardware present...No"},
              VerboseLinesStartingWith(kCheck + "Is hardware"));
    EXPECT_EQ(std::vector<std::string>{kCheck + "Installed component version status...Older"},
              VerboseLinesStartingWith(kCheck + "Installed component"));
}

TEST_F(PackageTest, WithoutADriverTheTargetFileIsTheComponent)
{
    struct Case {
        const char* name;
        std::wstring inf;
        std::wstring target;
        int installed;
    } cases[] = {
        {"no INF, file there", L"", Versioned(L"2_10_0_0"), 1},
        {"INF that does not open", L"C:\\tzr-no-such\\x.inf", Versioned(L"none"), 1},
        {"no INF, file missing", L"", L"C:\\tzr-no-such\\x.sys", 0},
        {"no INF, a folder", L"", m_folder, 0},
        {"no INF, a path of 300 characters", L"", L"C:\\" + std::wstring(300, L'p') + L".sys", 0},
        {"no target", L"", L"", 0},
    };
    for (const Case& k : cases) {
        CBaseComponent c;
        c.SetInfFile(k.inf.c_str(), kInstallPnP);
        c.SetTargetFile(k.target.c_str());
        EXPECT_EQ(k.installed, c.IsComponentInstalled()) << k.name;
        EXPECT_EQ(0, c.IsMarkedForRemoval()) << k.name;
    }
    // An INF without an AddService line names no service either.
    AddFile(L"plain.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n");
    CBaseComponent c;
    c.SetInfFile((m_folder + L"\\plain.inf").c_str(), kInstallPnP);
    c.SetTargetFile(Versioned(L"1_0_0_0").c_str());
    EXPECT_EQ(1, c.IsComponentInstalled());
    // Nor does one whose service name does not fit 259 characters: it is
    // never cut into the name of another service.
    AddFile(L"long.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
                         "ClassGUID={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n[S.Services]\r\nAddService=" +
                             std::string(300, 's') + ",2,Svc\r\n[Svc]\r\nServiceType=1\r\n");
    c.SetInfFile((m_folder + L"\\long.inf").c_str(), kInstallPnP);
    EXPECT_EQ(1, c.IsComponentInstalled());
    EXPECT_EQ(0, c.IsMarkedForRemoval());
    c.SetTargetFile(L"C:\\tzr-no-such\\x.sys");
    EXPECT_EQ(0, c.IsComponentInstalled());
}

TEST_F(PackageTest, VersionStatusNeedsBothVersions)
{
    struct Case {
        const char* name;
        std::wstring target;
        std::string package;  // the version element
        int status;
    } cases[] = {
        {"2.10 against 2.10", Versioned(L"2_10_0_0"), "<version value='2.10'/>", 1},
        {"2.10 against 2.9", Versioned(L"2_10_0_0"), "<version value='2.9'/>", 2},
        {"2.10 against 3.0", Versioned(L"2_10_0_0"), "<version value='3.0'/>", 0},
        {"beyond 16 bits", Versioned(L"65535_0_0_0"), "<version value='99999.99999.x.-1'/>", 2},
        {"no package version", Versioned(L"2_10_0_0"), "", 0},
        {"empty package version", Versioned(L"2_10_0_0"), "<version value=''/>", 0},
        {"overlong package version", Versioned(L"2_10_0_0"), "<version value='2.10" + std::string(300, '0') + "'/>",
         0},
        {"no installed file", L"C:\\tzr-no-such\\x.sys", "<version value='2.10'/>", 0},
        {"a path of 300 characters", L"C:\\" + std::wstring(300, L'p') + L".sys", "<version value='2.10'/>", 0},
    };
    for (const Case& k : cases) {
        AddFile(L"kxversion.xml", Package(k.package));
        CBaseComponent c;
        ASSERT_EQ(0u, c.ReadPackageDefinition(L"kxversion.xml"));
        c.SetTargetFile(k.target.c_str());
        EXPECT_EQ(k.status, c.GetInstalledVersionStatus()) << k.name;
    }
}

// Not run by itself: the probe the COM security test starts in a fresh
// process. It asks the install state in its current directory, then tries
// to set the process's COM security as a host would.
TEST(ComSecurityProbe, DISABLED_Run)
{
    {
        CBaseComponent c;
        Record r;
        ASSERT_EQ(1, c.GetInstallState(r.bytes.data(), r.size, L"en"));
        printf("probe state %u\n", r.State());
    }
    ComApartment com;
    ASSERT_TRUE(SUCCEEDED(com.Enter(COINIT_MULTITHREADED)));
    const HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                            RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    const HRESULT again = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    // Whether this system refuses a second setting at all (Wine accepts
    // every one), and whether WMI's client was loaded into the process.
    printf("probe security %d enforced %d wmi %d\n", hr == S_OK ? 1 : 0, again == RPC_E_TOO_LATE ? 1 : 0,
           GetModuleHandleW(L"wbemprox.dll") ? 1 : 0);
    fflush(stdout);
}

TEST_F(PackageTest, ComSecurityIsLeftToTheHostWithoutModelsToCompare)
{
    wchar_t self[MAX_PATH] = L"";
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::wstring command =
        QuoteArg(self) + L" --gtest_also_run_disabled_tests --gtest_filter=ComSecurityProbe.DISABLED_Run";
    struct Case {
        const char* name;
        std::string dependencies;  // empty: no file
        unsigned state;
        bool comSetUp;
    } cases[] = {
        {"no dependency file", "", 5, false},
        {"another root", "<dependencies/>", 6, false},
        {"no platform", Dependencies(""), 6, false},
        {"platforms without a model", Dependencies("<platform/><platform name='x'/>"), 6, false},
        {"a model to compare", Dependencies("<platform model='Wine'/>"), 5, true},
    };
    for (const Case& k : cases) {
        DeleteFileW(L"dependency.xml");
        if (!k.dependencies.empty())
            AddFile(L"dependency.xml", k.dependencies);
        ProcessResult run = RunProcess(command, m_folder);
        ASSERT_TRUE(run.started) << k.name;
        run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
        EXPECT_NE(std::string::npos, run.output.find("probe state " + std::to_string(k.state) + "\n"))
            << k.name << "\n" << run.output;
        // WMI only when there was a model to ask it for; and then the
        // process's COM security was set by the plug-in, else it is still
        // the host's to set (where the system holds it to once per process).
        const size_t at = run.output.find("probe security ");
        ASSERT_NE(std::string::npos, at) << k.name << "\n" << run.output;
        int security = -1, enforced = -1, wmi = -1;
        ASSERT_EQ(3, sscanf(run.output.c_str() + at, "probe security %d enforced %d wmi %d", &security, &enforced,
                            &wmi));
        EXPECT_EQ(k.comSetUp ? 1 : 0, wmi) << k.name;
        if (enforced) {
            EXPECT_EQ(k.comSetUp ? 0 : 1, security) << k.name;
        }
    }
}
