// The framework's defaults as a user meets them: the framework's own plug-in
// as setup.dll in a package folder, tzrhost.exe installing a driver package
// from its install.xml and INF on the prefix, and everything the package
// left removed again afterwards.
//
// The install state is not asserted here: for these packages the base
// checks still answer 8 (undetermined), before and after.
#include "driver_fixtures.h"
#include "scenario.h"
#include "win_handle.h"

#include <gtest/gtest.h>

#include <string>

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

bool ServiceExists(const wchar_t* name)
{
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(manager ? OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG) : nullptr);
    return service.valid();
}

void DeleteServiceNamed(const wchar_t* name)
{
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueScHandle service(manager ? OpenServiceW(manager.get(), name, DELETE) : nullptr);
    if (service)
        DeleteService(service.get());
}

// Removes what the legacy package installs, before and after the test, so
// a run that failed halfway is repaired by the next.
struct LegacyPackageLeftovers {
    LegacyPackageLeftovers() { Remove(); }
    ~LegacyPackageLeftovers() { Remove(); }
    static std::wstring DriverFile() { return SystemRoot() + L"\\system32\\drivers\\tzre2elegacy.sys"; }
    static void Remove()
    {
        DeleteServiceNamed(kLegacyService);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacyKey);
        DeleteFileW(DriverFile().c_str());
    }
};

std::string RegistryString(const wchar_t* key, const wchar_t* name)
{
    wchar_t value[64] = L"";
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::string();
    return Narrow(value);
}

DWORD RegistryDword(const wchar_t* key, const wchar_t* name)
{
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
    return value;
}

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
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("install   result 1 (success, no restart needed)  message \"\"", r.InstallLine()) << r.output;
    EXPECT_EQ("legacy driver bytes", ReadFileBytes(LegacyPackageLeftovers::DriverFile()));
    EXPECT_EQ(1u, RegistryDword(kLegacyKey, L"Installed"));
    EXPECT_EQ("legacy package", RegistryString(kLegacyKey, L"Name"));
    EXPECT_TRUE(ServiceExists(kLegacyService));
    const std::string verbose = Scenario::ComponentVerboseLog();
    EXPECT_NE(std::string::npos, verbose.find("Initiating installation... Type=LEGACY\r\n")) << verbose;
    EXPECT_NE(std::string::npos, Scenario::ComponentLog().find("Initiating installation... \r\n"))
        << Scenario::ComponentLog();
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
    EXPECT_EQ(1u, r.exitCode) << r.output;
    EXPECT_EQ("install   result 0 (failure)  message \"Unknown INF file type -- installation will not continue.\"",
              r.InstallLine())
        << r.output;
    EXPECT_FALSE(ServiceExists(kLegacyService)) << "nothing is installed";
    EXPECT_FALSE(FileExists(LegacyPackageLeftovers::DriverFile()));
}

}  // namespace
