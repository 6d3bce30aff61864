#include "flash_lock.h"

#include <cstdio>

namespace {

const DWORD kPollMs = 100;

// The record at the start of the section. Written by the holder only, read
// by anyone; each field is one aligned 32-bit word.
struct LockRecord {
    volatile LONG processId;
    volatile LONG activity;
};

FlashLockHolder ReadHolder(HANDLE section)
{
    FlashLockHolder holder;
    UniqueView view(MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(LockRecord)));
    if (!view)
        return holder;
    const LockRecord* record = static_cast<const LockRecord*>(view.get());
    holder.processId = static_cast<DWORD>(record->processId);
    holder.activity = static_cast<FlashActivity>(record->activity);
    if (holder.processId != 0) {
        UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, holder.processId));
        holder.processEnded = !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
    }
    return holder;
}

}  // namespace

const wchar_t MachineFlashLock::kName[] = L"Global\\TZR.NVMeBootController.FirmwareWrite";

MachineFlashLock::Result MachineFlashLock::Acquire(FlashActivity activity, Wait policy, DWORD waitMs,
                                                   FlashLockHolder& holder, DWORD& error,
                                                   void (*onWait)(const FlashLockHolder&, DWORD))
{
    Release();
    error = 0;
    holder = FlashLockHolder();
    // Inheritable: the tool processes started under the lock hold it too.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const ULONGLONG start = GetTickCount64();
    unsigned polls = 0;
    for (;;) {
        SetLastError(0);
        UniqueHandle section(
            CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, sizeof(LockRecord), kName));
        const DWORD created = GetLastError();
        if (!section) {
            error = created;
            return Result::kFailed;
        }
        if (created != ERROR_ALREADY_EXISTS) {
            // Ours: the kernel made the object for this call alone.
            m_view.reset(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, sizeof(LockRecord)));
            if (m_view) {
                LockRecord* record = static_cast<LockRecord*>(m_view.get());
                InterlockedExchange(&record->activity, static_cast<LONG>(activity));
                InterlockedExchange(&record->processId, static_cast<LONG>(GetCurrentProcessId()));
            }
            m_section = std::move(section);
            return Result::kAcquired;
        }
        holder = ReadHolder(section.get());
        section.reset();
        const bool mayWait = policy == Wait::kForAny || holder.activity == FlashActivity::kInventory;
        if (!mayWait || GetTickCount64() - start >= waitMs)
            return Result::kBusy;
        // A holder that is gone by the next look was only handing over (a
        // tool of ours still closing its handles): not a wait worth a line.
        if (polls == 1 && onWait)
            onWait(holder, waitMs);
        ++polls;
        Sleep(kPollMs);
    }
}

void MachineFlashLock::Release()
{
    m_view.reset();
    m_section.reset();
}

const char* DescribeHolder(const FlashLockHolder& holder, char* text, size_t size)
{
    const char* what = holder.activity == FlashActivity::kFlash       ? "writing firmware"
                       : holder.activity == FlashActivity::kInventory ? "querying the controllers"
                                                                      : "starting";
    if (holder.processId == 0)
        snprintf(text, size, "a process not known");
    else if (holder.processEnded)
        snprintf(text, size, "process %lu (%s), which has ended while its tool still runs",
                 static_cast<unsigned long>(holder.processId), what);
    else
        snprintf(text, size, "process %lu (%s)", static_cast<unsigned long>(holder.processId), what);
    return text;
}
