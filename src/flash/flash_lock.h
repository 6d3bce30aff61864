// One firmware write at a time per machine, whoever started it.
//
// The lock is a named section object in the global namespace: it exists
// exactly as long as some process holds a handle to it. The holder's handle
// is inheritable, so every vendor-tool process started while the lock is held
// holds it too: a tool whose host was killed keeps the machine until the tool
// itself ends, and a rerun cannot start another write beside it. The section
// carries a small record of who holds it and what for, so a waiting or
// refused installation can say which process it waits for.
#pragma once

#include "win_handle.h"

#include <windows.h>

enum class FlashActivity : DWORD {
    kNone = 0,
    kInventory = 1,  // querying the controllers
    kFlash = 2,      // writing firmware
};

// What the holder wrote about itself; processId 0 when not known.
struct FlashLockHolder {
    DWORD processId = 0;
    FlashActivity activity = FlashActivity::kNone;
    bool processEnded = false;  // the holder is gone; a tool it started still runs
};

class MachineFlashLock {
public:
    enum class Wait {
        kForAny,        // wait for every other holder, up to the bound
        kForInventory,  // wait only while the holder is querying; a write refuses at once
    };
    enum class Result {
        kAcquired,
        kBusy,    // another process holds the machine (holder says who)
        kFailed,  // the lock object could not be made (error says why)
    };

    static const wchar_t kName[];

    MachineFlashLock() = default;
    MachineFlashLock(const MachineFlashLock&) = delete;
    MachineFlashLock& operator=(const MachineFlashLock&) = delete;

    // Takes the machine for activity, waiting as policy says for at most
    // waitMs. onWait, when given, is called once when a wait lasts beyond
    // the first look again.
    Result Acquire(FlashActivity activity, Wait policy, DWORD waitMs, FlashLockHolder& holder, DWORD& error,
                   void (*onWait)(const FlashLockHolder&, DWORD waitMs) = nullptr);
    // Gives the machine back (tool processes still running keep it).
    void Release();
    bool Held() const { return m_section.valid(); }

private:
    UniqueHandle m_section;
    UniqueView m_view;
};

// The text of a holder for the logs: "process 1234 (writing firmware)".
const char* DescribeHolder(const FlashLockHolder& holder, char* text, size_t size);
