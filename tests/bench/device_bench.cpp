// Times what the component's device table costs a package against a bare
// loop that snapshots every device's installed driver with the same SetupAPI
// calls: the table (BuildDeviceList) and a record handed out (FindDevice)
// for each id the package lists. First with the prefix's own devices, every
// one listed; then with extra test devices (200 by default), the package
// listing one of them, then every one. The ratio is the table with its
// records against the loop; the release of the table's set at unload is
// shown beside it. Not a test: it prints figures, and fails when the
// devices cannot be made or a ratio is over its bound.
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

// The eager road with nothing kept: every device's driver snapshot and its
// hardware ids, with the calls the table makes.
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

// One id per present device in the table, in its order.
std::vector<std::wstring> OneIdPerDevice(const CBaseComponent& component)
{
    std::vector<std::wstring> ids;
    const W2KDEVINST* last = nullptr;
    for (const auto& entry : component.m_vDevices) {
        if (!last || memcmp(&last->devInfoData, &entry.first.devInfoData, sizeof last->devInfoData) != 0)
            ids.push_back(entry.second.c_str());
        last = &entry.first;
    }
    return ids;
}

struct TableTimes {
    double atLoad = 0;       // BuildDeviceList, as Initialize runs it
    double withRecords = 0;  // and a record handed out for every listed id
    double atUnload = 0;     // the component going, with the table's set
};

// A fresh component each time, as each plug-in load makes one: the table,
// then a record for every listed id as the Plug and Play installation asks
// for them. The set the table holds is given back when the component goes,
// at unload, timed apart.
TableTimes TableFor(const std::vector<std::wstring>& listed)
{
    TableTimes times;
    auto component = std::make_unique<CBaseComponent>();
    const auto start = Clock::now();
    component->BuildDeviceList(0);
    times.atLoad = Milliseconds(Clock::now() - start);
    for (const std::wstring& id : listed) {
        W2KDEVINST* record = nullptr;
        component->FindDevice(id.c_str(), &record);
    }
    times.withRecords = Milliseconds(Clock::now() - start);
    const auto unload = Clock::now();
    component.reset();
    times.atUnload = Milliseconds(Clock::now() - unload);
    return times;
}

// False when the ratio is over the bound.
bool Measure(const char* label, const std::vector<std::wstring>& listed, double bound, int reps)
{
    // One of each first: libraries loaded, caches warm.
    TableFor(listed);
    BareLoop();
    // Pairs taken back to back, so a busy moment on the shared machine
    // hits both sides alike; the medians are compared.
    std::vector<double> table, atLoad, atUnload, bare;
    for (int i = 0; i < reps; ++i) {
        const TableTimes times = TableFor(listed);
        table.push_back(times.withRecords);
        atLoad.push_back(times.atLoad);
        atUnload.push_back(times.atUnload);
        const auto start = Clock::now();
        BareLoop();
        bare.push_back(Milliseconds(Clock::now() - start));
    }
    const double t = Median(table), b = Median(bare);
    const bool within = t <= bound * b;
    std::printf("%-38s devices %4zu  listed %4zu  at load %8.2f ms  with records %8.2f ms  (at unload %7.2f ms)"
                "  bare loop %8.2f ms  ratio %.3f (bound %.2f: %s)\n",
                label, DeviceCount(), listed.size(), Median(atLoad), t, Median(atUnload), b, t / b, bound,
                within ? "ok" : "OVER");
    return within;
}

std::vector<std::wstring> EveryPresentDevice()
{
    CBaseComponent component;
    component.BuildDeviceList(0);
    return OneIdPerDevice(component);
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
    bool within = Measure("prefix's own devices, every one listed", EveryPresentDevice(), 1.10, reps);
    std::vector<std::unique_ptr<tzrtest::TestDevice>> devices;
    std::vector<std::wstring> one;
    for (int i = 0; i < extra; ++i) {
        wchar_t id[64];
        std::swprintf(id, 64, L"PCI\\VEN_1B4B&DEV_%04X&SUBSYS_00011B4B", i);
        if (i == 0)
            one.push_back(id);
        devices.push_back(std::make_unique<tzrtest::TestDevice>(
            L"TZRBENCH", std::vector<std::wstring>{std::wstring(id) + L"&REV_01", id, L"PCI\\CC_010802"}));
        if (!devices.back()->Created()) {
            std::fprintf(stderr, "device_bench: test device %d could not be made\n", i);
            return 1;
        }
    }
    char label[64];
    if (extra > 0) {
        std::snprintf(label, sizeof label, "%d test devices, one listed", extra);
        within = Measure(label, one, 0.10, reps) && within;
    }
    std::snprintf(label, sizeof label, "%d test devices, every one listed", extra);
    within = Measure(label, EveryPresentDevice(), 1.10, reps) && within;
    return within ? 0 : 2;
}
