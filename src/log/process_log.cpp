#include "process_log.h"

#include "cmplog2.h"
#include "log_append.h"
#include "sysinfo.h"
#include "text_util.h"
#include "unique_resource.h"

#include <windows.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <io.h>
#include <string>
#include <share.h>

namespace {

const char kVerboseFile[] = "\\tzrsystem\\log\\Verbose.log";
const wchar_t kForwardSource[] = L"..\\..\\os_common\\src\\log";
const int kForwardLineVerbose = 157;
const int kForwardLineMain = 172;

CCmpLog2* g_pComponentLog = nullptr;
int g_nVerboseLevel = 0;
char g_szNamedFile[512] = "";
bool g_bVerboseOpenFailReported = false;
bool g_bNamedOpenFailReported = false;
bool g_bFallbackReported = false;
char g_szDate[100] = "";

// Binary: the text-mode line ends are made here, so that a line, its stamp
// and its line end go out in one write. Shared with other writers.
UniqueFile OpenForAppend(const char* path, bool& failureReported)
{
    UniqueFile file(_fsopen(path, "ab", _SH_DENYNO));
    if (!file && !failureReported) {
        failureReported = true;
        PrintNote("Failed to open log file %s : %s\n", path, strerror(errno));
    }
    return file;
}

// Where the engine's record goes when the verbose file cannot be opened where
// it belongs (a package on a drive without that folder, a folder that cannot
// be made): beside the component log, else in the temporary folder. The
// component log says once where it went.
UniqueFile OpenFallback()
{
    wchar_t folder[MAX_PATH] = L"";
    if (g_pComponentLog && g_pComponentLog->Folder()[0]) {
        BoundedCopy(folder, MAX_PATH, g_pComponentLog->Folder());
    } else {
        const DWORD n = ExpandEnvironmentStringsW(L"%systemdrive%\\tzrsystem\\log\\", folder, MAX_PATH);
        if (n == 0 || n > MAX_PATH)
            folder[0] = L'\0';
    }
    wchar_t temp[MAX_PATH] = L"";
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n > 0 && n < MAX_PATH)
        BoundedAppend(temp, MAX_PATH, L"tzrsystem\\log\\");
    else
        temp[0] = L'\0';
    for (const wchar_t* candidate : {static_cast<const wchar_t*>(folder), static_cast<const wchar_t*>(temp)}) {
        if (!candidate[0])
            continue;
        wchar_t path[MAX_PATH];
        BoundedCopy(path, MAX_PATH, candidate);
        CreateDirectoryPath(path);
        BoundedAppend(path, MAX_PATH, L"Verbose.log");
        UniqueFile file(_wfsopen(path, L"ab", _SH_DENYNO));
        if (!file)
            continue;
        if (!g_bFallbackReported && g_pComponentLog) {
            g_bFallbackReported = true;
            wchar_t note[2 * MAX_PATH];
            _snwprintf(note, 2 * MAX_PATH, L"The engine's log cannot be written to %hs; it goes to %ls\r\n",
                       kVerboseFile, path);
            note[2 * MAX_PATH - 1] = L'\0';
            try {
                g_pComponentLog->WriteText(CCmpLog2::kBothHeader, CCmpLog2::kWarning, kForwardSource,
                                           kForwardLineMain, note);
            } catch (const std::exception&) {
            }
        }
        return file;
    }
    return UniqueFile();
}

struct LogLine {
    char text[kLogLineBytes];
    size_t length = 0;
};

void FormatLine(LogLine& line, const char* format, va_list args)
{
    const int n = vsnprintf(line.text, sizeof line.text, format, args);
    if (n < 0) {
        line.length = 0;
        return;
    }
    if (static_cast<size_t>(n) < sizeof line.text) {
        line.length = static_cast<size_t>(n);
        return;
    }
    line.length = sizeof line.text - 1;
    line.text[line.length - 1] = '\n';
}

// A line as it goes to a file: the optional stamp, then the text with every
// "\n" landing as "\r\n", as text mode would write it. Fixed size, so that
// logging never allocates (and never throws).
struct FileLine {
    char bytes[64 + 2 * kLogLineBytes];
    size_t length = 0;

    void Add(const char* text) {
        while (*text && length < sizeof bytes)
            bytes[length++] = *text++;
    }
    void AddLine(const LogLine& line)
    {
        for (size_t i = 0; i < line.length; ++i) {
            if (line.text[i] == '\n')
                bytes[length++] = '\r';
            bytes[length++] = line.text[i];
        }
    }
};

AppendLock g_verboseLock;
AppendLock g_namedLock;

