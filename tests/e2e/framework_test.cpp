// The framework's defaults as a user meets them: the framework's own plug-in
// as setup.dll in a package folder, tzrhost.exe installing a driver package
// from its install.xml and INF on the prefix, and everything the package
// left removed again afterwards.
//
#include "driver_fixtures.h"
#include "inf_models.h"
#include "install_state_record.h"
#include "scenario.h"
#include "win_handle.h"

#include <gtest/gtest.h>

#include <setupapi.h>
#include <cfgmgr32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

const char kPackageDefinition[] = "<?xml version=\"1.0\"?>\r\n<tzr_package></tzr_package>\r\n";

std::string InstallXml(const std::string& infAttributes)
{
    return "<?xml version=\"1.0\"?>\r\n<tzr_install><inf_information><inf_file " + infAttributes +
           "/></inf_information></tzr_install>\r\n";
}

// A legacy kernel service: one file into the drivers folder, one registry
// value, the service itself; no class, so no device node.
const char kLegacyInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "[DestinationDirs]\r\n"
    "DefaultDestDir=12\r\n"
    "[DefaultInstall]\r\n"
    "CopyFiles=Legacy.Files\r\n"
    "AddReg=Legacy.Reg\r\n"
    "[DefaultInstall.Services]\r\n"
    "AddService=TzrE2eLegacy,0x00000002,Legacy.Service\r\n"
    "[Legacy.Files]\r\n"
    "tzre2elegacy.sys\r\n"
    "[Legacy.Reg]\r\n"
    "HKLM,\"Software\\TzrE2eLegacy\",\"Installed\",0x00010001,1\r\n"
    "HKLM,\"Software\\TzrE2eLegacy\",\"Name\",0x00000000,\"legacy package\"\r\n"
    "[Legacy.Service]\r\n"
    "DisplayName=\"Tzr legacy package\"\r\n"
    "ServiceType=1\r\n"
    "StartType=3\r\n"
    "ErrorControl=1\r\n"
    "ServiceBinary=%12%\\tzre2elegacy.sys\r\n";

const wchar_t kLegacyService[] = L"TzrE2eLegacy";
const wchar_t kLegacyKey[] = L"Software\\TzrE2eLegacy";

// Removes what the legacy package installs, before and after the test, so
// a run that failed halfway is repaired by the next.
struct LegacyPackageLeftovers : Leftovers {
    LegacyPackageLeftovers() : Leftovers({kLegacyService}, {kLegacyKey}, {DriverFile()}) {}
    static std::wstring DriverFile() { return SystemRoot() + L"\\system32\\drivers\\tzre2elegacy.sys"; }
};

class FrameworkPlugin : public MachineTest {
protected:
    static void UseFrameworkPlugin(const Scenario& s)
    {
        s.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
        s.AddFile(L"kxframework.xml", kPackageDefinition);
    }
};

TEST_F(FrameworkPlugin, LegacyDriverPackageInstallsFileRegistryAndService)
{
    LegacyPackageLeftovers leftovers;
    Scenario s("fw_legacy");
    UseFrameworkPlugin(s);
    s.AddFile(L"install.xml", InstallXml("filename=\"tzre2elegacy.inf\" type=\"LEGACY\""));
    s.AddFile(L"tzre2elegacy.inf", kLegacyInf);
    s.AddFile(L"tzre2elegacy.sys", "legacy driver bytes");

    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    ASSERT_TRUE(r.started);
    // The host asks the install state before it installs.
    EXPECT_EQ(static_cast<unsigned>(kStateNotInstalled), r.State()) << r.output;
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine()) << r.output;
    EXPECT_EQ("legacy driver bytes", ReadFileBytes(LegacyPackageLeftovers::DriverFile()));
    EXPECT_EQ(1u, RegistryDword(kLegacyKey, L"Installed"));
    EXPECT_EQ("legacy package", RegistryString(kLegacyKey, L"Name"));
    EXPECT_TRUE(ServiceExists(kLegacyService));
    const std::string verbose = Scenario::ComponentVerboseLog();
    // Success adds the outcome and nothing else.
    EXPECT_NE(std::string::npos, verbose.find("Initiating installation... Type=LEGACY\r\nInstallation succeeded.\r\n"))
        << verbose;
    EXPECT_NE(std::string::npos,
              Scenario::ComponentLog().find("Initiating installation... \r\nInstallation succeeded.\r\n"))
        << Scenario::ComponentLog();
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

const char kWithClass[] =
    "Signature=\"$Windows NT$\"\r\nClass=System\r\nClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n";

// What goes wrong on the legacy road answers 0 (exit 1603), and both logs
// say what failed or what was refused, then end in the outcome.
TEST_F(FrameworkPlugin, LegacyFailuresAnswerZeroAndSayWhy)
{
    const std::string file = "tzre2elegacy.sys\r\n[Legacy.Reg]";
    const struct {
        std::string folder, inf, attributes, reason;
    } cases[] = {
        {"fw_no_section", kLegacyInf, " section=\"DefaultInstal\"",
         "    - Install section DefaultInstal refused: "},
        {"fw_nul", Replaced(kLegacyInf, file, "NUL\r\n[Legacy.Reg]"), "",
         "    - File name NUL refused: it is a Windows device name, not a file\r\n"},
        {"fw_com1", Replaced(kLegacyInf, file, "com1.sys\r\n[Legacy.Reg]"), "",
         "    - File name com1.sys refused: it is a Windows device name, not a file\r\n"},
        {"fw_minus_dirid", Replaced(kLegacyInf, "DefaultDestDir=12", "DefaultDestDir=-12"), "",
         " has no [DestinationDirs] line with a known directory\r\n"},
        // A section other than [DefaultInstall] of a device setup class gets
        // its node, and Wine cannot build the class-driver list it needs.
        {"fw_class",
         Replaced(Replaced(Replaced(kLegacyInf, "Signature=\"$Windows NT$\"\r\n", kWithClass), "[DefaultInstall]",
                           "[Install]"),
                  "[DefaultInstall.Services]", "[Install.Services]"),
         " section=\"Install\"", "    - SetupDiBuildDriverInfoList(SPDIT_CLASSDRIVER) failed: error 0x00000078 ("},
        // A list the INF does not have is not skipped as if empty.
        {"fw_typo_list", Replaced(kLegacyInf, "CopyFiles=Legacy.Files", "CopyFiles=Legacy.Filez"), "",
         "    - File list Legacy.Filez of CopyFiles in section DefaultInstall refused: "},
        // The driver store's id is unknown here: its list fails, and the
        // other line does not become the only one, sending it elsewhere.
        {"fw_dirid13", Replaced(kLegacyInf, "DefaultDestDir=12", "DefaultDestDir=12\r\nLegacy.Files=13"), "",
         "    - File list Legacy.Files refused: its [DestinationDirs] line Legacy.Files names a directory id this "
         "system does not resolve\r\n"},
        // A package folder of 248 characters: the INF's full path no longer fits.
        {"fw_long_" + std::string(229, 'x'), kLegacyInf, "",
         "    - INF path refused: the full path of tzre2elegacy.inf does not fit 259 characters\r\n"},
    };
    for (const auto& c : cases) {
        LegacyPackageLeftovers leftovers;
        Scenario s(c.folder);
        UseFrameworkPlugin(s);
        s.AddFile(L"install.xml", InstallXml("filename=\"tzre2elegacy.inf\" type=\"LEGACY\"" + c.attributes));
        s.AddFile(L"tzre2elegacy.inf", c.inf);
        s.AddFile(L"tzre2elegacy.sys", "legacy driver bytes");

        const HostResult r = s.Host({L"/verbose_log", L"--install"});
        ASSERT_TRUE(r.started) << c.folder;
        EXPECT_EQ("install   result 0 (failure)  message \"\"", r.InstallLine()) << c.folder << r.output;
        EXPECT_EQ(1603u, r.exitCode) << c.folder;
        for (const std::string& log : {Scenario::ComponentVerboseLog(), Scenario::ComponentLog()}) {
            const size_t reason = log.find(c.reason);
            EXPECT_NE(std::string::npos, reason) << c.folder << "\n" << log;
            EXPECT_LT(reason, log.find("Installation failed.\r\n")) << c.folder;
        }
        EXPECT_NE(std::string::npos, Scenario::ComponentLog().find("Initiating installation... \r\n    - "))
            << c.folder << Scenario::ComponentLog();
    }
}

