// One recognised controller as the inventory found it, and the summary the
// check sequence draws from a collection of them. Pure: no Windows.
#pragma once

#include "version_compare.h"

#include <string>
#include <vector>

class DeviceObj {
public:
    DeviceObj() = default;
    DeviceObj(const DeviceObj&) = default;
    DeviceObj& operator=(const DeviceObj&) = default;
    virtual ~DeviceObj() = default;

    int getControllerId() const { return controllerId; }
    const std::string& getProductName() const { return productName; }
    const std::string& getFwVersion() const { return fwVersion; }
    const std::string& getSubVendorId() const { return subVendorId; }
    const std::string& getSubDeviceId() const { return subDeviceId; }
    const std::string& getTargetVersion() const { return targetVersion; }
    int getUpdateState() const { return updateState; }
    bool isFlashNeed() const { return flashNeeded != 0; }
    // What the tool reports the controller runs; the firmware version above
    // is the one written and waiting for a restart when there is one.
    const std::string& getRunningVersion() const { return runningVersion.empty() ? fwVersion : runningVersion; }
    bool isAwaitingRestart() const { return !runningVersion.empty(); }

    void setControllerId(int id) { controllerId = id; }
    void setProductName(const std::string& name) { productName = name; }
    void setFwVersion(const std::string& version) { fwVersion = version; }
    void setSubVendorId(const std::string& id) { subVendorId = id; }
    void setSubDeviceId(const std::string& id) { subDeviceId = id; }
    void setTargetVersion(const std::string& version) { targetVersion = version; }
    void setUpdateState(int state) { updateState = state; }
    void setFlashNeeded(bool needed) { flashNeeded = needed ? 1 : 0; }
    // The controller runs running while written waits for a restart.
    void setAwaitingRestart(const std::string& running, const std::string& written)
    {
        runningVersion = running;
        fwVersion = written;
    }

private:
    int controllerId = 0;
    std::string productName;
    std::string fwVersion;
    std::string subVendorId;
    std::string subDeviceId;
    std::string targetVersion;
    std::string runningVersion;  // empty unless firmware waits for a restart
    unsigned char flashNeeded = 0;
    int updateState = kUpdateUndetermined;
};

struct UpdateCounts {
    int ucount = 0;  // upgrades
    int rcount = 0;  // rewrites
    int dcount = 0;  // downgrades
};

// Counts the update states in collection order; an undetermined state
// counts nowhere.
UpdateCounts countUpdateStates(const std::vector<DeviceObj>& devices);

// The check sequence's summary: 2 when upgrades lead (ties with downgrades
// go to the upgrade), else 4 when downgrades lead over rewrites (ties go to
// the downgrade), else 3.
unsigned summaryCode(const UpdateCounts& counts);

// What differs between the controllers an install state was answered from
// and those found now: the first change in the system's words
// ("Controller 1: 2.2.0 when the state was read, 2.4.10 now"), with how many
// more there are; "" when the machine is as it was.
std::string describeChange(const std::vector<DeviceObj>& then, const std::vector<DeviceObj>& now);
