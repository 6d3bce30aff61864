// Engine state and the check sequence that fills it.
#include "flash_engine.h"

#include "install_state_record.h"
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
unsigned checkAnswer = kFlashNoDevice;
std::string engineNote;
MachineFlashLock machineLock;

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
    const MachineScope machine;
    unsigned refusal = 0;
    if (!takeMachine(FlashActivity::kInventory, refusal))
        return refusal;

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
    // A package that Install could not write is not offered.
    std::string refused;
    if (findFirmwareImage(nullptr, &refused).empty()) {
        engineNote = refused;
        logRecord("%s", refused.c_str());
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
    const unsigned summary = summaryCode(counts);
    // The package's own firmware already written, waiting for a restart:
    // the same version, and a restart still owed.
    if (summary == kFlashRewrite) {
        for (const DeviceObj& device : deviceCollection) {
            if (device.isAwaitingRestart() && device.getFwVersion() == packageVersion) {
                engineNote = toAnsiText(kRestartPendingText);
                break;
            }
        }
    }
    return summary;
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

MachineScope::~MachineScope()
{
    machineLock.Relinquish();
}

bool takeMachine(FlashActivity activity, unsigned& refusal)
{
    const MachineFlashLock::Wait policy =
        activity == FlashActivity::kFlash ? MachineFlashLock::Wait::kForInventory : MachineFlashLock::Wait::kForAny;
    FlashLockHolder holder;
    std::string reason;
    switch (machineLock.Acquire(activity, policy, kMachineWaitMs, holder, reason, &logWait)) {
    case MachineFlashLock::Result::kAcquired:
        return true;
    case MachineFlashLock::Result::kBusy: {
        char who[160];
        logRecord("Another firmware installation is running on this machine: %s; the vendor tool is not started",
                  DescribeHolder(holder, who, sizeof who));
        engineNote = toAnsiText(kBusyText);
        refusal = kFlashBusy;
        return false;
    }
    case MachineFlashLock::Result::kFailed:
        break;
    }
    // Without the lock nothing could keep a second write away; and a name
    // that no installation of ours holds is no reason to wait.
    logRecord("The machine-wide firmware lock %ls cannot be taken: %s; nothing is written",
              MachineFlashLock::Name().c_str(), reason.c_str());
    engineNote = "The machine-wide firmware lock cannot be taken: " + reason + "; nothing is written.";
    refusal = kFlashLockFailed;
    return false;
}

unsigned runCheckSequence(std::string* note)
{
    const EngineGuard guard;
    // The sequence runs once; every later question, from any thread, gets
    // the answer it gave, which is the one Install acts on.
    if (!sequenceDone) {
        engineNote.clear();
        try {
            checkAnswer = runCheckSteps();
            // A discovery run may be asked again (each question appends a
            // report); every other answer stands for the process.
            if (!discoveryFlag)
                sequenceDone = 1;
        } catch (const std::exception& e) {
            // Memory ran out or the library gave up: nothing half-inventoried
            // may be flashed later, so the collection goes and the state is
            // "cannot be installed".
            deviceCollection.clear();
            LogPrint(kLogVerbose, "Check sequence failed: %s\n", e.what());
            checkAnswer = kFlashError;
        }
    }
    if (note)
        *note = engineNote;
    return checkAnswer;
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
    checkAnswer = kFlashNoDevice;
    std::string().swap(engineNote);
    machineLock.Relinquish();
    std::string().swap(packageVersion);
    std::string().swap(packageDefinitionFile);
    LogSetVerboseLevel(0);
}
