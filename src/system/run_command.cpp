#include "run_command.h"

#include "process_log.h"
#include "win_handle.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

const size_t kCommandChars = 1024;
const DWORD kChunk = 4096;

}  // namespace

int runCommand(const char* command, std::string& output)
{
    return runCommand(nullptr, command, output);
}

int runCommand(const wchar_t* application, const char* command, std::string& output)
{
    if (!command) {
        LogPrint(kLogVerbose, "cannot create process.\n");
        return -1;
    }

    // Both ends inheritable: the child gets the write end as its standard
    // output and standard error.
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = TRUE;
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0)) {
        LogPrint(kLogVerbose, "cannot create pipe.\n");
        return -1;
    }

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
    if (converted == static_cast<size_t>(-1) || converted >= kCommandChars) {
        LogPrint(kLogVerbose, "cannot convert command.\n");
        return -1;
    }

    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(application, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi)) {
        LogPrint(kLogVerbose, "cannot create process.\n");
        return -1;
    }
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);

    // Our copy of the write end must go, or the pipe never reports its end.
    if (!writeEnd.reset()) {
        LogPrint(kLogVerbose, "cannot close handle.\n");
        return -1;
    }

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
        LogPrint(kLogVerbose, "cannot keep the output of command: %s\n", command);
        return -1;
    }
    return 0;
}
