// Present Plug and Play devices. The records and the list's shape are in
// place for the component's fields; enumeration through SetupAPI is not
// built yet, so a list stays empty and the component's device table with it.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <vector>

// One present device: its SetupAPI identity and a snapshot of its driver.
struct W2KDEVINST {
    virtual ~W2KDEVINST() = default;

    HDEVINFO hDevInfo = nullptr;  // not owned
    SP_DEVINFO_DATA devInfoData{};
    SP_DRVINFO_DATA_V2_W driverInfo{};
    unsigned char driverDetail[1584]{};
    SP_DRVINSTALL_PARAMS driverInstallParams{};
};

class CWin2000DeviceList {
public:
    CWin2000DeviceList() = default;
    virtual ~CWin2000DeviceList() = default;
    CWin2000DeviceList(const CWin2000DeviceList&) = delete;
    CWin2000DeviceList& operator=(const CWin2000DeviceList&) = delete;

    size_t GetCount() const { return m_vDevices.size(); }

private:
    std::vector<HDEVINFO> m_vSets;
    std::vector<W2KDEVINST> m_vDevices;
};
