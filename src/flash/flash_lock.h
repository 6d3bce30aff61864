// One firmware write at a time per machine, whoever started it.
//
// The lock is a named section object: it exists exactly as long as some
// process holds a handle to it. The holder hands its handle to every
// vendor-tool process it starts, so a tool whose host was killed keeps the
// machine until the tool itself ends, and a rerun cannot start another write
// beside it. The section carries a small record of who holds it, what for and
// which tool runs, so a waiting or refused installation can say whom it waits
// for, and can tell a holder of ours from what merely keeps the name: an
// event, mutex or foreign section made under it is refused at once, never
// waited for; our section kept open without a holder (a process a tool left
// behind, or one that opened it) is waited for within the bound like a
// holder, and then named as what it is.
//
// Where the system offers private namespaces the section lives in one whose
// boundary is the Administrators group, so a standard user cannot take its
// name; elsewhere it keeps its public name in the global namespace.
#pragma once

#include "win_handle.h"

#include <windows.h>

#include <string>
#include <vector>

enum class FlashActivity : DWORD {
    kNone = 0,       // given back
    kInventory = 1,  // querying the controllers
    kFlash = 2,      // writing firmware
};

// What the holder wrote about itself; processId 0 when not known.
struct FlashLockHolder {
    DWORD processId = 0;
    FlashActivity activity = FlashActivity::kNone;
    bool processEnded = false;  // the holder is gone; a tool it started still runs
};

// The private-namespace calls, one table so a test can stand in for a
// system that has them (Wine has none: CreateBoundaryDescriptorW answers
// NULL, and AddSIDToBoundaryDescriptor would end the process).
struct LockNamespaceApi {
    HANDLE(WINAPI* createBoundaryDescriptor)(LPCWSTR name, ULONG flags);
    BOOL(WINAPI* addSidToBoundaryDescriptor)(HANDLE* boundary, PSID sid);
    void(WINAPI* deleteBoundaryDescriptor)(HANDLE boundary);
    HANDLE(WINAPI* createPrivateNamespace)(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR alias);
    HANDLE(WINAPI* openPrivateNamespace)(LPVOID boundary, LPCWSTR alias);
};
extern LockNamespaceApi g_lockNamespaceApi;

class MachineFlashLock {
public:
    enum class Wait {
        kForAny,        // wait for every other holder, up to the bound
        kForInventory,  // wait only while the holder is querying; a write refuses at once
    };
    enum class Result {
        kAcquired,
        kBusy,    // another installation holds the machine (holder says who)
        kFailed,  // the lock cannot be made or its name is kept by another (reason says what)
    };

    static const wchar_t kPublicName[];
    // The name the lock goes by in this process: in the private namespace
    // when it could be made, else the public one (the first call decides
    // and logs why).
    static const std::wstring& Name();

    MachineFlashLock() = default;
    ~MachineFlashLock() { Relinquish(); }
    MachineFlashLock(const MachineFlashLock&) = delete;
    MachineFlashLock& operator=(const MachineFlashLock&) = delete;

    // Takes the machine for activity, waiting as policy says for at most
    // waitMs. onWait, when given, is called once when a wait lasts beyond
    // the first look again. A failure's reason names what holds the name and
    // the system's error.
    Result Acquire(FlashActivity activity, Wait policy, DWORD waitMs, FlashLockHolder& holder, std::string& reason,
                   void (*onWait)(const FlashLockHolder&, DWORD waitMs) = nullptr);
    // Notes the vendor tool now running under the lock, so that whoever
    // finds the lock after this host died knows what keeps it.
    void SetTool(DWORD processId);
    // Gives the machine back (tool processes still running keep it).
    void Relinquish();
    bool Held() const { return m_section.valid(); }
    // What a tool started under the lock must inherit to keep it.
    std::vector<HANDLE> HandlesToInherit() const;

private:
    UniqueHandle m_section;
    UniqueView m_view;
};

// The text of a holder for the logs: "process 1234 (writing firmware)".
const char* DescribeHolder(const FlashLockHolder& holder, char* text, size_t size);

// Forgets the name this process chose, so a test can choose again with
// another namespace table.
void ResetLockNameForTest();
