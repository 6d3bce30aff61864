#include "run_command.h"

#include "win_handle.h"

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <new>

namespace {

const size_t kCommandChars = 1024;
const DWORD kChunk = 65536;
// How long the reader sleeps on an empty pipe before it looks again whether
// the child has ended.
const DWORD kPollMs = 10;

// Keeps the first kRunKeepHead bytes of a run's output and its last
// kRunKeepTail, and counts what lies between.
class OutputKeeper {
public:
    explicit OutputKeeper(std::string& output) : m_output(output), m_start(output.size()) {}

    void Add(const char* bytes, size_t count)
    {
        if (!m_kept)
            return;
        try {
            const size_t head = m_output.size() - m_start;
            if (head < kRunKeepHead) {
                const size_t take = count < kRunKeepHead - head ? count : kRunKeepHead - head;
                m_output.append(bytes, take);
                bytes += take;
                count -= take;
            }
            if (count == 0)
                return;
            m_tail.append(bytes, count);
            if (m_tail.size() > 2 * kRunKeepTail) {
                const size_t drop = m_tail.size() - kRunKeepTail;
                m_cut += drop;
                m_tail.erase(0, drop);
            }
        } catch (const std::exception&) {
            m_kept = false;
        }
    }

    // Puts the tail after the head; false when the output could not be kept.
    bool Finish()
    {
        if (!m_kept)
            return false;
        if (m_tail.size() > kRunKeepTail) {
            m_cut += m_tail.size() - kRunKeepTail;
            m_tail.erase(0, m_tail.size() - kRunKeepTail);
        }
        try {
            m_output.append(m_tail);
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }

    unsigned long long Cut() const { return m_cut; }

private:
    std::string& m_output;
    const size_t m_start;
    std::string m_tail;
    unsigned long long m_cut = 0;
    bool m_kept = true;
};

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

int runCommand(const wchar_t* application, const char* command, std::string& output, RunStatus* status,
               unsigned long long* cutBytes)
{
    if (cutBytes)
        *cutBytes = 0;
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

    // Read while the child runs, and stop once it has ended and the pipe
    // holds nothing more: a process it left behind holding the pipe does not
    // hold us. What is kept is bounded (the head and the tail, where every
    // answer of the tool stands); the rest is counted. When the text cannot
    // be kept (memory exhausted) the pipe is still drained, so the child can
    // finish, and the run counts as failed.
    const size_t before = output.size();
    OutputKeeper keeper(output);
    char chunk[kChunk];
    bool ended = false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr))
            break;  // every writer has closed its end
        if (available > 0) {
            DWORD read = 0;
            if (!ReadFile(readEnd.get(), chunk, available < kChunk ? available : kChunk, &read, nullptr) || read == 0)
                break;
            keeper.Add(chunk, read);
            continue;
        }
        if (ended)
            break;
        ended = WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0;
    }
    readEnd.reset();
    WaitForSingleObject(process.get(), INFINITE);
    if (!keeper.Finish()) {
        output.resize(before);
        return Failed(status, kRunOutputLost);
    }
    if (cutBytes)
        *cutBytes = keeper.Cut();
    return 0;
}
