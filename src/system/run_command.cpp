#include "run_command.h"

#include "win_handle.h"

#include <windows.h>

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

// The attribute list that limits what a child inherits to the handles
// named.
class InheritOnly {
public:
    explicit InheritOnly(const std::vector<HANDLE>& handles) : m_handles(handles)
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        m_list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data());
        if (size == 0 || !InitializeProcThreadAttributeList(m_list, 1, 0, &size)) {
            m_list = nullptr;
            return;
        }
        if (!UpdateProcThreadAttribute(m_list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                       m_handles.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(m_list);
            m_list = nullptr;
        }
    }
    ~InheritOnly()
    {
        if (m_list)
            DeleteProcThreadAttributeList(m_list);
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return m_list; }

private:
    std::vector<HANDLE> m_handles;  // the list points into it
    std::vector<unsigned char> m_buffer;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

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
    return runCommand(command, output, RunExtras(), status);
}

int runCommand(const char* command, std::string& output, const RunExtras& extras, RunStatus* status,
               unsigned long long* cutBytes)
{
    if (cutBytes)
        *cutBytes = 0;
    if (status)
        *status = kRunOk;
    if (!command)
        return Failed(status, kRunNoCommand);

    // Neither end is inheritable as made: only the write end is handed to
    // the child, through the handle list, so the read end dies with us.
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), nullptr, 0) ||
        !SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        return Failed(status, kRunNoPipe);

    STARTUPINFOEXW si;
    ZeroMemory(&si, sizeof si);
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.StartupInfo.wShowWindow = SW_HIDE;
    si.StartupInfo.hStdOutput = writeEnd.get();
    si.StartupInfo.hStdError = writeEnd.get();
    si.StartupInfo.hStdInput = nullptr;

    std::vector<HANDLE> handles(1, writeEnd.get());
    handles.insert(handles.end(), extras.inherit.begin(), extras.inherit.end());
    const InheritOnly inheritOnly(handles);
    if (!inheritOnly.get())
        return Failed(status, kRunNotStarted);
    si.lpAttributeList = inheritOnly.get();

    // CreateProcessW may write into the command line, so it gets a buffer of
    // its own. The text is the code page's, as the engine built it: a text
    // that does not convert, or does not fit with its terminator, is refused
    // rather than started cut short.
    wchar_t commandLine[kCommandChars];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, command, -1, commandLine, kCommandChars) == 0)
        return Failed(status, kRunCommandTooLong);

    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(extras.application, commandLine, nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &si.StartupInfo, &pi))
        return Failed(status, kRunNotStarted);
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    if (extras.started)
        extras.started(pi.dwProcessId);

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