// What a legacy installation left: the driver file, every value of the
// service key, the package's registry values.
// Every value of a service's key, as name=type:bytes.
void AddServiceValues(const wchar_t* serviceName, std::vector<std::string>& left)
{
    const std::wstring service = ServiceRegistryKey(serviceName);
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, service.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            BYTE data[1024];
            DWORD nameChars = 256, type = 0, size = sizeof data;
            if (RegEnumValueW(key.get(), i, name, &nameChars, nullptr, &type, data, &size) != ERROR_SUCCESS)
                break;
            left.push_back(Narrow(name) + "=" + std::to_string(type) + ":" +
                           std::string(reinterpret_cast<char*>(data), size));
        }
    }
}

std::vector<std::string> LeftByLegacyPackage(const std::wstring& driverFile = LegacyPackageLeftovers::DriverFile())
{
    std::vector<std::string> left{ReadFileBytes(driverFile)};
    AddServiceValues(kLegacyService, left);
    left.push_back(RegistryString(kLegacyKey, L"Name") + "/" + std::to_string(RegistryDword(kLegacyKey, L"Installed")));
    return left;
}

std::string Utf16WithoutBom(const std::string& text)
{
    std::string bytes;
    for (char c : text)
        bytes += std::string{c, '\0'};
    return bytes;
}

// Sections with names that differ from their first characters on, as the
// names of real INFs do: Wine finds a section by comparing its name with
// each in turn, so a run of names with a long common prefix would measure
// that comparison rather than the plug-in.
std::string SectionsBefore(const std::string& inf, int count)
{
    std::string fillers;
    for (int i = 0; i < count; ++i) {
        char name[16];
        snprintf(name, sizeof name, "%08X", static_cast<unsigned>(i) * 2654435761u);
        fillers += "[" + std::string(name) + ".Filler]\r\nKey=1\r\n";
    }
    return Replaced(inf, "[DefaultInstall]\r\n", fillers + "[DefaultInstall]\r\n");
}

// Source lists as current INFs give them: the platform's form wins.
const char kSourceDisks[] =
    "[SourceDisksNames]\r\n1=\"Disk\",,,\\x86\r\n"
    "[SourceDisksNames.amd64]\r\n1=\"Disk\",,,\\x64\r\n"
    "[SourceDisksFiles]\r\ntzre2elegacy.sys=1\r\ntzre2epnp.sys=1\r\n"
    "[SourceDisksFiles.amd64]\r\ntzre2elegacy.sys=1,bin\r\ntzre2epnp.sys=1,bin\r\n";

// The forms SetupAPI reads and the plug-in once skipped leave what Wine's
// own installer leaves for the same INF.
TEST_F(FrameworkPlugin, SameAsInstallHinfSectionForTheFormsSetupApiReads)
{
    // An install section named without the decoration the INF gives it
    // is the one SetupAPI picks for the platform, with its companions.
    auto decorated = [](const std::string& decoration) {
        return Replaced(Replaced(kLegacyInf, "[DefaultInstall]", "[DefaultInstall" + decoration + "]"),
                        "[DefaultInstall.Services]", "[DefaultInstall" + decoration + ".Services]");
    };
    const std::wstring wow64File = SystemRoot() + L"\\SysWOW64\\tzre2elegacy.sys";
    const struct {
        const char* folder;
        std::string inf;
        const char* section;
        std::wstring driverFile = LegacyPackageLeftovers::DriverFile();
    } cases[] = {
        {"fw_at_file", Replaced(kLegacyInf, "CopyFiles=Legacy.Files", "CopyFiles=@tzre2elegacy.sys"), "DefaultInstall"},
        {"fw_utf16", Utf16WithoutBom(kLegacyInf), "DefaultInstall"},
        {"fw_600_sections", SectionsBefore(kLegacyInf, 600), "DefaultInstall"},
        {"fw_ntamd64", decorated(".NTamd64") + "[DefaultInstall.NT]\r\n", "DefaultInstall.NTamd64"},
        {"fw_nt", decorated(".NT"), "DefaultInstall.NT"},
        // "." as the source folder is the package's own.
        {"fw_dot_folder",
         std::string(kLegacyInf) + "[SourceDisksNames]\r\n1=\"Disk\",,,.\r\n[SourceDisksFiles]\r\ntzre2elegacy.sys=1,.\r\n",
         "DefaultInstall"},
        // The 32-bit system folder, as a 64-bit package's WOW64 half names it.
        {"fw_syswow64", Replaced(kLegacyInf, "DefaultDestDir=12", "DefaultDestDir=12\r\nLegacy.Files=16425"),
         "DefaultInstall", wow64File},
    };
    for (const auto& c : cases) {
        LegacyPackageLeftovers leftovers;
        Leftovers wow64({}, {}, {wow64File});
        Scenario s(c.folder);
        UseFrameworkPlugin(s);
        s.AddFile(L"install.xml",
                  InstallXml("filename=\"tzre2elegacy.inf\" type=\"LEGACY\" section=\"DefaultInstall\""));
        s.AddFile(L"tzre2elegacy.inf", c.inf);
        s.AddFile(L"tzre2elegacy.sys", "legacy driver bytes");

        const HostResult r = s.Host({L"/verbose_log", L"--install"});
        EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine())
            << c.folder << r.output;
        EXPECT_NE(std::string::npos,
                  Scenario::ComponentVerboseLog().find("Type=LEGACY\r\nSection=" + std::string(c.section) + "\r\n"))
            << c.folder << Scenario::ComponentVerboseLog();
        const std::vector<std::string> ours = LeftByLegacyPackage(c.driverFile);
        EXPECT_EQ("legacy driver bytes", ours[0]) << c.folder;
        EXPECT_TRUE(ServiceExists(kLegacyService)) << c.folder;

        leftovers.Remove();
        wow64.Remove();
        const ProcessResult wine =
            RunProcess(L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 " + s.PathOf(L"tzre2elegacy.inf"),
                       s.Folder());
        ASSERT_TRUE(wine.started) << c.folder;
        EXPECT_EQ(LeftByLegacyPackage(c.driverFile), ours) << c.folder;
    }
}


