// Firmware written but not yet running: the vendor tool reports the old
// version until the machine restarts. Each such write is on record in a
// volatile registry key, which a restart clears by itself, so that until then
// the engine takes the controller at the version written and never writes it
// again.
#pragma once

#include <windows.h>

#include <string>

struct AwaitingFirmware {
    int controllerId = 0;
    std::string subVendorId;
    std::string subDeviceId;
    std::string model;
    std::string ranVersion;      // what the controller ran when it was written
    std::string writtenVersion;  // what it runs after the restart
    std::string imageSha256;     // the image written, 64 hex digits
    std::string writtenAt;       // UTC, ISO 8601: when the write ended, or began
    // false while the tool writes: the record is made before it starts, so
    // that a write whose host ends before the tool answers is on record too
    // (the tool writes on) and is taken as written until the restart.
    bool answered = true;
};

// HKLM\SOFTWARE\TZR\NVMeBootController\AwaitingRestart, one volatile subkey
// "Controller N" per controller.
extern const wchar_t kAwaitingRestartKey[];

// Records a write, begun or answered; false with the system's error when the
// record cannot be made.
bool recordAwaitingRestart(const AwaitingFirmware& entry, LONG& error);
// The record of controller id; false when there is none.
bool findAwaitingRestart(int controllerId, AwaitingFirmware& entry);
// Drops the record of controller id (its firmware runs, or it is another).
void forgetAwaitingRestart(int controllerId);

// The SHA-256 of a file as 64 lower-case hex digits; "" with the system's
// error when it cannot be read.
std::string fileSha256(const std::wstring& path, DWORD& error);
// The current time, UTC, as ISO 8601 ("2026-12-10T13:45:00Z").
std::string utcNow();
