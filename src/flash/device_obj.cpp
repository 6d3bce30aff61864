#include "device_obj.h"

#include "flash_codes.h"

UpdateCounts countUpdateStates(const std::vector<DeviceObj>& devices)
{
    UpdateCounts counts;
    for (const DeviceObj& device : devices) {
        switch (device.getUpdateState()) {
        case kUpdateUpgrade: ++counts.ucount; break;
        case kUpdateRewrite: ++counts.rcount; break;
        case kUpdateDowngrade: ++counts.dcount; break;
        default: break;
        }
    }
    return counts;
}

unsigned summaryCode(const UpdateCounts& counts)
{
    if (counts.ucount != 0 && counts.ucount >= counts.dcount)
        return kFlashUpgrade;
    if (counts.dcount != 0 && counts.dcount >= counts.rcount)
        return kFlashDowngrade;
    return kFlashRewrite;
}

namespace {

const DeviceObj* byId(const std::vector<DeviceObj>& devices, int id)
{
    for (const DeviceObj& device : devices)
        if (device.getControllerId() == id)
            return &device;
    return nullptr;
}

std::string firmwareOf(const DeviceObj& device)
{
    return device.isAwaitingRestart() ? device.getFwVersion() + " (waiting for a restart)" : device.getFwVersion();
}

// What differs about one controller, "" when nothing.
std::string changeOf(int id, const DeviceObj* then, const DeviceObj* now)
{
    const std::string name = "Controller " + std::to_string(id) + ": ";
    if (!now)
        return name + "present when the state was read, gone now";
    if (!then)
        return name + "not there when the state was read, present now";
    if (then->getSubVendorId() != now->getSubVendorId() || then->getSubDeviceId() != now->getSubDeviceId())
        return name + "ids " + then->getSubVendorId() + "/" + then->getSubDeviceId() + " when the state was read, " +
               now->getSubVendorId() + "/" + now->getSubDeviceId() + " now";
    if (firmwareOf(*then) != firmwareOf(*now) || then->getRunningVersion() != now->getRunningVersion())
        return name + firmwareOf(*then) + " when the state was read, " + firmwareOf(*now) + " now";
    return std::string();
}

}  // namespace

std::string describeChange(const std::vector<DeviceObj>& then, const std::vector<DeviceObj>& now)
{
    std::string first;
    size_t changes = 0;
    const auto note = [&](const std::string& change) {
        if (change.empty())
            return;
        if (changes++ == 0)
            first = change;
    };
    for (const DeviceObj& device : then)
        note(changeOf(device.getControllerId(), &device, byId(now, device.getControllerId())));
    for (const DeviceObj& device : now)
        if (!byId(then, device.getControllerId()))
            note(changeOf(device.getControllerId(), nullptr, &device));
    if (changes > 1)
        first += " (and " + std::to_string(changes - 1) + " more)";
    return first;
}
