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
