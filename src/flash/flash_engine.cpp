// Engine state and the check sequence that fills it.
#include "flash_engine.h"

#include "process_log.h"

#include <cstdarg>
#include <cstdio>
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
std::string packageDefinitionFile;
unsigned char sequenceDone = 0;
std::string stateReason;

namespace {

SRWLOCK g_engineLock = SRWLOCK_INIT;

void logWait(const FlashLockHolder& holder, DWORD waitMs)
{
    char who[160];
    LogPrint(kLogVerbose, "Waiting for the firmware installation of %s to end (at most %lu s)\n",
             DescribeHolder(holder, who, sizeof who), static_cast<unsigned long>(waitMs / 1000));
}

unsigned runCheckSteps()
{
    LogPrint(kLogVerbose, "parsing commandline parameters...\n");
    if (parseCommandLine() != 0)
        return kFlashNoCommandLine;
    LogPrint(kLogVerbose, "parsing commandline parameters completed.\n");
    if (!checkVendorTool())
        return kFlashError;

    // No command of the vendor tool runs while another process writes
    // firmware on this machine.
    MachineFlashLock machine;
    if (!takeMachine(machine, FlashActivity::kInventory))
        return kFlashBusy;

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

void logRecord(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LogPrint(kLogVerbose, "%s\n", text);
    // The component log writes its line ends as given.
    LogPrint(kLogComponentMain, "%s\r\n", text);
}

EngineGuard::EngineGuard()
{
    AcquireSRWLockExclusive(&g_engineLock);
}

EngineGuard::~EngineGuard()
{
    ReleaseSRWLockExclusive(&g_engineLock);
}

bool takeMachine(MachineFlashLock& machine, FlashActivity activity)
{
    const MachineFlashLock::Wait policy =
        activity == FlashActivity::kFlash ? MachineFlashLock::Wait::kForInventory : MachineFlashLock::Wait::kForAny;
    FlashLockHolder holder;
    DWORD error = 0;
    switch (machine.Acquire(activity, policy, kMachineWaitMs, holder, error, &logWait)) {
    case MachineFlashLock::Result::kAcquired:
        return true;
    case MachineFlashLock::Result::kBusy: {
        char who[160];
        logRecord("Another firmware installation is running on this machine: %s; the vendor tool is not started",
                  DescribeHolder(holder, who, sizeof who));
        return false;
    }
    case MachineFlashLock::Result::kFailed:
        break;
    }
    // Without the lock nothing could keep a second write away.
    logRecord("The machine-wide firmware lock cannot be made (error %lu); the vendor tool is not started",
              static_cast<unsigned long>(error));
    return false;
}

unsigned runCheckSequence()
{
    const EngineGuard guard;
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
    std::string().swap(packageDefinitionFile);
    std::string().swap(stateReason);
    LogSetVerboseLevel(0);
}