// Every value of a key below HKLM and of the keys below it, as
// subkey\name=type:bytes, in the order the registry gives them.
void AddKeyTree(const std::wstring& path, const std::string& prefix, std::vector<std::string>& left)
{
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return;
    wchar_t name[256];
    BYTE data[1024];
    for (DWORD i = 0, nameChars = 256, type = 0, size = sizeof data;
         RegEnumValueW(key.get(), i, name, &nameChars, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++i, nameChars = 256, size = sizeof data)
        left.push_back(prefix + Narrow(name) + "=" + std::to_string(type) + ":" +
                       std::string(reinterpret_cast<char*>(data), size));
    for (DWORD i = 0, nameChars = 256;
         RegEnumKeyExW(key.get(), i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, nameChars = 256)
        AddKeyTree(path + L"\\" + name, prefix + Narrow(name) + "\\", left);
}

// A file-system minifilter as its vendors write it: a filter's class, which
// is no device setup class, an install section decorated for the platform,
// string keys, and a service whose AddReg writes the Instances keys with
// their Altitude.
const char kMinifilterInf[] =
    "[Version]\r\nSignature   = \"$Windows NT$\"\r\nClass       = \"ActivityMonitor\"\r\n"
    "ClassGuid   = {b86dff51-a31e-4bac-b3cf-e8cfe75c9fc2}\r\nProvider    = %ManufacturerName%\r\n"
    "DriverVer   = 01/01/2024,1.0.0.0\r\nCatalogFile = tzre2eflt.cat\r\nPnpLockdown = 1\r\n"
    "[DestinationDirs]\r\nDefaultDestDir         = 12\r\nMiniFilter.DriverFiles = 12\r\n"
    "[DefaultInstall.NTamd64]\r\nOptionDesc = %ServiceDescription%\r\nCopyFiles  = MiniFilter.DriverFiles\r\n"
    "[DefaultInstall.NTamd64.Services]\r\nAddService = %ServiceName%,,MiniFilter.Service\r\n"
    "[DefaultUninstall.NTamd64]\r\nLegacyUninstall = 1\r\nDelFiles        = MiniFilter.DriverFiles\r\n"
    "[DefaultUninstall.NTamd64.Services]\r\nDelService = %ServiceName%,0x200\r\n"
    "[MiniFilter.Service]\r\nDisplayName    = %ServiceName%\r\nDescription    = %ServiceDescription%\r\n"
    "ServiceBinary  = %12%\\%DriverName%.sys\r\nDependencies   = \"FltMgr\"\r\nServiceType    = 2\r\n"
    "StartType      = 3\r\nErrorControl   = 1\r\nLoadOrderGroup = \"FSFilter Activity Monitor\"\r\n"
    "AddReg         = MiniFilter.AddRegistry\r\n"
    "[MiniFilter.AddRegistry]\r\nHKR,,\"DebugFlags\",0x00010001,0x0\r\nHKR,,\"SupportedFeatures\",0x00010001,0x3\r\n"
    "HKR,\"Instances\",\"DefaultInstance\",0x00000000,%DefaultInstance%\r\n"
    "HKR,\"Instances\\\"%Instance1.Name%,\"Altitude\",0x00000000,%Instance1.Altitude%\r\n"
    "HKR,\"Instances\\\"%Instance1.Name%,\"Flags\",0x00010001,%Instance1.Flags%\r\n"
    "[MiniFilter.DriverFiles]\r\n%DriverName%.sys\r\n"
    "[SourceDisksFiles]\r\ntzre2eflt.sys = 1,,\r\n[SourceDisksNames]\r\n1 = %DiskId1%,,,\"\"\r\n"
    "[Strings]\r\nManufacturerName   = \"Tzr tests\"\r\nServiceDescription = \"Tzr minifilter\"\r\n"
    "ServiceName        = \"TzrE2eFlt\"\r\nDriverName         = \"tzre2eflt\"\r\n"
    "DiskId1            = \"Tzr minifilter disk\"\r\nDefaultInstance    = \"TzrE2eFlt Instance\"\r\n"
    "Instance1.Name     = \"TzrE2eFlt Instance\"\r\nInstance1.Altitude = \"370030\"\r\nInstance1.Flags    = 0x0\r\n";

std::string Utf16WithBom(const std::string& text)
{
    return "\xff\xfe" + Utf16WithoutBom(text);
}

// Legacy packages with a filter's class install as Windows installs them,
// without a device node (the machine's nodes stay as they were), and leave
// what Wine's own InstallHinfSection leaves: the file, the service with
// every value, its Instances keys.
TEST_F(FrameworkPlugin, FilterPackagesLeaveWhatInstallHinfSectionLeaves)
{
    const std::wstring driverFile = SystemRoot() + L"\\system32\\drivers\\tzre2eflt.sys";
    const std::string callout =
        Replaced(Replaced(Replaced(Replaced(kMinifilterInf, "\"ActivityMonitor\"", "WFPCALLOUTS"),
                                   "{b86dff51-a31e-4bac-b3cf-e8cfe75c9fc2}", "{57465043-616C-6C6F-7574-5F636C617373}"),
                          "[DefaultInstall.NTamd64]", "[Install.NTamd64]"),
                 "[DefaultInstall.NTamd64.Services]", "[Install.NTamd64.Services]");
    const char* primitive =
        "    - No device node: DefaultInstall.NTamd64 installs a primitive driver, which Windows installs without one\r\n";
    const struct {
        const char* folder;
        std::string inf;
        const char* section;  // as install.xml names it
        const char* actual;
        const char* note;
    } cases[] = {
        {"fw_minifilter", kMinifilterInf, "DefaultInstall", "DefaultInstall.NTamd64", primitive},
        {"fw_minifilter_utf16", Utf16WithBom(kMinifilterInf), "DefaultInstall", "DefaultInstall.NTamd64", primitive},
        {"fw_callout", callout, "Install", "Install.NTamd64",
         "    - No device node: the class WFPCALLOUTS is no device setup class this system knows\r\n"},
    };
    for (const auto& c : cases) {
        Leftovers leftovers({L"TzrE2eFlt"}, {}, {driverFile});
        Scenario s(c.folder);
        UseFrameworkPlugin(s);
        s.AddFile(L"install.xml", InstallXml("filename=\"tzre2eflt.inf\" type=\"LEGACY\" section=\"" +
                                             std::string(c.section) + "\""));
        s.AddFile(L"tzre2eflt.inf", c.inf);
        s.AddFile(L"tzre2eflt.cat", "catalog");
        s.AddFile(L"tzre2eflt.sys", "minifilter bytes");

        const HostResult r = s.Host({L"/verbose_log", L"--install"});
        EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine())
            << c.folder << r.output << Scenario::ComponentVerboseLog();
        EXPECT_NE(std::string::npos, Scenario::ComponentVerboseLog().find(
                                         "Section=" + std::string(c.actual) + "\r\n" + c.note + "Installation succeeded."))
            << c.folder << Scenario::ComponentVerboseLog();
        std::vector<std::string> ours{ReadFileBytes(driverFile)};
        AddKeyTree(ServiceRegistryKey(L"TzrE2eFlt"), "", ours);
        EXPECT_EQ("minifilter bytes", ours[0]) << c.folder;
        EXPECT_NE(ours.end(), std::find(ours.begin(), ours.end(), "Instances\\TzrE2eFlt Instance\\Altitude=1:" +
                                                                      Utf16WithoutBom("370030") + std::string(2, '\0')))
            << c.folder;
        leftovers.Remove();
        const ProcessResult wine = RunProcess(L"rundll32.exe setupapi.dll,InstallHinfSection " + Widen(c.actual) +
                                                  L" 128 " + s.PathOf(L"tzre2eflt.inf"),
                                              s.Folder());
        ASSERT_TRUE(wine.started) << c.folder;
        std::vector<std::string> wines{ReadFileBytes(driverFile)};
        AddKeyTree(ServiceRegistryKey(L"TzrE2eFlt"), "", wines);
        EXPECT_EQ(wines, ours) << c.folder;
    }
}

TEST_F(FrameworkPlugin, MissingInstallTypeStopsWithTheUnknownTypeMessage)
{
    LegacyPackageLeftovers leftovers;
    Scenario s("fw_no_type");
    UseFrameworkPlugin(s);
    s.AddFile(L"install.xml", InstallXml("filename=\"tzre2elegacy.inf\""));
    s.AddFile(L"tzre2elegacy.inf", kLegacyInf);
    s.AddFile(L"tzre2elegacy.sys", "legacy driver bytes");

    const HostResult r = s.Host({L"--install", L"--install-text", L"earlier text"});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(1603u, r.exitCode) << r.output;
    EXPECT_EQ("install   result 0 (failure)  message \"Unknown INF file type -- installation will not continue.\"",
              r.InstallLine())
        << r.output;
    EXPECT_FALSE(ServiceExists(kLegacyService)) << "nothing is installed";
    EXPECT_FALSE(FileExists(LegacyPackageLeftovers::DriverFile()));
}

// The restart queue as bytes; empty when there is none.
std::string PendingRenames()
{
    std::vector<BYTE> data(65536);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size) != ERROR_SUCCESS)
        return std::string();
    return std::string(reinterpret_cast<char*>(data.data()), size);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found) != FALSE)
        names.push_back(found.cFileName);
    std::sort(names.begin(), names.end());
    return names;
}

