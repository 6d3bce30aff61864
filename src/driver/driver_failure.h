// The reason the last driver operation failed.
//
// The driver layer writes no log: its callers decide what the user reads.
// So a step that gives up records here what it gave up on — the Windows
// call and the error it set, or the input it refused — and the framework
// writes that as one line when the operation answers failure. The first
// reason recorded after Reset is kept: what fails later in the same
// operation (a clean-up, a step that goes on regardless) is a consequence,
// not the cause. Process-wide, and touched only from the host's one calling
// thread, like the driver API table.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driverfail {

// Forgets the reason an earlier operation left.
void Reset();

// Records "<call> failed: error 0x%08X (<system's text>)" with the thread's
// last error as it is on entry. Always returns 0, so a failing step can
// answer `return driverfail::Call(...)`.
int Call(const std::wstring& call);
// The same with an error the caller holds (a registry call's result).
int CallError(const std::wstring& call, DWORD error);
// A call's own failure, recorded by the driver API wrapper: kept only while
// nothing else is, and replaced by the first reason a caller records.
void Provisional(const std::wstring& call, DWORD error);
// Records a refusal of input, said in full ("file name NUL ... refused").
int Refused(const std::wstring& what);

// "<call> failed: error 0x%08X (<system's text>)", the one form every
// failed call is told in, as a reason or as a line beside it.
std::wstring CallReason(const std::wstring& call, DWORD error);

// While one lives, nothing becomes the reason: what fails while a failed
// operation is taken back is said beside its cause (Note), never instead.
class KeepReason {
public:
    KeepReason();
    ~KeepReason();
    KeepReason(const KeepReason&) = delete;
    KeepReason& operator=(const KeepReason&) = delete;
};

// Adds a line said after the reason: what was done about the failure (a
// step taken back). Kept in order until Reset.
void Note(const std::wstring& line);

bool Held();
// The verbose-log line of the reason held, "    - ...\r\n"; empty if none.
std::wstring Line();
// The noted lines, in order, without their line ends.
const std::vector<std::wstring>& Notes();

// The system's text for an error: SetupAPI's own errors by name, any other
// from the system's message table, without its closing full stop; empty
// when neither knows the code.
std::wstring ErrorText(DWORD error);

}  // namespace driverfail
