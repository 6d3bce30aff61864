// Present Plug and Play devices: each with its SetupAPI identity and a
// snapshot of the driver it runs now.
#pragma once

#include "driver_api.h"

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <string>
#include <vector>

// Bytes of the installed driver's detail record: the fixed part and as much
// of its hardware-id list as fits.
const size_t kDriverDetailBytes = 1584;

// One present device. A plain value: a copy copies the set handle too and
// owns nothing; the handle is valid only while the list that enumerated the
// device lives.
struct W2KDEVINST {
    W2KDEVINST();
    virtual ~W2KDEVINST() = default;
    W2KDEVINST(const W2KDEVINST&) = default;
    W2KDEVINST& operator=(const W2KDEVINST&) = default;

    // SetupDiGetDeviceRegistryPropertyW on the device; 0 without a set.
    BOOL GetRegistryProperty(DWORD property, DWORD* dataType, BYTE* buffer, DWORD size, DWORD* required) const;
    // The mask AND the installed driver's DNF_ flags; 0 without a set.
    DWORD TestDriverFlags(DWORD mask) const;

    const SP_DRVINFO_DETAIL_DATA_W* DriverDetail() const
    {
        return reinterpret_cast<const SP_DRVINFO_DETAIL_DATA_W*>(driverDetail);
    }
    SP_DRVINFO_DETAIL_DATA_W* DriverDetail() { return reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(driverDetail); }
    // Full path of the INF that installed the driver; empty without one.
    std::wstring InfFileName() const;
    // Empties the driver snapshot (driver entry, detail, install parameters).
    void ClearDriver();

    HDEVINFO hDevInfo = nullptr;  // not owned
    SP_DEVINFO_DATA devInfoData{};
    SP_DRVINFO_DATA_V2_W driverInfo{};
    alignas(SP_DRVINFO_DETAIL_DATA_W) unsigned char driverDetail[kDriverDetailBytes]{};
    SP_DRVINSTALL_PARAMS driverInstallParams{};
};
static_assert(sizeof(SP_DRVINFO_DETAIL_DATA_W) <= kDriverDetailBytes, "the detail record's fixed part fits");

class CWin2000DeviceList {
public:
    CWin2000DeviceList() = default;
    virtual ~CWin2000DeviceList();
    CWin2000DeviceList(const CWin2000DeviceList&) = delete;
    CWin2000DeviceList& operator=(const CWin2000DeviceList&) = delete;

    // Appends the present devices of one setup class (null: all classes),
    // each with a snapshot of its installed driver.
    void Enumerate(const GUID* classGuid);
    // Appends the same devices with their driver snapshots not yet taken:
    // building a driver list is nearly all the cost of a device, and most
    // callers ask about a few of them. DriverSnapshotOf takes one on demand.
    void EnumerateWithoutDrivers(const GUID* classGuid);
    // The list's own record of the device the given record was copied
    // from, its driver snapshot taken now if it was still to take (once per
    // device, with the same calls and rules as Enumerate); null when the
    // record is not one of this list's devices.
    const W2KDEVINST* DriverSnapshotOf(const W2KDEVINST& copy);
    size_t GetCount() const { return m_vDevices.size(); }
    W2KDEVINST* GetDevice(size_t index);
    // The device's hardware-id multi-string, size in bytes. 1 when copied
    // (size becomes the bytes copied). 0 without touching size when size is
    // null or the index out of range; 0 with the required size stored when
    // the buffer is null or too small; 0 when the list cannot be read.
    int GetHardwareIds(size_t index, BYTE* buffer, DWORD* size);
    // Gives back the driver lists the snapshots built, then the sets; every
    // record copied from the list holds a destroyed handle afterwards.
    void Clear();

private:
    void Append(const GUID* classGuid, bool withDrivers);
    // Fills the record's driver fields from the device's installed driver;
    // they stay empty when it cannot be read.
    static void ReadInstalledDriver(HDEVINFO set, SP_DEVINFO_DATA device, W2KDEVINST& record);

    std::vector<UniqueDevInfoSet> m_vSets;
    std::vector<W2KDEVINST> m_vDevices;
    // Per record: its driver snapshot was taken (its driver list may exist).
    std::vector<bool> m_vDriverRead;
};

// The strings of a multi-string of the given size in bytes, read without
// ever passing that size: a missing double terminator ends the list at the
// end of the data, and an odd last byte is not part of any character.
std::vector<std::wstring> SplitMultiString(const void* data, size_t bytes);

// The hardware ids a device is entered under: with firstOnly the first id as
// reported; else every id, those after the first in upper case (ASCII
// letters), less those carrying a class code ("&CC"). Ids with a revision
// ("&REV_") stay: they match only a package id naming that revision.
std::vector<std::wstring> KeptHardwareIds(std::vector<std::wstring> ids, bool firstOnly);
