// The engine's flash result codes: what a check or a flash came to. The
// component turns them into the host's install state or result line.
#pragma once

enum FlashCode : unsigned {
    kFlashDoneNoReboot = 0,
    kFlashDone = 1,            // flashed; the new firmware needs a restart
    kFlashUpgrade = 2,
    kFlashRewrite = 3,
    kFlashDowngrade = 4,
    kFlashNoDevice = 5,
    kFlashUserInterrupted = 6,
    kFlashError = 7,
    kFlashErrorOther = 8,
    kFlashCriticalError = 9,
    kFlashError10 = 10,
    kFlashError11 = 11,
    kFlashDiscovery = 12,
    kFlashNoCommandLine = 13,
    kFlashBusy = 14,           // another firmware installation holds the machine
    kFlashLockFailed = 15,     // the machine-wide lock cannot be made or its name is kept by another
    kFlashChanged = 16,        // the controllers changed since the install state was read
    kFlashAwaitingRestart = 17, // already written; takes effect at the next restart
};
