// The default installation: the dispatch on the install type with its log
// lines and messages, the ShellExecute step, a legacy INF installed for real,
// and the Plug and Play road with its no-overwrite rules. Wine's newdev
// answers TRUE to everything and never asks for a restart, so that one call
// comes through the seam; the devices are table entries the test makes.
#include "base_component.h"
#include "driver_api.h"
#include "driver_fixtures.h"
#include "framework_module.h"
#include "file_version.h"
#include "package_fixture.h"
#include "pnp_driver.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

const std::wstring kFilled(600, L'#');

// A host's message buffer, larger than any message and already holding text.
struct MessageBuffer {
    std::vector<wchar_t> chars = std::vector<wchar_t>(kFilled.begin(), kFilled.end());
    MessageBuffer() { chars.push_back(L'\0'); }
    wchar_t* get() { return chars.data(); }
    std::wstring text() const { return std::wstring(chars.data()); }
};

// Records which type-specific slot the dispatch reached.
class DispatchProbe : public CBaseComponent {
public:
    unsigned InstallLegacy(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*) override { return Hit(1); }
    unsigned InstallPnP(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*) override { return Hit(2); }
    unsigned InstallVirtual(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*) override { return Hit(3); }
    unsigned Hit(int slot)
    {
        slots.push_back(slot);
        return answer;
    }
    std::vector<int> slots;
    unsigned answer = 1;
};

class Installation : public PackageTest {
protected:
    std::vector<std::string> TypeLines() const
    {
        std::vector<std::string> lines;
        for (const std::string& line : VerboseLines())
            if (line.find("Type=") != std::string::npos)
                lines.push_back(line);
        return lines;
    }
};

TEST_F(Installation, DispatchOnTheInstallType)
{
    const struct {
        int type;
        int slot;  // 0: none
        const char* typeLine;
    } cases[] = {
        {1, 1, "Type=LEGACY"}, {2, 2, "Type=PNP"}, {3, 3, "Type=LEGACY"}, {-1, 0, ""}, {0, 0, ""}, {4, 0, ""},
    };
    for (const auto& c : cases) {
        DeleteFileW(m_verbose.c_str());
        DispatchProbe probe;
        OpenLog(probe);
        probe.m_nInstallType = c.type;
        MessageBuffer message;
        const unsigned result = probe.Installation(0, 0, message.get(), 0, L"en");
        probe.m_pLog->Close();
        if (c.slot) {
            EXPECT_EQ(1u, result) << c.type;
            EXPECT_EQ(std::vector<int>{c.slot}, probe.slots) << c.type;
            EXPECT_EQ(kFilled, message.text()) << "the slot's answer stands";
            EXPECT_EQ(std::vector<std::string>{std::string("Initiating installation... ") + c.typeLine}, TypeLines())
                << c.type;
        } else {
            EXPECT_EQ(0u, result) << c.type;
            EXPECT_TRUE(probe.slots.empty()) << c.type;
            EXPECT_EQ(L"Unknown INF file type -- installation will not continue.", message.text());
            EXPECT_TRUE(TypeLines().empty());
            const std::string main = ReadFileBytes(std::wstring(probe.m_pLog->MainPath()));
            EXPECT_NE(std::string::npos,
                      main.find("Initiating installation... \r\n"))
                << main;
            EXPECT_NE(std::string::npos, main.find("Unknown INF file type -- installation will not continue.\r\n"))
                << main;
        }
    }
}

TEST_F(Installation, MessagesInTheHostsLanguage)
{
    CBaseComponent component;
    MessageBuffer message;
    EXPECT_EQ(0u, component.Installation(0, 0, message.get(), 0, L"ja"));
    EXPECT_EQ(g_aszUnknownInfType[kLangJapanese], message.text());
}

TEST(InstallationMessages, EveryMessageFitsTheCopyWhole)
{
    const TzrMessageTable* tables[] = {&g_aszNoSupportedDevices, &g_aszNoDevicesToInstall,
                                       &g_aszInstallFailedOnDevice, &g_aszShellExecuteError,
                                       &g_aszUnknownInfType};
    size_t longest = 0;
    for (const TzrMessageTable* table : tables)
        for (const wchar_t* text : *table)
            longest = std::max(longest, wcslen(text));
    EXPECT_LT(longest, InstallMessageCapacity());
}

