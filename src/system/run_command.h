// Runs one command line hidden and captures everything it prints. The flash
// engine learns about the controllers, and flashes them, only through the
// vendor tool's output, so this is the one place that starts such a process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What a run keeps of its output: far more than any answer of the tool, far
// less than a tool that prints without end would cost.
constexpr size_t kRunKeepHead = 1024 * 1024;
constexpr size_t kRunKeepTail = 64 * 1024;

// What became of a run. The runner writes no log of its own (it sits below
// the logs); its callers tell what failed with runStatusText.
enum RunStatus {
    kRunOk = 0,
    kRunNoCommand,        // no command line given
    kRunNoPipe,           // the output pipe could not be made
    kRunCommandTooLong,   // the text does not convert or does not fit 1023 characters
    kRunNotStarted,       // CreateProcess failed, or the handle list for it could not be made
    kRunPipeNotClosed,    // our copy of the pipe's write end would not close
    kRunOutputLost,       // the output could not be kept (memory exhausted)
};

// The process-log text of a failed run, without its line end; for
// kRunOutputLost it is followed by ": " and the command.
const char* runStatusText(RunStatus status);

// What a run hands the child beyond its command line.
struct RunExtras {
    // The program to start by its full path; null: the one Windows' search
    // finds for the command line's first word.
    const wchar_t* application = nullptr;
    // Inheritable handles the child gets besides the write end of its
    // output; it gets no other handle of ours.
    std::vector<HANDLE> inherit;
    // Called with the child's process id once it runs, before its output is
    // read.
    void (*started)(DWORD processId) = nullptr;
};

// Runs command (the whole command line in the ANSI code page, at most 1023
// characters once in UTF-16) with the caller's environment and current
// directory; the command line, the program's argument 0 included, stays as
// given. The child inherits only the write end of its output and the handles
// extras names, so a host that dies leaves it a broken pipe, never a full
// one that nobody reads. Standard output and standard error share one pipe,
// so their texts arrive interleaved as the child wrote them; every byte is
// appended to output. The exit code is not looked at.
//
// Reading ends when the process has ended and the pipe holds nothing more,
// also when a process it started still holds the pipe. Of the output, the
// first kRunKeepHead and the last kRunKeepTail bytes are kept (joined); the
// number of bytes between them that were dropped goes to cutBytes.
//
// Returns 0 when the process ran and its output was read to the end, -1 when
// it could not be started or its output could not be kept; status, when
// given, says which. Never throws.
int runCommand(const char* command, std::string& output, const RunExtras& extras, RunStatus* status = nullptr,
               unsigned long long* cutBytes = nullptr);
// The same with Windows' search.
int runCommand(const char* command, std::string& output, RunStatus* status = nullptr);