// A legacy installation that fails after it copied, replaced and scheduled
// files, wrote registry values and created its service takes back what it
// did, one log line per step: the machine's services, files, registry and
// restart queue are as before.
TEST_F(FrameworkPlugin, FailedLegacyInstallationUndoesWhatItDid)
{
    const std::wstring drivers = SystemRoot() + L"\\system32\\drivers";
    Leftovers leftovers({kLegacyService}, {kLegacyKey},
                        {LegacyPackageLeftovers::DriverFile(), drivers + L"\\tzre2eold.sys", drivers + L"\\tzre2ebusy.sys"});
    WriteFileBytes(drivers + L"\\tzre2eold.sys", "old driver");
    WriteFileBytes(drivers + L"\\tzre2ebusy.sys", "busy driver");
    Scenario s("fw_undo");
    UseFrameworkPlugin(s);
    s.AddFile(L"install.xml", InstallXml("filename=\"tzre2elegacy.inf\" type=\"LEGACY\""));
    s.AddFile(L"tzre2elegacy.inf",
              Replaced(Replaced(kLegacyInf, "tzre2elegacy.sys\r\n[Legacy.Reg]",
                                "tzre2elegacy.sys\r\ntzre2eold.sys\r\ntzre2ebusy.sys\r\n[Legacy.Reg]"),
                       "[Legacy.Service]", "[Broken]\r\nCopyFiles=Broken.Files\r\n[Broken.Files]\r\ntzre2emissing.sys\r\n[Legacy.Service]"));
    s.AddFile(L"tzre2elegacy.sys", "legacy driver bytes");
    s.AddFile(L"tzre2eold.sys", "new old");
    s.AddFile(L"tzre2ebusy.sys", "new busy");
    const std::string pendingBefore = PendingRenames();
    const std::vector<std::wstring> filesBefore = FilesIn(drivers);

    HostResult r;
    {
        UniqueHandle held(CreateFileW((drivers + L"\\tzre2ebusy.sys").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        ASSERT_TRUE(held);
        r = s.Host({L"/verbose_log", L"--install"});
    }
    EXPECT_EQ("install   result 0 (failure)  message \"\"", r.InstallLine()) << r.output;
    const std::string verbose = Scenario::ComponentVerboseLog();
    const std::string d = Narrow(drivers);
    const size_t reason = verbose.find("    - CopyFileW(" + Narrow(s.PathOf(L"tzre2emissing.sys")) + ", ");
    const size_t undone = verbose.find(
        "    - Undone: deleted service TzrE2eLegacy, which this installation created\r\n"
        "    - Undone: removed registry value HKLM\\Software\\TzrE2eLegacy\\Name, which this installation wrote\r\n"
        "    - Undone: removed registry value HKLM\\Software\\TzrE2eLegacy\\Installed, which this installation wrote\r\n"
        "    - Undone: removed registry key HKLM\\Software\\TzrE2eLegacy, which this installation created\r\n"
        "    - Undone: unscheduled the restart operation on " + d + "\\tzr");
    EXPECT_NE(std::string::npos, reason) << verbose;
    EXPECT_LT(reason, undone) << verbose;
    EXPECT_NE(std::string::npos, verbose.find(".tmp\r\n    - Undone: put back the earlier " + d + "\\tzre2eold.sys\r\n"
                                              "    - Undone: removed " + d + "\\tzre2elegacy.sys, which this "
                                              "installation created\r\nInstallation failed.\r\n"))
        << verbose;

    EXPECT_FALSE(ServiceExists(kLegacyService));
    EXPECT_FALSE(FileExists(LegacyPackageLeftovers::DriverFile()));
    EXPECT_EQ("old driver", ReadFileBytes(drivers + L"\\tzre2eold.sys"));
    EXPECT_EQ("busy driver", ReadFileBytes(drivers + L"\\tzre2ebusy.sys"));
    EXPECT_EQ(filesBefore, FilesIn(drivers)) << "no copy or kept file left beside the drivers";
    EXPECT_EQ(pendingBefore, PendingRenames()) << "nothing left to happen at the restart";
    EXPECT_FALSE(RegistryKeyExists(kLegacyKey)) << "nor its registry values";
}

// A Plug and Play driver for the scenario's test device: a catalog, one
// driver file and a service.
const char kPnpInf[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=System\r\n"
    "ClassGuid={4d36e97d-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Tzr%\r\n"
    "CatalogFile.ntamd64=tzre2epnp.cat\r\n"
    "DriverVer=01/01/2020,1.0.0.0\r\n"
    "[Manufacturer]\r\n"
    "%Tzr%=Models,NTamd64\r\n"
    "[Models]\r\n"
    "%Device%=Drv_Install,PCI\\VEN_1234&DEV_5678&SUBSYS_00021234\r\n"
    "[Models.NTamd64]\r\n"
    "%Device%=Drv_Install,PCI\\VEN_1234&DEV_5678&SUBSYS_00021234\r\n"
    "[DestinationDirs]\r\n"
    "DefaultDestDir=12\r\n"
    "[Drv_Install]\r\n"
    "CopyFiles=Drv.Files\r\n"
    "[Drv_Install.Services]\r\n"
    "AddService=TzrE2ePnp,0x00000002,Drv.Service\r\n"
    "[Drv.Files]\r\n"
    "tzre2epnp.sys\r\n"
    "[Drv.Service]\r\n"
    "DisplayName=\"Tzr Plug and Play package\"\r\n"
    "ServiceType=1\r\n"
    "StartType=3\r\n"
    "ErrorControl=1\r\n"
    "ServiceBinary=%12%\\tzre2epnp.sys\r\n"
    "[Strings]\r\n"
    "Tzr=\"Tzr tests\"\r\n"
    "Device=\"Tzr test device\"\r\n";

const char kPnpPackageDefinition[] =
    "<?xml version=\"1.0\"?>\r\n<tzr_package><prerequisites><supported_devices><supported_devices_and>"
    "<supported_device type=\"pci\">"
    "<supported_device_data name=\"ven\">1234</supported_device_data>"
    "<supported_device_data name=\"dev\">5678</supported_device_data>"
    "<supported_device_data name=\"subven\">1234</supported_device_data>"
    "<supported_device_data name=\"subdev\">0002</supported_device_data>"
    "</supported_device></supported_devices_and></supported_devices></prerequisites></tzr_package>\r\n";

const wchar_t kPnpService[] = L"TzrE2ePnp";
const wchar_t kPnpId[] = L"PCI\\VEN_1234&DEV_5678&SUBSYS_00021234";

std::wstring StagedFile(const std::wstring& name)
{
    return SystemRoot().substr(0, 2) + L"\\TZRSYSTEM\\pnpdrvs\\" + name;
}

// The driver key of a device (Control\Class\{guid}\NNNN), empty without one.
std::wstring DriverKeyOf(const std::wstring& instanceId)
{
    UniqueDevInfoSet set(driverapi::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!set)
        return std::wstring();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; driverapi::SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
        wchar_t id[MAX_DEVICE_ID_LEN] = L"";
        if (!SetupDiGetDeviceInstanceIdW(set.get(), &device, id, MAX_DEVICE_ID_LEN, nullptr) ||
            _wcsicmp(id, instanceId.c_str()) != 0)
            continue;
        wchar_t key[256] = L"";
        if (!driverapi::SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_DRIVER, nullptr,
                                                          reinterpret_cast<BYTE*>(key), sizeof key - 2, nullptr))
            return std::wstring();
        return L"System\\CurrentControlSet\\Control\\Class\\" + std::wstring(key);
    }
    return std::wstring();
}

// Removes what the Plug and Play package installs (the device goes with
// its holder), before and after the test.
struct PnpPackageLeftovers {
    PnpPackageLeftovers() { Remove(); }
    ~PnpPackageLeftovers() { Remove(); }
    static std::wstring DriverFile() { return SystemRoot() + L"\\system32\\drivers\\tzre2epnp.sys"; }
    void Remove() const
    {
        RemoveService(kPnpService);
        DeleteFileW(DriverFile().c_str());
        DeleteFileW((SystemRoot() + L"\\inf\\tzre2epnp.inf").c_str());
        DeleteFileW((SystemRoot() + L"\\inf\\tzre2epnp.pnf").c_str());
        for (const wchar_t* name : {L"tzre2epnp.inf", L"tzre2epnp.in_", L"tzre2epnp.cat", L"tzre2epnp.ca_",
                                    L"tzre2epnp.sys", L"tzre2epnp.sy_"})
            DeleteFileW(StagedFile(name).c_str());
        for (const wchar_t* folder : {L"x64", L"amd64", L"i386"})
            RemoveTree(StagedFile(folder));
        if (!driverKey.empty())
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, driverKey.c_str());
    }
    std::wstring driverKey;
};

