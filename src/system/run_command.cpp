#include "run_command.h"

#include "win_handle.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

const size_t kCommandChars = 1024;
const DWORD kChunk = 4096;

// Records what failed and answers -1.
int Failed(RunStatus* status, RunStatus what)
{
    if (status)
        *status = what;
    return -1;
}

}  // namespace

const char* runStatusText(RunStatus status)
{
    switch (status) {
    case kRunOk: return "";
    case kRunNoCommand: return "cannot create process.";
    case kRunNoPipe: return "cannot create pipe.";
    case kRunCommandTooLong: return "cannot convert command.";
    case kRunNotStarted: return "cannot create process.";
    case kRunPipeNotClosed: return "cannot close handle.";
    case kRunOutputLost: return "cannot keep the output of command";
    }
    return "";
}

int runCommand(const char* command, std::string& output, RunStatus* status)
{
    return runCommand(nullptr, command, output, status);
}

int runCommand(const wchar_t* application, const char* command, std::string& output, RunStatus* status)
{
    if (status)
        *status = kRunOk;
    if (!command)
        return Failed(status, kRunNoCommand);

    // Both ends inheritable: the child gets the write end as its standard
    // output and standard error.
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = TRUE;
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0))
        return Failed(status, kRunNoPipe);

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdOutput = writeEnd.get();
    si.hStdError = writeEnd.get();
    si.hStdInput = nullptr;

    // CreateProcessW may write into the command line, so it gets a buffer of
    // its own. A text that does not convert, or does not fit with its
    // terminator, is refused rather than started cut short.
    wchar_t commandLine[kCommandChars];
    const size_t converted = mbstowcs(commandLine, command, kCommandChars);
    if (converted == static_cast<size_t>(-1) || converted >= kCommandChars)
        return Failed(status, kRunCommandTooLong);

    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(application, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi))
        return Failed(status, kRunNotStarted);
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);

    // Our copy of the write end must go, or the pipe never reports its end.
    if (!writeEnd.reset())
        return Failed(status, kRunPipeNotClosed);

    // Read to the end before waiting: a child that prints more than the
    // pipe holds would otherwise block against us for ever. When the text
    // cannot be kept (memory exhausted) the pipe is still drained, so the
    // child can finish, and the run counts as failed.
    const size_t before = output.size();
    bool kept = true;
    char chunk[kChunk];
    DWORD read = 0;
    while (ReadFile(readEnd.get(), chunk, kChunk, &read, nullptr) && read > 0) {
        if (!kept)
            continue;
        try {
            output.append(chunk, read);
        } catch (const std::exception&) {
            kept = false;
        }
    }
    readEnd.reset();
    WaitForSingleObject(process.get(), INFINITE);
    if (!kept) {
        output.resize(before);
        return Failed(status, kRunOutputLost);
    }
    return 0;
}
