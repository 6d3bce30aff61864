// Engine state and the check sequence that fills it.
#include "flash_engine.h"

#include "process_log.h"

#include <cstring>
#include <exception>

std::vector<DeviceObj> deviceCollection;
unsigned char forceFlag = 0;
unsigned char downgradeFlag = 0;
unsigned char rewriteFlag = 0;
unsigned char silentFlag = 0;
unsigned char discoveryFlag = 0;
char discoveryFile[1024] = "";
std::string packageVersion;
unsigned char sequenceDone = 0;

namespace {

unsigned runCheckSteps()
{
    LogPrint(kLogVerbose, "parsing commandline parameters...\n");
    if (parseCommandLine() != 0)
        return kFlashNoCommandLine;
    LogPrint(kLogVerbose, "parsing commandline parameters completed.\n");

    // Only a discovery run comes back here after an inventory; it starts
    // from an empty collection so its report lists each controller once.
    deviceCollection.clear();
    LogPrint(kLogVerbose, "Device Inventory initiated...\n");
    const unsigned char found = runDeviceInventory();
    LogPrint(kLogVerbose, "Device Inventory completed.\n");

    // A discovery run reports what it found and marks nothing; it does not
    // count as the completed sequence.
    if (discoveryFlag) {
        LogPrint(kLogVerbose, "Device discovery flag set! Generating discovery file..\n");
        writeDiscoveryFile();
        return kFlashRewrite;
    }
    if (!found)
        return kFlashNoDevice;
    // Without the package's own version every controller would compare as
    // newer and be flashed as a downgrade: firmware of an unknown version
    // is never written.
    if (packageVersion.empty()) {
        LogPrint(kLogVerbose, "Package version unknown: no controller is marked for flashing\n");
        return kFlashError;
    }

    const UpdateCounts counts = countUpdateStates(deviceCollection);

    // Every recognised controller is flashed, whatever its state and
    // whatever the command line said: the states only decide the summary.
    LogPrint(kLogVerbose, "force flag -f set to %d\n", 1);
    forceFlag = 1;
    setForceFlashForAll();
    sequenceDone = 1;

    LogPrint(kLogVerbose, "ucount: %d dcount: %d rcount: %d\n", counts.ucount, counts.dcount, counts.rcount);
    return summaryCode(counts);
}

}  // namespace

unsigned runCheckSequence()
{
    if (sequenceDone)
        return kFlashNoDevice;
    try {
        return runCheckSteps();
    } catch (const std::exception& e) {
        // Memory ran out or the library gave up: nothing half-inventoried
        // may be flashed later, so the collection goes and the state is
        // "cannot be installed".
        deviceCollection.clear();
        LogPrint(kLogVerbose, "Check sequence failed: %s\n", e.what());
        return kFlashError;
    }
}

void setForceFlashForAll()
{
    if (!forceFlag)
        return;
    LogPrint(kLogVerbose, "setForceFlashForAll\n");
    for (DeviceObj& device : deviceCollection)
        device.setFlashNeeded(true);
}

void resetEngineState()
{
    std::vector<DeviceObj>().swap(deviceCollection);
    memset(discoveryFile, 0, sizeof discoveryFile);
    forceFlag = downgradeFlag = rewriteFlag = silentFlag = discoveryFlag = sequenceDone = 0;
    std::string().swap(packageVersion);
    LogSetVerboseLevel(0);
}