// The Plug and Play package in the scenario's folder: the framework's
// plug-in, the package definition for the test device, install.xml, the
// INF given and every file it copies.
void AddPnpPackage(const Scenario& s, const std::string& inf)
{
    s.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
    s.AddFile(L"kxframework.xml", kPnpPackageDefinition);
    s.AddFile(L"install.xml", InstallXml("filename=\"tzre2epnp.inf\" type=\"PNP\""));
    s.AddFile(L"tzre2epnp.inf", inf);
    s.AddFile(L"tzre2epnp.cat", "catalog");
    s.AddFile(L"tzre2epnp.sys", "pnp driver bytes");
}

TEST_F(FrameworkPlugin, PlugAndPlayPackageStagesAndBindsTheTestDevice)
{
    PnpPackageLeftovers leftovers;
    TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
    ASSERT_TRUE(device.Created());
    Scenario s("fw_pnp");
    AddPnpPackage(s, kPnpInf);

    // Loading attaches under the loader lock: no SetupAPI, no newdev. The
    // install-state query is the first to need the device table.
    const std::wstring probeExe = BuildFile(L"tests\\e2e\\load_probe.exe");
    const ProcessResult probe = RunProcess(QuoteArg(probeExe) + L" " + QuoteArg(s.Folder()) + L" 5", s.Folder());
    EXPECT_EQ("load: setupapi 0 newdev 0\r\nproperty 5: setupapi 1 newdev 0\r\n", probe.output);
    Scenario::ClearLogs();

    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    leftovers.driverKey = DriverKeyOf(device.InstanceId());
    ASSERT_TRUE(r.started);
    EXPECT_EQ(static_cast<unsigned>(kStateNotInstalled), r.State()) << r.output;
    const std::vector<std::string> basecomp = VerboseEntries("basecomp");
    const auto built = std::find(basecomp.begin(), basecomp.end(), "Building PnP device list... Done.");
    EXPECT_EQ(1u, Count(basecomp, "Building PnP device list... Done."));
    EXPECT_LT(std::find(basecomp.begin(), basecomp.end(), "GetProperty(TZRPROP_INSTALLSTATE)"), built);
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine()) << r.output;
    EXPECT_NE(std::string::npos, Scenario::ComponentVerboseLog().find("Initiating installation... Type=PNP\r\n"));
    // Staged under the system drive, each file as the package has it.
    EXPECT_EQ(kPnpInf, ReadFileBytes(StagedFile(L"tzre2epnp.inf")));
    EXPECT_EQ("catalog", ReadFileBytes(StagedFile(L"tzre2epnp.cat")));
    EXPECT_EQ("pnp driver bytes", ReadFileBytes(StagedFile(L"tzre2epnp.sys")));
    // Windows installed the staged package on the device.
    EXPECT_TRUE(ServiceExists(kPnpService));
    EXPECT_EQ("pnp driver bytes", ReadFileBytes(PnpPackageLeftovers::DriverFile()));
    ASSERT_FALSE(leftovers.driverKey.empty()) << "the device has a driver key";
    const std::string infPath = RegistryString(leftovers.driverKey.c_str(), L"InfPath");
    // The driver names its INF in the system's INF folder, where Windows
    // copied it from the staging folder (Wine keeps the file name; Windows
    // would give it an oemN.inf name).
    EXPECT_EQ("tzre2epnp.inf", infPath);
    EXPECT_EQ(kPnpInf, ReadFileBytes(SystemRoot() + L"\\inf\\" + Widen(infPath)));
    EXPECT_EQ("Drv_Install", RegistryString(leftovers.driverKey.c_str(), L"InfSection"));

    // Installed means the driver's service runs every present package
    // device. Windows' Plug and Play manager lists them under the service's
    // Enum key; Wine's never writes that key, so a second run on Wine still
    // answers "not installed" ...
    const HostResult second = s.Host({L"--property", L"5"});
    EXPECT_EQ(static_cast<unsigned>(kStateNotInstalled), second.State()) << second.output;
    // ... until the test writes what Windows would have written. The package
    // names no target file, so there is no installed version to compare:
    // the package counts as the newer one.
    const TestRegistryKey enumKey(ServiceRegistryKey(kPnpService) + L"\\Enum");
    ASSERT_TRUE(enumKey.SetDword(L"Count", 1));
    ASSERT_TRUE(enumKey.SetString(L"0", device.InstanceId()));
    const HostResult third = s.Host({L"--property", L"5"});
    EXPECT_EQ(static_cast<unsigned>(kStateOlderInstalled), third.State()) << third.output;
}