// Writes the bytes at the end of the file in one piece.
void AppendBytes(UniqueFile& file, const FileLine& line, AppendLock& lock, const char* path)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
    if (AppendNotingLock(handle, line.bytes, line.length, lock))
        PrintNote("Log file %s is locked by another process; its lines are dropped\n", path);
}

void AppendToVerboseFile(int flags, const LogLine& line)
{
    UniqueFile file = OpenForAppend(kVerboseFile, g_bVerboseOpenFailReported);
    if (!file)
        file = OpenFallback();
    if (!file || line.length == 0)
        return;
    FileLine out;
    if (!(flags & kLogNoTimeStamp)) {
        // The time and the process: hosts running at once share the file.
        char stamp[64];
        const time_t now = time(nullptr);
        const struct tm* utc = gmtime(&now);
        if (utc && strftime(stamp, sizeof stamp, "[%Y-%m-%dT%H:%M:%SZ] ", utc) > 0)
            out.Add(stamp);
        snprintf(stamp, sizeof stamp, "[%lu] ", static_cast<unsigned long>(GetCurrentProcessId()));
        out.Add(stamp);
    }
    out.AddLine(line);
    AppendBytes(file, out, g_verboseLock, kVerboseFile);
}

// Formats the text afresh (at most 1023 bytes, a longer text is cut), widens
// it with the runtime's multibyte conversion and hands it to the component
// log as the message itself.
void ForwardToComponentLog(unsigned mode, int line, const char* format, va_list args)
{
    char text[1024];
    const int n = vsnprintf(text, sizeof text, format, args);
    if (n < 0)
        return;
    wchar_t wide[1024];
    const size_t converted = mbstowcs(wide, text, 1024);
    if (converted == static_cast<size_t>(-1))
        return;
    wide[converted < 1024 ? converted : 1023] = L'\0';
    // The process log never fails towards its caller: an entry the
    // component log cannot take (memory exhausted) is dropped.
    try {
        g_pComponentLog->WriteText(mode, CCmpLog2::kPlain, kForwardSource, line, wide);
    } catch (const std::exception&) {
    }
}

}  // namespace

void LogPrint(int flags, const char* format, ...)
{
    if (!format)
        return;
    va_list args;
    if ((flags & (kLogComponentVerbose | kLogAll)) && g_pComponentLog) {
        va_start(args, format);
        ForwardToComponentLog(CCmpLog2::kVerboseHeader, kForwardLineVerbose, format, args);
        va_end(args);
    }
    if ((flags & (kLogComponentMain | kLogAll)) && g_pComponentLog) {
        va_start(args, format);
        ForwardToComponentLog(CCmpLog2::kMainOnly, kForwardLineMain, format, args);
        va_end(args);
    }
    const bool toVerbose = (flags & (kLogVerbose | kLogAll)) != 0;
    const bool toVerboseAgain = (flags & kLogVerboseLevel1) && g_nVerboseLevel == 1;
    const bool toNamed = (flags & kLogNamedFile) != 0;
    if (!toVerbose && !toVerboseAgain && !toNamed)
        return;
    LogLine line;
    va_start(args, format);
    FormatLine(line, format, args);
    va_end(args);
    if (toVerbose)
        AppendToVerboseFile(flags, line);
    if (toVerboseAgain)
        AppendToVerboseFile(flags, line);
    if (toNamed) {
        UniqueFile file = OpenForAppend(g_szNamedFile, g_bNamedOpenFailReported);
        if (file && line.length != 0) {
            FileLine out;
            out.AddLine(line);
            AppendBytes(file, out, g_namedLock, g_szNamedFile);
        }
    }
}

void LogSetComponentLog(CCmpLog2* log)
{
    g_pComponentLog = log;
}

void LogSetVerboseLevel(int level)
{
    g_nVerboseLevel = level;
}

int LogGetVerboseLevel()
{
    return g_nVerboseLevel;
}

void LogSetFileName(const char* path)
{
    if (!path) {
        g_szNamedFile[0] = '\0';
        return;
    }
    strncpy(g_szNamedFile, path, sizeof g_szNamedFile - 1);
    g_szNamedFile[sizeof g_szNamedFile - 1] = '\0';
}

const char* LogGetFileName()
{
    return g_szNamedFile;
}

const char* LogDateString()
{
    const time_t now = time(nullptr);
    const struct tm* local = localtime(&now);
    g_szDate[0] = '\0';
    if (local)
        strftime(g_szDate, sizeof g_szDate, "%d %b %Y - %X", local);
    return g_szDate;
}

const char* LogVerboseFilePath()
{
    return kVerboseFile;
}
