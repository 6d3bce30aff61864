#include "process_log.h"

#include "cmplog2.h"
#include "unique_resource.h"

#include <windows.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
char g_szDate[100] = "";

UniqueFile OpenForAppend(const char* path, bool& failureReported)
{
    // Text mode: every "\n" of the text lands as "\r\n"; shared with other
    // writers, each write goes to the end.
    UniqueFile file(_fsopen(path, "a+", _SH_DENYNO));
    if (!file && !failureReported) {
        failureReported = true;
        printf("Failed to open log file %s : %s\n", path, strerror(errno));
        fflush(stdout);
    }
    return file;
}

// One line of the files, formatted whole before it is written. The engine
// logs what the vendor tool prints, and a tool that prints megabytes where a
// number belongs must not grow the log by as much: a longer text is cut to
// what fits, and a cut text still ends its line.
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

void AppendToFile(UniqueFile& file, const LogLine& line)
{
    if (line.length != 0)
        fwrite(line.text, 1, line.length, file.get());
}

void AppendToVerboseFile(int flags, const LogLine& line)
{
    UniqueFile file = OpenForAppend(kVerboseFile, g_bVerboseOpenFailReported);
    if (!file)
        return;
    if (!(flags & kLogNoTimeStamp)) {
        char stamp[32];
        const time_t now = time(nullptr);
        const struct tm* utc = gmtime(&now);
        if (utc && strftime(stamp, sizeof stamp, "[%Y-%m-%dT%H:%M:%SZ] ", utc) > 0)
            fputs(stamp, file.get());
    }
    AppendToFile(file, line);
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
    g_pComponentLog->WriteText(mode, CCmpLog2::kPlain, kForwardSource, line, wide);
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
        if (file)
            AppendToFile(file, line);
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
