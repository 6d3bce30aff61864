// The firmware flash engine: process-wide state and the free functions that
// the flash component calls. The host calls one at a time; the entry points
// still serialise threads that race in (EngineGuard), and a machine-wide lock
// keeps the vendor tool of other processes away while one writes firmware.
// Every step writes its progress to the process log.
#pragma once

#include "device_obj.h"
#include "flash_codes.h"
#include "flash_lock.h"
#include "printf_format.h"

#include <windows.h>

#include <string>
#include <vector>

// --- Engine state, one copy per process ---------------------------------

extern std::vector<DeviceObj> deviceCollection;  // recognised controllers, inventory order
extern unsigned char forceFlag;                   // every controller is to be flashed
extern unsigned char downgradeFlag;               // -g; recorded only
extern unsigned char rewriteFlag;                 // -e; recorded only
extern unsigned char silentFlag;                  // -s; recorded only
extern unsigned char discoveryFlag;               // write the discovery report instead of flashing
extern char discoveryFile[1024];                  // the discovery report's path
extern std::string packageVersion;                // firmware version the package carries
extern std::string packageDefinitionFile;         // the package definition the component found, or ""
extern unsigned char sequenceDone;                // the check sequence has counted once
extern unsigned checkAnswer;                      // what the completed sequence answered
extern std::string engineNote;                    // why of the last answer, for the host: "" or one sentence
extern MachineFlashLock machineLock;              // the machine-wide lock, held during a query or a write

// --- Threads and processes ----------------------------------------------

// Serialises the engine's entry points between the threads of one process:
// the check sequence runs once even when threads race into it, and never
// beside a flash.
class EngineGuard {
public:
    EngineGuard();
    ~EngineGuard();
    EngineGuard(const EngineGuard&) = delete;
    EngineGuard& operator=(const EngineGuard&) = delete;
};

// How long an inventory waits for another process's firmware installation,
// and an installation for another process's inventory, before giving up.
constexpr DWORD kMachineWaitMs = 30 * 60 * 1000;

// One line of the firmware write's record, in the engine's log and in the
// component's main log (format without its line end; at most 1023 bytes).
void logRecord(const char* format, ...) TZR_PRINTF_FORMAT(1, 2);

// Gives machineLock back at the end of a scope.
struct MachineScope {
    MachineScope() = default;
    ~MachineScope();
    MachineScope(const MachineScope&) = delete;
    MachineScope& operator=(const MachineScope&) = delete;
};

// Takes machineLock for activity: an inventory waits for any other holder,
// a flash only for another inventory (both at most kMachineWaitMs). False
// when the machine stays taken (refusal kFlashBusy) or the lock cannot be
// taken at all (kFlashLockFailed), with the reason in the process log, the
// component's main log and engineNote.
bool takeMachine(FlashActivity activity, unsigned& refusal);

// --- Check sequence ------------------------------------------------------

// Reads the options, takes the inventory and summarises it (2 upgrade,
// 4 downgrade, 3 rewrite or discovery written, 5 nothing found, 7 the
// package cannot be written, 13 no command line, 14 another installation
// kept the machine past the wait, 15 the lock cannot be taken). Completes
// at most once per process; later calls answer what it answered. note, when
// given, receives engineNote.
unsigned runCheckSequence(std::string* note = nullptr);
// When forceFlag is set, marks every controller for flashing.
void setForceFlashForAll();
// Puts every piece of engine state back to its load-time value: the
// collection emptied, the discovery path cleared, the flags, the package
// version and the once-per-process mark reset, the log level 0. Detach and
// the tests use it.
void resetEngineState();

// --- Options -------------------------------------------------------------

// Reads the engine's options from the process command line: 0, or -1 when
// it cannot be split into arguments.
int parseCommandLine();
// The same over a given command line (the process's one in production).
int parseArguments(const wchar_t* commandLine);
// Converts one argument into a byte slot of slotSize bytes, always
// terminated. A text that does not fit is cut at a character boundary of
// the code page, never in the middle of a multibyte character. Returns the
// bytes written without the terminator.
size_t convertArgument(UINT codePage, const wchar_t* argument, char* slot, size_t slotSize);

// --- Inventory -----------------------------------------------------------

// The number of controllers the tool reports, 0 when its output does not
// say (or says a number too large to be true), -1 when it did not start.
int getControllerCount();
// Appends every recognised controller to deviceCollection; 1 when it
// appended any.
unsigned char runDeviceInventory();
// The same into devices; true when it appended any.
bool takeInventory(std::vector<DeviceObj>& devices);
// The model name of a sub-device id, or empty (both logged).
std::string getModelName(const std::string& subDeviceId);

// --- Package -------------------------------------------------------------

// The text in the ANSI code page the engine works in, unmapped characters
// as "?"; true when nothing was lost.
bool toAnsi(const wchar_t* text, std::string& ansi);
// The same where nothing can be lost (the engine's own texts).
std::string toAnsiText(const wchar_t* text);
// Text in the ANSI code page back in UTF-16.
std::wstring fromAnsi(const std::string& text);
// The first entry of the current directory whose name contains text, or "".
std::string findFirstFileContaining(const std::string& text);
// The package's firmware image: the one regular, non-empty file whose name
// ends in ".bin" (any case) and can be given to the tool in the ANSI code
// page. "" when there is not exactly one such file; the log then names every
// candidate and why it was refused, and refused, when given, receives the
// sentence that says why there is no image. images, when given, receives how
// many usable images there were.
std::string findFirmwareImage(unsigned* images = nullptr, std::string* refused = nullptr);
// The vendor tool's file in the package folder (the current directory) by
// its full path, whatever its length, or "" when the folder holds none.
std::wstring packageToolPath();
// The tool to start: the package's own, else the first in an absolute PATH
// folder that is neither the host's folder nor the current directory (which
// Windows' own search would try first); "" when there is none.
std::wstring vendorToolPath();
// True when vendorToolPath finds a tool; else engineNote names the tool and
// where it was looked for, in the process log and the component's main log.
bool checkVendorTool();
// Runs a command line of the vendor tool (see runCommand) by the full path
// of vendorToolPath, and writes the process-log line of a run that failed,
// of the tool it started and of output it cut. An answer in UTF-16 is
// turned into text in the ANSI code page.
int runTool(const char* command, std::string& output);
// Reads the package's firmware version into packageVersion and returns it.
std::string readKeyFilesFromKXXML(const std::string& fileName);
// The package's alternative name (the first alt_name_xlate), or "".
std::string readAltNameFromKXXML(const std::string& fileName);
// The version text of the controllers marked for flashing: per controller
// "\r\n" model ": " version "\n"; at most 1023 bytes.
const char* getFirmwareCurrentVersion();

// --- Flashing and discovery ---------------------------------------------

// Flashes every marked controller: 1, 7, 12, or 14 when another process's
// firmware installation holds the machine.
unsigned flashFirmware();
// Writes the discovery report to discoveryFile; true when written.
bool writeDiscoveryFile();
// Whether the last discovery report was written whole.
extern bool discoveryWritten;
