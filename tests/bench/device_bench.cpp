// Times the component's device table (BuildDeviceList) against a bare loop
// of the same SetupAPI calls over the same devices, first with the
// prefix's own devices, then with extra test devices (200 by default). Not
// a test: it prints figures and fails only when the devices cannot be made.
//
//   device_bench [extra devices] [--reps N]
#include "base_component.h"
#include "driver_fixtures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What BuildDeviceList asks of SetupAPI, with nothing kept.
size_t BareLoop()
{
    size_t ids = 0;
    UniqueDevInfoSet set(driverapi::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; set && driverapi::SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
        SP_DEVINSTALL_PARAMS_W install{};
        install.cbSize = sizeof install;
        SP_DRVINFO_DATA_V2_W driver{};
        driver.cbSize = sizeof driver;
        if (driverapi::SetupDiGetDeviceInstallParamsW(set.get(), &device, &install)) {
            install.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER;
            if (driverapi::SetupDiSetDeviceInstallParamsW(set.get(), &device, &install) &&
                driverapi::SetupDiBuildDriverInfoList(set.get(), &device, SPDIT_COMPATDRIVER) &&
                driverapi::SetupDiEnumDriverInfoW(set.get(), &device, SPDIT_COMPATDRIVER, 0,
                                                  reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver))) {
                SP_DRVINSTALL_PARAMS params{};
                params.cbSize = sizeof params;
                driverapi::SetupDiGetDriverInstallParamsW(set.get(), &device,
                                                          reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver), &params);
                alignas(SP_DRVINFO_DETAIL_DATA_W) unsigned char detail[kDriverDetailBytes] = {};
                reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detail)->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
                DWORD required = 0;
                driverapi::SetupDiGetDriverInfoDetailW(set.get(), &device, reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver),
                                                       reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detail),
                                                       sizeof detail, &required);
            }
        }
        BYTE buffer[2048] = {};
        DWORD type = 0, required = 0;
        driverapi::SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, &type, nullptr, 0,
                                                     &required);
        if (required && required <= sizeof buffer &&
            driverapi::SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, &type, buffer,
                                                         sizeof buffer, &required))
            ++ids;
        driverapi::SetupDiDestroyDriverInfoList(set.get(), &device, SPDIT_COMPATDRIVER);
    }
    return ids;
}

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

size_t DeviceCount()
{
    UniqueDevInfoSet set(driverapi::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD i = 0;
    while (set && driverapi::SetupDiEnumDeviceInfo(set.get(), i, &device))
        ++i;
    return i;
}

void Measure(const char* label, int reps)
{
    CBaseComponent component;
    // One of each first: libraries loaded, caches warm.
    component.BuildDeviceList(0);
    BareLoop();
    // Pairs taken back to back, so a busy moment on the shared machine
    // hits both sides alike; the medians are compared.
    std::vector<double> table, bare;
    for (int i = 0; i < reps; ++i) {
        auto start = Clock::now();
        component.BuildDeviceList(0);
        table.push_back(Milliseconds(Clock::now() - start));
        start = Clock::now();
        BareLoop();
        bare.push_back(Milliseconds(Clock::now() - start));
    }
    const double t = Median(table), b = Median(bare);
    std::printf("%-24s devices %5zu  entries %5zu  BuildDeviceList %9.2f ms  bare loop %9.2f ms  ratio %.3f\n", label,
                DeviceCount(), component.m_vDevices.size(), t, b, t / b);
}

}  // namespace

int main(int argc, char** argv)
{
    int extra = 200;
    int reps = 15;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else
            extra = std::max(0, std::atoi(argv[i]));
    }
    Measure("prefix's own devices", reps);
    std::vector<std::unique_ptr<tzrtest::TestDevice>> devices;
    for (int i = 0; i < extra; ++i) {
        wchar_t id[64];
        std::swprintf(id, 64, L"PCI\\VEN_1B4B&DEV_%04X&SUBSYS_00011B4B", i);
        devices.push_back(std::make_unique<tzrtest::TestDevice>(
            L"TZRBENCH", std::vector<std::wstring>{std::wstring(id) + L"&REV_01", id, L"PCI\\CC_010802"}));
        if (!devices.back()->Created()) {
            std::fprintf(stderr, "device_bench: test device %d could not be made\n", i);
            return 1;
        }
    }
    char label[64];
    std::snprintf(label, sizeof label, "with %d test devices", extra);
    Measure(label, reps);
    return 0;
}