TEST_F(Installation, ShellExecuteRunsWhateverTheResultAndItsFailureWins)
{
    const std::wstring program = SystemRoot() + L"\\system32\\hostname.exe";
    if (!FileExists(program))
        GTEST_SKIP() << "no hostname.exe in the prefix to open";
    const std::wstring noAssociation = m_folder + L"\\file.tzrnoassoc";
    const struct {
        int type;
        const wchar_t* file;
        unsigned expected;
        const wchar_t* message;
        const char* outcome;
    } cases[] = {
        {1, L"", 1, kFilled.c_str(), nullptr},
        {1, program.c_str(), 1, kFilled.c_str(), "Done."},
        {1, L"C:\\no\\such\\program.exe", 0, L"An error occurred during the ShellExecute command.", "Failed!"},
        {1, noAssociation.c_str(), 0, L"An error occurred during the ShellExecute command.", "Failed!"},
        {-1, program.c_str(), 0, L"Unknown INF file type -- installation will not continue.", "Done."},
    };
    WriteFileBytes(noAssociation.c_str(), "no program opens this");
    for (const auto& c : cases) {
        DeleteFileW(m_verbose.c_str());
        DispatchProbe probe;
        OpenLog(probe);
        probe.m_nInstallType = c.type;
        wcscpy(probe.m_szShellExecuteFile, c.file);
        MessageBuffer message;
        EXPECT_EQ(c.expected, probe.Installation(0, 0, message.get(), 0, L"en")) << Narrow(c.file);
        probe.m_pLog->Close();
        EXPECT_EQ(c.message, message.text()) << Narrow(c.file);
        const std::vector<std::string> lines = VerboseLinesStartingWith("basecomp> Executing ShellExecute");
        if (c.outcome) {
            ASSERT_EQ(1u, lines.size()) << Narrow(c.file);
            EXPECT_EQ("basecomp> Executing ShellExecute command - open " + Narrow(c.file) + "... " + c.outcome,
                      lines[0]);
            // A failure says why, after its "Failed!".
            const std::string reason = "Failed!\r\n    - ShellExecuteW(open, " + Narrow(c.file) + ") failed: error 0x";
            EXPECT_EQ(std::string(c.outcome) == "Failed!", ReadFileBytes(m_verbose).find(reason) != std::string::npos)
                << Narrow(c.file);
            // Its source position is the fixed one, not this file's line.
            EXPECT_NE(std::string::npos, ReadFileBytes(m_verbose).find("]::basecomp[312] Executing ShellExecute"));
        } else {
            EXPECT_TRUE(lines.empty());
        }
    }
}

// A legacy INF in the package folder that writes one registry value.
const char kRegistryInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "[DestinationDirs]\r\n"
    "DefaultDestDir=11\r\n"
    "[DefaultInstall]\r\n"
    "CopyFiles=No.Files\r\n"
    "AddReg=Test.Reg\r\n"
    "[Other]\r\n"
    "CopyFiles=No.Files\r\n"
    "AddReg=Other.Reg\r\n"
    "[No.Files]\r\n"
    "[Test.Reg]\r\n"
    "HKLM,\"Software\\TzrInstallTest\",\"Installed\",0x00010001,1\r\n"
    "[Other.Reg]\r\n"
    "HKLM,\"Software\\TzrInstallTest\",\"Other\",0x00010001,1\r\n";

const wchar_t kInstallTestKey[] = L"Software\\TzrInstallTest";

TEST_F(Installation, LegacyInfWithTheRestartRuleAndItsSection)
{
    AddFile(L"legacy.inf", kRegistryInf);
    const struct {
        const wchar_t* inf;
        const wchar_t* section;
        int reboot;
        unsigned expected;
        const wchar_t* value;
    } cases[] = {
        {L"legacy.inf", L"", 0, 1, L"Installed"},
        {L"legacy.inf", L"", 1, 2, L"Installed"},
        {L"legacy.inf", L"Other", 0, 1, L"Other"},
        {L"missing.inf", L"", 1, 0, nullptr},
    };
    for (const auto& c : cases) {
        const Leftovers leftovers({}, {kInstallTestKey});
        CBaseComponent component;
        component.SetInfFile(c.inf, kInstallLegacy);
        component.m_sInfSection = c.section;
        component.m_bRebootRequired = c.reboot;
        MessageBuffer message;
        EXPECT_EQ(c.expected, component.Installation(0, 0, message.get(), 0, L"en")) << Narrow(c.inf);
        EXPECT_EQ(kFilled, message.text()) << "a failed INF leaves no message";
        // The missing INF writes nothing (a missing value reads 0xFFFFFFFF).
        EXPECT_EQ(c.value ? 1u : 0xFFFFFFFFu, RegistryDword(kInstallTestKey, c.value ? c.value : L"Installed"))
            << Narrow(c.inf);
    }
}

