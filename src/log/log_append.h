// One append to a log file that many processes write at once: the bytes land
// whole at the end of the file, and a file that another program keeps locked
// (backup and log-shipping agents lock whole files) costs a bounded wait, not
// a hung installation.
#pragma once

#include <windows.h>

#include <cstddef>

enum class AppendResult {
    kWritten,
    kLocked,  // another process kept the file locked past the wait; nothing written
    kFailed,  // the write itself failed
};

// How long one append waits for another process's lock on the file.
constexpr DWORD kAppendWaitMs = 1000;

// Moves to the end of file and writes the bytes with one WriteFile, under an
// exclusive lock on one byte far beyond any log data (readers of the text
// are never blocked). Windows already puts each write of an append handle at
// the end; Wine does not hold to that between processes, so every writer of
// our logs takes the same lock. Waits at most waitMs for it.
AppendResult AppendWhole(HANDLE file, const char* bytes, size_t length, DWORD waitMs = kAppendWaitMs);

// What a writer remembers of another program's lock on one log file.
struct AppendLock {
    bool locked = false;    // the last write found it locked
    bool reported = false;  // standard output has been told so
};

// AppendWhole for a file another program may keep locked: once a write found
// it locked, the next ones do not wait until one gets through. True for the
// first write that found it locked: the caller says so once.
bool AppendNotingLock(HANDLE file, const char* bytes, size_t length, AppendLock& lock);
