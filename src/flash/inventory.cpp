// The controller inventory: the vendor tool's count, then one information
// query per controller, each answer read by the pure parsers.
#include "flash_engine.h"
#include "inventory_parse.h"

#include "process_log.h"
#include "restart_record.h"
#include "run_command.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

const char kTool[] = "mnv_cli.exe";
// More controllers than any machine holds: a larger count is not believed.
const int kMaxControllers = 1024;

// Firmware written to the controller before and waiting for a restart
// counts as its version until then: the tool still reports the old one. A
// record that no longer fits (the new firmware runs, or the controller is
// another) is dropped.
void takeWaitingFirmware(DeviceObj& record)
{
    AwaitingFirmware waiting;
    if (!findAwaitingRestart(record.getControllerId(), waiting))
        return;
    const bool same = waiting.subVendorId == record.getSubVendorId() && waiting.subDeviceId == record.getSubDeviceId();
    if (same && waiting.ranVersion == record.getFwVersion() && waiting.writtenVersion != waiting.ranVersion) {
        if (waiting.answered)
            LogPrint(kLogVerbose, "Controller %d: firmware %s written %s waits for a restart; %s runs until then\n",
                     record.getControllerId(), waiting.writtenVersion.c_str(), waiting.writtenAt.c_str(),
                     record.getFwVersion().c_str());
        else
            LogPrint(kLogVerbose,
                     "Controller %d: the write of firmware %s begun %s was never answered (its installation "
                     "ended first); it is taken as written and waiting for a restart; %s runs until then\n",
                     record.getControllerId(), waiting.writtenVersion.c_str(), waiting.writtenAt.c_str(),
                     record.getFwVersion().c_str());
        record.setAwaitingRestart(record.getFwVersion(), waiting.writtenVersion);
        return;
    }
    LogPrint(kLogVerbose, "Controller %d: the record of firmware %s waiting for a restart no longer holds (it runs "
                          "%s); the record is dropped\n",
             record.getControllerId(), waiting.writtenVersion.c_str(), record.getFwVersion().c_str());
    forgetAwaitingRestart(record.getControllerId());
}

// Reads one controller's answer into a fresh record; false when the query
// did not run or the model is not supported (both already logged).
bool queryController(int n, DeviceObj& record)
{
    char command[1024];
    snprintf(command, sizeof command, "%s %d %s", kTool, n, "info -o hba");
    LogPrint(kLogVerbose, "Querying Boot Controller Device information ID: %d\n", n);

    std::string output;
    if (runTool(command, output) != 0) {
        LogPrint(kLogVerbose, "Failed to execute command\n");
        return false;
    }
    record.setControllerId(n);
    const ControllerInfo info = parseControllerInfo(output);
    record.setFwVersion(info.fwVersion);
    record.setSubVendorId(info.subVendorId);
    record.setSubDeviceId(info.subDeviceId);

    const std::string name = getModelName(record.getSubDeviceId());
    if (name.empty()) {
        LogPrint(kLogVerbose, "Controller %d: model %s is not supported by this package; it is not flashed\n", n,
                 record.getSubDeviceId().c_str());
        return false;
    }
    record.setProductName(name);
    takeWaitingFirmware(record);
    record.setTargetVersion(packageVersion);
    record.setUpdateState(compareVersion(record.getFwVersion(), packageVersion));
    return true;
}

}  // namespace

int getControllerCount()
{
    char command[1024];
    snprintf(command, sizeof command, "%s %s", kTool, "adapter --list");
    LogPrint(kLogVerbose, "Command: %s \n", command);

    std::string output;
    if (runTool(command, output) != 0) {
        LogPrint(kLogVerbose, "Failed to execute command: %s\n", command);
        return -1;
    }
    const ControllerCount count = parseControllerCount(output);
    if (count.status == ControllerCount::kTooLarge ||
        (count.status == ControllerCount::kFound && count.count > kMaxControllers)) {
        // No machine has that many controllers: the answer is not believed.
        LogPrint(kLogVerbose, "Controller count %s is out of range; no controller is queried\n", count.text.c_str());
        return 0;
    }
    return count.count;
}

unsigned char runDeviceInventory()
{
    return takeInventory(deviceCollection) ? 1 : 0;
}

bool takeInventory(std::vector<DeviceObj>& devices)
{
    LogPrint(kLogVerbose, "Fetching Boot Controller Devices information...\n");
    const int count = getControllerCount();

    // The package version is read even when there is nothing to compare it
    // with: later steps (the discovery report) use it.
    readKeyFilesFromKXXML(packageDefinitionFile);

    bool appended = false;
    // Bounded here too, so n cannot run past the largest int whatever the
    // count says.
    const int last = std::min(count, kMaxControllers);
    for (int n = 1; n <= last; ++n) {
        // One controller that cannot be read (memory exhausted on a huge
        // answer) is skipped like one whose query failed.
        try {
            DeviceObj record;
            if (queryController(n, record)) {
                devices.push_back(record);
                appended = true;
            }
        } catch (const std::exception& e) {
            LogPrint(kLogVerbose, "Failed to read Boot Controller Device information ID: %d (%s)\n", n, e.what());
        }
    }
    return appended;
}

std::string getModelName(const std::string& subDeviceId)
{
    LogPrint(kLogVerbose, "getModelName with subdeviceid: %s\n", subDeviceId.c_str());
    const char* name = findModelName(subDeviceId);
    if (!name)
        return std::string();
    LogPrint(kLogVerbose, "Model name found for the subdeviceid is: %s\n", name);
    return name;
}