// newdev as Windows answers it: the restart and the failure per id.
std::vector<std::wstring> g_offered;
// The stand-in newdev binds no device: its success is taken as the binding
// it stands for.
BOOL WINAPI BindsAsAnswered(const wchar_t*, const wchar_t*)
{
    return TRUE;
}

BOOL WINAPI FakeUpdateDriver(HWND, LPCWSTR id, LPCWSTR, DWORD, PBOOL restart)
{
    g_offered.emplace_back(id);
    const std::wstring text(id);
    if (restart)
        *restart = text == L"TZR\\RESTARTS";
    return text != L"TZR\\FAILS";
}

const char kPackageInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "[Drv.Services]\r\n"
    "AddService=TzrPkgSvc,2,Svc.Install\r\n"
    "[Svc.Install]\r\n"
    "ServiceType=1\r\n";

const char kOtherVendorInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "[Drv.Services]\r\n"
    "AddService=OtherSvc,2,Svc.Install\r\n"
    "[Svc.Install]\r\n"
    "ServiceType=1\r\n";

const char kSameServiceInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "[Old.Services]\r\n"
    "AddService=tzrpkgsvc,2,Svc.Install\r\n"
    "[Svc.Install]\r\n"
    "ServiceType=1\r\n";

class InstallPnP : public Installation {
protected:
    void SetUp() override
    {
        Installation::SetUp();
        g_offered.clear();
        driverapi::OverrideForTest(driverapi::kUpdateDriverForPlugAndPlayDevicesW,
                                   reinterpret_cast<void*>(&FakeUpdateDriver));
        driverapi::OverrideForTest(driverapi::kTzrRunsPackageDriver, reinterpret_cast<void*>(&BindsAsAnswered));
        AddFile(L"pkg.inf", kPackageInf);
        AddFile(L"other.inf", kOtherVendorInf);
        AddFile(L"same.inf", kSameServiceInf);
        // Staging reads the INF beside the plug-in (here the test program).
        WriteFileBytes(BesidePlugin(), kPackageInf);
        m_component.SetInfFile(L"pkg.inf", kInstallPnP);
    }
    static std::wstring BesidePlugin() { return std::wstring(FrameworkFolder().c_str()) + L"\\pkg.inf"; }
    void TearDown() override
    {
        driverapi::OverrideForTest(driverapi::kUpdateDriverForPlugAndPlayDevicesW, nullptr);
        driverapi::OverrideForTest(driverapi::kTzrRunsPackageDriver, nullptr);
        const std::wstring staging(CWin2000PnPDriver::StagingFolder().c_str());
        DeleteFileW((staging + L"\\pkg.inf").c_str());
        DeleteFileW(BesidePlugin().c_str());
        Installation::TearDown();
    }
    // A present device in the table, running the driver of inf (empty: no
    // driver) with the given driver flags.
    void AddDevice(const wchar_t* id, const std::wstring& inf = L"", DWORD flags = 0)
    {
        W2KDEVINST record;
        record.hDevInfo = reinterpret_cast<HDEVINFO>(static_cast<ULONG_PTR>(1));  // never called
        record.driverInstallParams.Flags = flags;
        if (!inf.empty())
            wcsncpy(record.DriverDetail()->InfFileName, (m_folder + L"\\" + inf).c_str(), MAX_PATH - 1);
        m_component.m_vDevices.emplace_back(record, CStr(id));
    }
    unsigned Run(MessageBuffer& message) { return m_component.Installation(0, 0, message.get(), 0, L"en"); }

    CBaseComponent m_component;
};

TEST_F(InstallPnP, NoSupportedIdsAndNoPresentIds)
{
    MessageBuffer message;
    OpenLog(m_component);
    EXPECT_EQ(0u, Run(message));
    EXPECT_EQ(L"No supported devices were specified.", message.text());
    m_component.m_pLog->Close();
    EXPECT_NE(std::string::npos,
              ReadFileBytes(m_component.m_pLog->MainPath()).find("No supported devices were specified.\r\n"));

    m_component.AddSupportedDevice(L"TZR\\ABSENT");
    AddDevice(L"TZR\\PRESENT");
    MessageBuffer again;
    EXPECT_EQ(0u, Run(again));
    EXPECT_EQ(L"No devices were found to install.", again.text());
    EXPECT_TRUE(g_offered.empty());
}