// What one reading of an INF costs SetupAPI alone: open it, list its
// sections, find each one once; in ms.
double SetupApiReadingMs(const std::wstring& path)
{
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const HINF inf = SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, inf);
    wchar_t name[512];
    for (UINT i = 0; inf != INVALID_HANDLE_VALUE && SetupEnumInfSectionsW(inf, i, name, 512, nullptr); ++i) {
        INFCONTEXT context;
        EXPECT_TRUE(SetupFindFirstLineW(inf, name, nullptr, &context));
    }
    SetupCloseInfFile(inf);
    QueryPerformanceCounter(&stop);
    return 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The install-state query reads the INF twice (installed? marked for
// removal?), looking each section up once each time. Wine finds a section by
// name in time linear in their number (Windows hashes them), so a reading
// grows with the square of the sections and a second lookup per section
// costs a whole reading more. On 3,000 sections the query's own part, beyond
// the query without them and SetupAPI's two readings, stays under half a
// reading: the median of five rounds, each timing all three under one load.
TEST_F(FrameworkPlugin, InstallStateCostsLinearTimeInTheSections)
{
    auto package = [](int count) {
        Scenario s("fw_sections_" + std::to_string(count));
        UseFrameworkPlugin(s);
        s.AddFile(L"install.xml", InstallXml("filename=\"tzre2elegacy.inf\" type=\"LEGACY\""));
        s.AddFile(L"tzre2elegacy.inf", SectionsBefore(kLegacyInf, count));
        return s;
    };
    const Scenario bare = package(0), large = package(3000);
    auto queryMs = [](const Scenario& s) {
        const ULONGLONG start = GetTickCount64();
        const HostResult r = s.Host({L"--property", L"5"});
        EXPECT_EQ(static_cast<unsigned>(kStateNotInstalled), r.State()) << r.output;
        return static_cast<double>(GetTickCount64() - start);
    };
    std::vector<double> readings;  // the own part in readings by SetupAPI alone
    std::string rounds;
    for (int round = 0; round < 5; ++round) {
        const double reading = SetupApiReadingMs(large.PathOf(L"tzre2elegacy.inf"));
        const double query = queryMs(large), start = queryMs(bare);
        readings.push_back((query - start - 2 * reading) / reading);
        rounds += " " + std::to_string(static_cast<int>(query)) + "-" + std::to_string(static_cast<int>(start)) +
                  "-2*" + std::to_string(static_cast<int>(reading));
    }
    std::nth_element(readings.begin(), readings.begin() + 2, readings.end());
    EXPECT_LT(readings[2], 0.5) << "ms per round, query-bare-2*reading:" << rounds;
}

// A package that lacks a file its INF copies: newdev would ask for it for
// ever, so it is not called; the answer is 4's message and the log names
// the file.
TEST_F(FrameworkPlugin, PlugAndPlayPackageMissingACopiedFileFailsWithoutNewdev)
{
    PnpPackageLeftovers leftovers;
    TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
    ASSERT_TRUE(device.Created());
    Scenario s("fw_pnp_missing");
    AddPnpPackage(s, kPnpInf);
    DeleteFileW(s.PathOf(L"tzre2epnp.sys").c_str());

    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    leftovers.driverKey = DriverKeyOf(device.InstanceId());
    ASSERT_TRUE(r.started);
    EXPECT_EQ("install   result 0 (failure)  message \"Installation failed on at least one device.  One of the devices "
              "may have been deleted through Device Manager and a reboot may be necessary to complete the driver "
              "installation for this device.\"",
              r.InstallLine())
        << r.output;
    const std::string verbose = Scenario::ComponentVerboseLog();
    std::string staging = Narrow(StagedFile(L""));
    staging.pop_back();
    EXPECT_NE(std::string::npos,
              verbose.find("Type=PNP\r\n    - CopyFileW(tzre2epnp.sys to " + staging + ") failed: error 0x00000002 ("))
        << verbose;
    EXPECT_FALSE(ServiceExists(kPnpService)) << "newdev was not asked";
    EXPECT_TRUE(leftovers.driverKey.empty());
}

// What a Plug and Play installation left for the device: the driver file,
// the service with every value, the device's driver key and service.
std::vector<std::string> LeftByPnpPackage(const TestDevice& device, std::wstring& driverKey)
{
    driverKey = DriverKeyOf(device.InstanceId());
    std::vector<std::string> left{ReadFileBytes(PnpPackageLeftovers::DriverFile())};
    AddServiceValues(kPnpService, left);
    for (const wchar_t* value : {L"InfPath", L"InfSection", L"InfSectionExt", L"MatchingDeviceId"})
        left.push_back(Narrow(value) + "=" + RegistryString(driverKey, value));
    left.push_back("service=" + RegistryString(L"System\\CurrentControlSet\\Enum\\" + device.InstanceId(), L"Service"));
    return left;
}

// newdev's answer is no evidence: Wine's SetupAPI skips models decorated
// with a target OS version and newdev then answers success having bound
// nothing. The device is read back and the failure names it. The same INF
// with plain decorations installs as Wine's own newdev installs it.
TEST_F(FrameworkPlugin, PlugAndPlaySuccessOnlyWithTheDeviceBound)
{
    const std::string decorated = Replaced(Replaced(Replaced(kPnpInf, "%Tzr%=Models,NTamd64\r\n",
                                                             "%Tzr%=Models,NTamd64.10.0...16299\r\n"),
                                                    "[Models]\r\n%Device%=Drv_Install,PCI\\VEN_1234&DEV_5678&SUBSYS_00021234\r\n", ""),
                                           "[Models.NTamd64]", "[Models.NTamd64.10.0...16299]");
    std::vector<std::string> ours;
    for (const std::string& inf : {decorated, std::string(kPnpInf)}) {
        PnpPackageLeftovers leftovers;
        TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
        ASSERT_TRUE(device.Created());
        Scenario s("fw_pnp_bound");
        AddPnpPackage(s, inf);
        const HostResult r = s.Host({L"/verbose_log", L"--install"});
        ours = LeftByPnpPackage(device, leftovers.driverKey);
        if (inf == decorated) {
            EXPECT_EQ(1603u, r.exitCode) << r.output;
            EXPECT_NE(std::string::npos, r.InstallLine().find("result 0 (failure)  message \"Installation failed on at least one device."))
                << r.output;
            const std::string verbose = Scenario::ComponentVerboseLog();
            EXPECT_FALSE(ServiceExists(kPnpService));
            // Older than the build the models are for (Wine's default
            // Windows 7 prefix among them), the package is refused for that.
            if (!DecorationApplies(L"NTamd64.10.0...16299", SystemVersion())) {
                EXPECT_NE(std::string::npos,
                          verbose.find("Type=PNP\r\n    - Staging refused: no models section for this system (the "
                                       "package's are for Windows 10.0 build 16299 and later)\r\n"))
                    << verbose;
                continue;
            }
            // What it runs instead is whatever Wine kept for the node (an
            // earlier binding of a node by that name, or none).
            EXPECT_NE(std::string::npos,
                      verbose.find("Type=PNP\r\n    - Device ROOT\\TZRE2EPNP\\"))
                << verbose << Narrow(device.InstanceId());
            EXPECT_NE(std::string::npos,
                      verbose.find(" (PCI\\VEN_1234&DEV_5678&SUBSYS_00021234) does not run this package's driver "
                                   "after the installation: it runs "))
                << verbose;
            continue;
        }
        EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine()) << r.output;
        EXPECT_EQ("pnp driver bytes", ours[0]);
    }

    // Wine's own newdev on the same INF and a device like the first.
    PnpPackageLeftovers leftovers;
    TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
    ASSERT_TRUE(device.Created());
    Scenario s("fw_pnp_bound_newdev");
    s.AddFile(L"tzre2epnp.inf", kPnpInf);
    s.AddFile(L"tzre2epnp.cat", "catalog");
    s.AddFile(L"tzre2epnp.sys", "pnp driver bytes");
    BOOL restart = FALSE;
    ASSERT_TRUE(driverapi::UpdateDriverForPlugAndPlayDevicesW(nullptr, kPnpId, s.PathOf(L"tzre2epnp.inf").c_str(),
                                                              INSTALLFLAG_FORCE, &restart));
    EXPECT_EQ(LeftByPnpPackage(device, leftovers.driverKey), ours);
}

