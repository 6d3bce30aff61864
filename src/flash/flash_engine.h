// The firmware flash engine: process-wide state and the free functions that
// the flash component calls. One thread (the host's) uses it; nothing here
// is locked. Every step writes its progress to the process log.
#pragma once

#include "device_obj.h"
#include "flash_codes.h"

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
extern unsigned char sequenceDone;                // the check sequence has counted once

// --- Check sequence ------------------------------------------------------

// Reads the options, takes the inventory and summarises it (2 upgrade,
// 4 downgrade, 3 rewrite or discovery written, 5 nothing found or already
// done, 13 no command line). Completes at most once per process.
unsigned runCheckSequence();
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
// The model name of a sub-device id, or empty (both logged).
std::string getModelName(const std::string& subDeviceId);

// --- Package -------------------------------------------------------------

// The first entry of the current directory whose name contains text, or "".
std::string findFirstFileContaining(const std::string& text);
// The vendor tool's file in the package folder (the current directory) by
// its full path, or "" when the folder holds none: the engine starts the
// package's own copy, never one that Windows' search would find first (the
// host's folder comes before the current directory).
std::wstring packageToolPath();
// Runs a command line of the vendor tool (see runCommand), the package's
// own copy when there is one, and writes the process-log line of a run
// that failed.
int runTool(const char* command, std::string& output);
// Reads the package's firmware version into packageVersion and returns it.
std::string readKeyFilesFromKXXML(const std::string& fileName);
// The package's alternative name (the first alt_name_xlate), or "".
std::string readAltNameFromKXXML(const std::string& fileName);
// The version text of the controllers marked for flashing: per controller
// "\r\n" model ": " version "\n"; at most 1023 bytes.
const char* getFirmwareCurrentVersion();

// --- Flashing and discovery ---------------------------------------------

// Flashes every marked controller: 1, 7 or 12.
unsigned flashFirmware();
// Writes the discovery report to discoveryFile; true when written.
bool writeDiscoveryFile();
// Whether the last discovery report was written whole.
extern bool discoveryWritten;