TEST_F(InstallPnP, PresentIdsOfferedOnceWithTheResultMapping)
{
    const struct {
        std::vector<std::wstring> supported;
        int reboot;
        unsigned expected;
        const wchar_t* message;
        std::vector<std::wstring> offered;
    } cases[] = {
        {{L"TZR\\A", L"TZR\\ABSENT", L"TZR\\A", L"tzr\\b"}, 0, 1, nullptr, {L"TZR\\A", L"tzr\\b"}},
        {{L"TZR\\A"}, 1, 2, nullptr, {L"TZR\\A"}},
        {{L"TZR\\A", L"TZR\\RESTARTS"}, 0, 2, nullptr, {L"TZR\\A", L"TZR\\RESTARTS"}},
        {{L"TZR\\RESTARTS", L"TZR\\FAILS"},
         0,
         0,
         L"Installation failed on at least one device.  One of the devices may have been deleted through Device "
         L"Manager and a reboot may be necessary to complete the driver installation for this device.",
         {L"TZR\\RESTARTS", L"TZR\\FAILS"}},
    };
    AddDevice(L"TZR\\A");
    AddDevice(L"TZR\\B");
    AddDevice(L"TZR\\RESTARTS");
    AddDevice(L"TZR\\FAILS");
    for (const auto& c : cases) {
        g_offered.clear();
        m_component.m_vSupportedDevices.clear();
        for (const std::wstring& id : c.supported)
            m_component.AddSupportedDevice(id.c_str());
        m_component.m_bRebootRequired = c.reboot;
        MessageBuffer message;
        EXPECT_EQ(c.expected, Run(message));
        EXPECT_EQ(c.message ? std::wstring(c.message) : kFilled, message.text());
        EXPECT_EQ(c.offered, g_offered);
    }
}

TEST_F(InstallPnP, NoOverwriteUpdatesInboxAndOwnDriversOnly)
{
    m_component.m_bNoOverwrite = 1;
    AddDevice(L"TZR\\INBOX", L"other.inf", 0x00100000);
    AddDevice(L"TZR\\NODRIVER");
    AddDevice(L"TZR\\OTHERVENDOR", L"other.inf");
    AddDevice(L"TZR\\OURS", L"same.inf");
    for (const wchar_t* id : {L"TZR\\INBOX", L"TZR\\NODRIVER", L"TZR\\OTHERVENDOR", L"TZR\\OURS"})
        m_component.AddSupportedDevice(id);
    MessageBuffer message;
    EXPECT_EQ(1u, Run(message));
    EXPECT_EQ((std::vector<std::wstring>{L"TZR\\INBOX", L"TZR\\OURS"}), g_offered);

    // Every present device left alone: nothing failed, nothing to do.
    g_offered.clear();
    m_component.m_vSupportedDevices.clear();
    m_component.AddSupportedDevice(L"TZR\\NODRIVER");
    m_component.AddSupportedDevice(L"TZR\\OTHERVENDOR");
    MessageBuffer untouched;
    EXPECT_EQ(1u, Run(untouched));
    EXPECT_EQ(kFilled, untouched.text());
    EXPECT_TRUE(g_offered.empty());

    // Without the rule the same devices are all updated.
    g_offered.clear();
    m_component.m_bNoOverwrite = 0;
    EXPECT_EQ(1u, Run(untouched));
    EXPECT_EQ((std::vector<std::wstring>{L"TZR\\NODRIVER", L"TZR\\OTHERVENDOR"}), g_offered);
}

TEST_F(InstallPnP, TheCopyNeverPassesTheCapacity)
{
    AddDevice(L"TZR\\FAILS");
    m_component.AddSupportedDevice(L"TZR\\FAILS");
    std::vector<wchar_t> buffer(InstallMessageCapacity() + 8, L'#');
    EXPECT_EQ(0u, m_component.Installation(0, 0, buffer.data(), 0, L"en"));
    EXPECT_EQ(g_aszInstallFailedOnDevice[kLangEnglish], std::wstring(buffer.data()));
    for (size_t i = InstallMessageCapacity(); i < buffer.size(); ++i)
        EXPECT_EQ(L'#', buffer[i]) << i;
}

TEST_F(InstallPnP, AnOverlongPresentIdFailsWithALogLine)
{
    const std::wstring longId = L"TZR\\" + std::wstring(296, L'L');
    AddDevice(longId.c_str());
    AddDevice(L"TZR\\A");
    m_component.AddSupportedDevice(longId.c_str());
    m_component.AddSupportedDevice(L"TZR\\A");
    OpenLog(m_component);
    MessageBuffer message;
    EXPECT_EQ(0u, Run(message));
    m_component.m_pLog->Close();
    EXPECT_EQ(std::vector<std::wstring>{L"TZR\\A"}, g_offered);
    EXPECT_EQ(0u, message.text().find(L"Installation failed on at least one device."));
    EXPECT_NE(std::string::npos, ReadFileBytes(m_component.m_pLog->MainPath())
                                     .find("Hardware ID is longer than 255 characters -- not installed"));
}

}  // namespace