// x64 files in amd64\, x86 files in i386\, as a widely installed USB-serial
// package has them: Wine's newdev, which takes the folder from the plain
// [SourceDisksFiles], asked for the file for ever. The answer comes (its own
// CTest entry bounds it), and the device runs the x64 file, as on Windows
// (Wine's own newdev on the package installs the i386\ one).
TEST_F(FrameworkPlugin, PlugAndPlayPackageWithPlatformSourceFoldersAnswers)
{
    PnpPackageLeftovers leftovers;
    TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
    ASSERT_TRUE(device.Created());
    Scenario s("fw_pnp_platforms");
    AddPnpPackage(s, std::string(kPnpInf) + "[SourceDisksNames]\r\n1 = %Disk%,,,\r\n[SourceDisksFiles]\r\n"
                     "tzre2epnp.sys = 1,i386\r\n[SourceDisksFiles.amd64]\r\ntzre2epnp.sys = 1,amd64\r\n"
                     "[SourceDisksFiles.x86]\r\ntzre2epnp.sys = 1,i386\r\n");
    DeleteFileW(s.PathOf(L"tzre2epnp.sys").c_str());
    MakeDirs(s.PathOf(L"amd64"));
    MakeDirs(s.PathOf(L"i386"));
    s.AddFile(L"amd64\\tzre2epnp.sys", "x64 driver bytes");
    s.AddFile(L"i386\\tzre2epnp.sys", "x86 driver bytes");

    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    leftovers.driverKey = DriverKeyOf(device.InstanceId());
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine())
        << r.output << Scenario::ComponentVerboseLog();
    EXPECT_EQ("x64 driver bytes", ReadFileBytes(PnpPackageLeftovers::DriverFile()));
}

