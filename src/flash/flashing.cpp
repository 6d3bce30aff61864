// Flashing the marked controllers with the vendor tool, and the discovery
// report written instead when the host asks for one.
#include "flash_engine.h"

#include "install_state_record.h"
#include "controller_outcomes.h"
#include "process_log.h"
#include "restart_record.h"
#include "run_command.h"
#include "text_util.h"
#include "unique_resource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <share.h>
#include <vector>

bool discoveryWritten = false;

namespace {

const char kTool[] = "mnv_cli.exe";
const char kSuccessText[] = "Flash NVMe Controller firmware success";

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The tool confirms a flash with its success text anywhere in its output,
// in any letter case.
bool containsSuccessText(const std::string& output)
{
    const size_t n = sizeof kSuccessText - 1;
    for (size_t i = 0; i + n <= output.size(); ++i) {
        size_t k = 0;
        while (k < n && LowerAscii(output[i + k]) == LowerAscii(kSuccessText[k]))
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

// The image name as the tool's argument: quoted when it holds a blank, so
// the tool sees one argument.
std::string imageArgument(const std::string& image)
{
    return image.find(' ') == std::string::npos ? image : "\"" + image + "\"";
}

// Values go into attribute values of the report: escaped so the report
// stays well-formed whatever the package or the tool says.
std::string xmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// The sub-device id without its "x" (0x2f6 -> 02F6), in upper case.
std::string productId(const std::string& subDeviceId)
{
    std::string id = subDeviceId;
    if (id.size() >= 2)
        id.erase(1, 1);
    for (char& c : id)
        c = AsciiUpper(c);
    return id;
}

const char* actionFor(const DeviceObj& device)
{
    switch (compareVersion(device.getFwVersion(), packageVersion)) {
    case kUpdateUpgrade: return "upgrade";
    case kUpdateDowngrade: return "downgrade";
    default: return "rewrite";
    }
}

std::string buildReport(const std::string& altName)
{
    const std::string version = xmlEscape(packageVersion);
    std::string r;
    r += "<qx_rom_discovery version=\"2.0.2.0\">\n";
    r += "\t<type value=\"firmware:sd:\" />\n";
    r += "\t<alt_name value=\"" + xmlEscape(altName) + "\" />\n";
    r += "\t<version value=\"" + version + "\" />\n";
    r += "\t<takes_effect value=\"deferred\" />\n";
    r += "\t<devices>\n";
    for (const DeviceObj& device : deviceCollection) {
        const std::string id = std::to_string(device.getControllerId());
        r += "\t\t<device id=\"" + id + "\">\n";
        r += "\t\t\t<controller_id value=\"" + id + "\"/>\n";
        r += "\t\t\t<product_id value=\"" + xmlEscape(productId(device.getSubDeviceId())) + "1590\" />\n";
        r += "\t\t\t<fw_item>\n";
        r += "\t\t\t\t<type value=\"firmware\" />\n";
        r += "\t\t\t\t<firmware_id value=\"\" />\n";
        r += "\t\t\t\t<takes_effect value=\"deferred\" />\n";
        r += "\t\t\t\t<version value=\"" + version + "\" />\n";
        r += "\t\t\t\t<active_version value=\"" + xmlEscape(device.getRunningVersion()) + "\" />\n";
        // Written already, running after the next restart.
        if (device.isAwaitingRestart())
            r += "\t\t\t\t<pending_version value=\"" + xmlEscape(device.getFwVersion()) + "\" />\n";
        r += std::string("\t\t\t\t<action value=\"") + actionFor(device) + "\" />\n";
        r += "\t\t\t\t<duration value=\"6\" />\n";
        r += "\t\t\t\t<shared value=\"no\" />\n";
        r += "\t\t\t</fw_item>\n";
        r += "\t\t</device>\n";
    }
    r += "\t</devices>\n";
    r += "</qx_rom_discovery>\n";
    return r;
}

// One line per controller in both the engine's log and the component's
// main log: what was written where, and how it ended.
void recordFlash(const DeviceObj& device, const std::string& image, const char* outcome)
{
    logRecord("Controller %d (%s, firmware %s): image %s: %s",
             device.getControllerId(), device.getProductName().c_str(), device.getFwVersion().c_str(), image.c_str(),
             outcome);
}

// The tool's own last words on a failed flash: at most five lines of at most
// 200 bytes each.
void logLastLines(const std::string& output)
{
    for (const std::string& line : lastLines(output, 5, 200))
        LogPrint(kLogVerbose, "Tool said: %s\n", line.c_str());
}

}  // namespace

namespace {

// Puts a write on record as one that takes effect at the next restart:
// begun, before the tool starts, then answered. False with the system's error
// when the record cannot be made.
bool recordWaiting(const DeviceObj& device, const std::string& sha256, bool answered, LONG& error)
{
    AwaitingFirmware entry;
    entry.controllerId = device.getControllerId();
    entry.subVendorId = device.getSubVendorId();
    entry.subDeviceId = device.getSubDeviceId();
    entry.model = device.getProductName();
    entry.ranVersion = device.getRunningVersion();
    entry.writtenVersion = packageVersion;
    entry.imageSha256 = sha256;
    entry.writtenAt = utcNow();
    entry.answered = answered;
    return recordAwaitingRestart(entry, error);
}

// A write that was not made leaves the record as it was before it: none, or
// the one of an earlier write still waiting for the restart.
void restoreRecord(int controllerId, bool hadRecord, const AwaitingFirmware& before)
{
    LONG error = 0;
    if (!hadRecord)
        forgetAwaitingRestart(controllerId);
    else if (!recordAwaitingRestart(before, error))
        logRecord("Controller %d: the record of firmware %s waiting for a restart cannot be put back (error %ld)",
                  controllerId, before.writtenVersion.c_str(), static_cast<long>(error));
}

unsigned flashMarked(const std::string& image)
{
    // What Install writes is decided now, on the machine as it is: another
    // installation may have written between the install state and this call.
    std::vector<DeviceObj> now;
    LogPrint(kLogVerbose, "Device Inventory before writing...\n");
    takeInventory(now);
    const std::string change = describeChange(deviceCollection, now);
    if (!change.empty()) {
        engineNote = change + "; nothing is written. " + toAnsiText(kAskAgainText);
        logRecord("%s", engineNote.c_str());
        return kFlashChanged;
    }

    DWORD hashError = 0;
    const std::string sha256 = fileSha256(fromAnsi(image), hashError);
    if (sha256.empty()) {
        logRecord("The firmware image %s cannot be read (error %lu); nothing is flashed", image.c_str(),
                  static_cast<unsigned long>(hashError));
        return kFlashError;
    }
    LogPrint(kLogVerbose, "FW binary file SHA-256: %s\n", sha256.c_str());
    resetControllerOutcomes(deviceCollection);  // the host's per-controller outcomes

    unsigned result = kFlashError;
    bool failed = false, waiting = false;
    for (const DeviceObj& device : deviceCollection) {
        if (!device.isFlashNeed())
            continue;
        const int id = device.getControllerId();
        // The package's firmware is on the controller already and runs
        // after the restart still owed: writing it again would only ask for
        // another.
        if (device.isAwaitingRestart() && device.getFwVersion() == packageVersion) {
            recordFlash(device, image, "not written: this firmware is written already and runs after the next restart");
            waiting = true;
            continue;
        }
        char command[1024];
        const int n = snprintf(command, sizeof command, "%s %d %s %s %s %d", kTool, id, "flash -o hba -f",
                               imageArgument(image).c_str(), "-c 1 -s", 1);
        if (n < 0 || static_cast<size_t>(n) >= sizeof command) {
            LogPrint(kLogVerbose, "FW flash failed on Controller ID: %d: image name too long\n", id);
            recordFlash(device, image, "not flashed: the image name is too long for the command");
            noteFlashOutcome(device, kOutcomeNotWritten, packageVersion, "the image name is too long for the command");
            failed = true;
            continue;
        }
        // On record before the tool starts: should this process end while
        // the tool writes (the tool writes on), the next run takes the
        // controller as written until the restart rather than write it
        // again. A write that cannot be put on record is not made.
        AwaitingFirmware before;
        const bool hadRecord = findAwaitingRestart(id, before);
        LONG recordError = 0;
        if (!recordWaiting(device, sha256, false, recordError)) {
            restoreRecord(id, hadRecord, before);
            logRecord("Controller %d: the write of %s (image %s) cannot be put on record (error %ld); it is not made",
                      id, packageVersion.c_str(), image.c_str(), static_cast<long>(recordError));
            recordFlash(device, image, "not flashed: the write cannot be put on record");
            noteFlashOutcome(device, kOutcomeNotWritten, packageVersion, "the write cannot be put on record");
            failed = true;
            continue;
        }
        LogPrint(kLogVerbose, "Executing cmd: %s\n", command);
        std::string output;
        if (runTool(command, output) != 0) {
            // The controller keeps its old firmware: that is a failure, not
            // a skip, or the host would hear success.
            restoreRecord(id, hadRecord, before);
            LogPrint(kLogVerbose, "Failed to execute command\n");
            recordFlash(device, image, "not flashed: the tool did not start");
            noteFlashOutcome(device, kOutcomeNotWritten, packageVersion, "the tool did not start");
            failed = true;
            continue;
        }
        if (containsSuccessText(output)) {
            LogPrint(kLogVerbose, "FW flash successful on Controller ID: %d\n", id);
            recordFlash(device, image, "success");
            // A record still saying "begun" holds the controller just as
            // well; only the outcome is not in it.
            if (!recordWaiting(device, sha256, true, recordError))
                logRecord("Controller %d: the written %s (image %s) cannot be recorded as answered (error %ld)", id,
                          packageVersion.c_str(), image.c_str(), static_cast<long>(recordError));
            noteFlashOutcome(device, kOutcomeWritten, packageVersion, output);
            result = kFlashDone;
        } else {
            restoreRecord(id, hadRecord, before);
            LogPrint(kLogVerbose, "FW flash failed on Controller ID: %d\n", id);
            logLastLines(output);
            recordFlash(device, image, "failed");
            noteFlashOutcome(device, kOutcomeFailed, packageVersion, output);
            failed = true;
        }
    }
    if (failed)
        return kFlashError;
    return result == kFlashDone || !waiting ? result : kFlashAwaitingRestart;
}

}  // namespace

unsigned flashFirmware()
{
    const EngineGuard guard;
    engineNote.clear();
    // A discovery run flashes nothing; it succeeded only if its report was
    // written whole.
    if (discoveryFlag)
        return discoveryWritten ? kFlashDiscovery : kFlashError;

    LogPrint(kLogVerbose, "Attempting for firmware installation...\n");
    std::string refused;
    const std::string image = findFirmwareImage(nullptr, &refused);
    LogPrint(kLogVerbose, "FW binary file: %s\n", image.c_str());
    // Without its one image the tool would be asked to flash nothing, or
    // something the package did not mean, and an answer of success would be
    // believed.
    if (image.empty()) {
        logRecord("%s", refused.c_str());
        return kFlashError;
    }
    bool marked = false;
    for (const DeviceObj& device : deviceCollection)
        marked = marked || device.isFlashNeed();
    if (!marked) {
        logRecord("No controller is marked for flashing (the install state was not asked, or found none to write); "
                  "nothing is flashed");
        return kFlashError;
    }

    // Nothing is written while another process's tool may be writing, and
    // an installation does not wait behind another one: it says so at once.
    const MachineScope machine;
    unsigned refusal = 0;
    if (!takeMachine(FlashActivity::kFlash, refusal))
        return refusal;
    return flashMarked(image);
}

bool writeDiscoveryFile()
{
    discoveryWritten = false;
    // The report is built whole before the file is opened, so nothing that
    // fails while building it can leave the file open.
    const std::string report = buildReport(readAltNameFromKXXML(packageDefinitionFile));
    // Appended in text mode: every "\n" lands as CR LF, an existing report
    // keeps its content. The folder is not created.
    UniqueFile file(_fsopen(discoveryFile, "a", _SH_DENYNO));
    if (!file) {
        LogPrint(kLogVerbose, "Discovery file cannot be opened: %s : %s\n", discoveryFile, strerror(errno));
        return false;
    }
    bool ok = fwrite(report.data(), 1, report.size(), file.get()) == report.size();
    ok = (fflush(file.get()) == 0) && ok;
    ok = file.reset() && ok;
    if (!ok)
        LogPrint(kLogVerbose, "Discovery file could not be written: %s\n", discoveryFile);
    discoveryWritten = ok;
    return ok;
}
