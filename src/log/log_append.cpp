#include "log_append.h"

namespace {

const DWORD kRetryMs = 5;

OVERLAPPED FarByte()
{
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

}  // namespace

AppendResult AppendWhole(HANDLE file, const char* bytes, size_t length, DWORD waitMs)
{
    if (file == nullptr || file == INVALID_HANDLE_VALUE || !bytes || length == 0)
        return AppendResult::kWritten;
    OVERLAPPED lockAt = FarByte();
    bool locked = false;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lockAt)) {
            locked = true;
            break;
        }
        const DWORD error = GetLastError();
        // A file system without byte locks gets the plain append.
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
            break;
        if (GetTickCount64() - start >= waitMs)
            return AppendResult::kLocked;
        Sleep(kRetryMs);
    }
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr);
    const DWORD error = GetLastError();
    if (locked)
        UnlockFileEx(file, 0, 1, 0, &lockAt);
    if (ok && written == length)
        return AppendResult::kWritten;
    // A whole-file lock taken by another program refuses the write itself.
    return error == ERROR_LOCK_VIOLATION ? AppendResult::kLocked : AppendResult::kFailed;
}

bool AppendNotingLock(HANDLE file, const char* bytes, size_t length, AppendLock& lock)
{
    lock.locked = AppendWhole(file, bytes, length, lock.locked ? 0 : kAppendWaitMs) == AppendResult::kLocked;
    if (!lock.locked || lock.reported)
        return false;
    lock.reported = true;
    return true;
}
