// The framework's view of the machine as a loaded plug-in shows it: the
// service database for a driver file and the present-device table, on
// services and devices the test makes and removes.
#include "driver_fixtures.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace tzrtest;

namespace {


class Machine : public MachineTest {};

TEST_F(Machine, DriverPathFromTheServiceDatabase)
{
    const std::wstring driver = SystemRoot() + L"\\System32\\drivers\\tzre2edrv.sys";
    TestFile file(driver, "driver");
    TestService service(L"TzrE2eDrv", L"\\SystemRoot\\System32\\drivers\\tzre2edrv.sys");
    ASSERT_TRUE(service.Created());
    // The framework's own checks: the flash plug-in answers them from its
    // controllers.
    Scenario s("drv_service_database");
    s.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
    s.AddFile(L"kxdrv.xml", "<?xml version=\"1.0\"?>\r\n<tzr_package><sw_keys><sw_keys_and>"
                            "<sw_key name=\"tzre2edrv.sys\"><sw_key_expectedpath>C:\\tzr-e2e-none"
                            "</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys></tzr_package>\r\n");
    // The install state is the first question that needs the installed file.
    const HostResult r = s.Host({L"/verbose_log", L"--property", L"5"});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    const std::vector<std::string> pkgdef = VerboseEntries("pkgdef");
    EXPECT_EQ(1u, Count(pkgdef, "    - Driver path from component xml C:\\tzr-e2e-none\\tzre2edrv.sys"));
    EXPECT_EQ(1u, Count(pkgdef, "    - Driver path from service control manager database " + Narrow(driver)))
        << Scenario::ComponentVerboseLog();
}

TEST_F(Machine, APackageListingAPresentDeviceBuildsTheTableOnFirstUse)
{
    // The device has a compatible driver, but the load takes no driver
    // snapshot (only a record handed out for an installation does), so the
    // install-parameter call that Wine only stubs is not even reached.
    TestDriverInf inf(L"tzre2edev", L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234");
    TestDevice device(L"TZRE2EDEV", std::vector<std::wstring>{L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234&REV_02",
                                                              L"PCI\\VEN_1234&DEV_0001&SUBSYS_00011234"});
    ASSERT_TRUE(device.Created());
    Scenario s("drv_device_table");
    s.CopyIn(BuildFile(L"src\\plugin\\framework_setup.dll"), L"setup.dll");
    s.AddFile(L"kxdev.xml",
              "<?xml version=\"1.0\"?>\r\n<tzr_package><prerequisites><supported_devices><supported_devices_and>"
              "<supported_device type=\"pci\">"
              "<supported_device_data name=\"ven\">1234</supported_device_data>"
              "<supported_device_data name=\"dev\">0001</supported_device_data>"
              "<supported_device_data name=\"subven\">1234</supported_device_data>"
              "<supported_device_data name=\"subdev\">0001</supported_device_data>"
              "</supported_device></supported_devices_and></supported_devices></prerequisites></tzr_package>\r\n");
    // A flag needs no device; the install state builds the table, once.
    const HostResult r = s.Host({L"/verbose_log", L"--property", L"6"});
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("[6] silent install   result 1  value 1", r.PropertyLine(6)) << r.output;
    EXPECT_EQ(0u, Count(VerboseEntries("basecomp"), "Building PnP device list... Done."));
    s.Host({L"/verbose_log", L"--property", L"5", L"--property", L"5"});
    const std::vector<std::string> basecomp = VerboseEntries("basecomp");
    EXPECT_EQ(1u, Count(basecomp, "Building PnP device list... Done.")) << Scenario::ComponentVerboseLog();
    EXPECT_EQ(0u, Count(basecomp, "    - SetupDiGetDriverInstallParamsW is only a stub on this system (Wine); "
                                  "treated as failed."))
        << Scenario::ComponentVerboseLog();
}

}  // namespace