// Plug and Play packages as their vendors ship them, each with the device
// bound as Wine's own newdev binds it on the same package, or refused
// before newdev with the cause.
TEST_F(FrameworkPlugin, PlugAndPlayPackagesAsTheirVendorsShipThem)
{
    // Files for another platform that the package does not carry.
    const std::string otherPlatform =
        std::string(kPnpInf) + "[Drv_Install.NTarm64]\r\nCopyFiles=Drv.Files,Arm.Files\r\n"
        "[Drv_Install.NTarm64.CoInstallers]\r\nCopyFiles=ArmCo.Files\r\n[Arm.Files]\r\ntzre2earm.sys\r\n"
        "[ArmCo.Files]\r\ntzre2earmco.dll\r\n[SourceDisksNames]\r\n1 = %Disk%,,,\r\n[SourceDisksFiles]\r\n"
        "tzre2epnp.sys = 1\r\ntzre2earm.sys = 1,arm64\r\ntzre2earmco.dll = 1,arm64\r\n";
    const std::string newer = Replaced(Replaced(Replaced(kPnpInf, "%Tzr%=Models,NTamd64\r\n", "%Tzr%=Models,NTamd64.10.0...22621\r\n"),
                                                "[Models]\r\n%Device%=Drv_Install,PCI\\VEN_1234&DEV_5678&SUBSYS_00021234\r\n", ""),
                                       "[Models.NTamd64]", "[Models.NTamd64.10.0...22621]");  // newer than this system
    const struct {
        const char* folder;
        std::string inf;
        const char* reason;  // empty: installs as Wine's newdev installs it
    } cases[] = {
        {"fw_pnp_other_platform", otherPlatform, ""},
        {"fw_pnp_utf16", Utf16WithBom(otherPlatform), ""},
        {"fw_pnp_newer_build", newer,
         "    - Staging refused: no models section for this system (the package's are for Windows 10.0 build 22621 "
         "and later)\r\n"},
    };
    ASSERT_LT(SystemVersion().build, 22621u) << "this system is that build: the case says nothing here";
    for (const auto& c : cases) {
        Scenario s(c.folder);
        std::vector<std::string> ours;
        {
            PnpPackageLeftovers leftovers;
            TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
            ASSERT_TRUE(device.Created());
            AddPnpPackage(s, c.inf);
            const HostResult r = s.Host({L"/verbose_log", L"--install"});
            ours = LeftByPnpPackage(device, leftovers.driverKey);
            if (c.reason[0]) {
                EXPECT_EQ(1603u, r.exitCode) << c.folder << r.output;
                const std::string verbose = Scenario::ComponentVerboseLog();
                EXPECT_NE(std::string::npos, verbose.find(c.reason)) << c.folder << verbose;
                continue;
            }
            EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine())
                << c.folder << r.output << Scenario::ComponentVerboseLog();
            EXPECT_EQ("pnp driver bytes", ours[0]) << c.folder;
        }
        PnpPackageLeftovers again;
        TestDevice fresh(L"TZRE2EPNP", std::vector<std::wstring>{kPnpId});
        ASSERT_TRUE(fresh.Created());
        BOOL restart = FALSE;
        ASSERT_TRUE(driverapi::UpdateDriverForPlugAndPlayDevicesW(nullptr, kPnpId, s.PathOf(L"tzre2epnp.inf").c_str(),
                                                                  INSTALLFLAG_FORCE, &restart));
        EXPECT_EQ(LeftByPnpPackage(fresh, again.driverKey), ours) << c.folder;
    }
}

// The platform's forms of the source lists place a file in a folder of the
// package, the disk's path, then the file's own: the legacy copy reads it
// there. (Wine's own InstallHinfSection looks for it for ever, so it gives
// no reference here.)
TEST_F(FrameworkPlugin, LegacyPackageWithASourceFolder)
{
    LegacyPackageLeftovers leftovers;
    Scenario s("fw_source_folder");
    UseFrameworkPlugin(s);
    s.AddFile(L"install.xml", InstallXml("filename=\"tzre2elegacy.inf\" type=\"LEGACY\" section=\"DefaultInstall\""));
    s.AddFile(L"tzre2elegacy.inf", std::string(kLegacyInf) + kSourceDisks);
    MakeDirs(s.PathOf(L"x64\\bin"));
    s.AddFile(L"x64\\bin\\tzre2elegacy.sys", "legacy driver bytes");
    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine())
        << r.output << Scenario::ComponentVerboseLog();
    EXPECT_EQ("legacy driver bytes", ReadFileBytes(LegacyPackageLeftovers::DriverFile()));
}

// A device that reports only ids with a revision, as a hypervisor's bus
// children do: a package naming that exact id finds it and installs on it.
TEST_F(FrameworkPlugin, PlugAndPlayDeviceNamedByItsRevision)
{
    const std::wstring revisionId = std::wstring(kPnpId) + L"&REV_01";
    PnpPackageLeftovers leftovers;
    TestDevice device(L"TZRE2EPNP", std::vector<std::wstring>{revisionId});
    ASSERT_TRUE(device.Created());
    std::string inf = kPnpInf;
    for (size_t at = 0; (at = inf.find("SUBSYS_00021234\r\n", at)) != std::string::npos; at += 20)
        inf.replace(at, 17, "SUBSYS_00021234&REV_01\r\n");
    Scenario s("fw_pnp_rev");
    AddPnpPackage(s, inf);
    s.AddFile(L"kxframework.xml",
              "<?xml version=\"1.0\"?>\r\n<tzr_package><prerequisites><supported_devices><supported_devices_and>"
              "<supported_device type=\"pnp\"><supported_device_data name=\"id\">"
              "PCI\\VEN_1234&amp;DEV_5678&amp;SUBSYS_00021234&amp;REV_01</supported_device_data></supported_device>"
              "</supported_devices_and></supported_devices></prerequisites></tzr_package>\r\n");

    const HostResult r = s.Host({L"/verbose_log", L"--install"});
    leftovers.driverKey = DriverKeyOf(device.InstanceId());
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine())
        << r.output << Scenario::ComponentVerboseLog();
    EXPECT_TRUE(ServiceExists(kPnpService));
}

}  // namespace
