#include "cmplog2.h"

#include "log_append.h"
#include "sysinfo.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kVerboseEnvVar[] = L"CMPLOG2_VERBOSE_FILENAME";

const wchar_t* MarkerFor(int type)
{
    switch (type) {
    case CCmpLog2::kWarning: return L"**WARNING** - ";
    case CCmpLog2::kError: return L"**ERROR** - ";
    case CCmpLog2::kCritical: return L"**CRITICAL** - ";
    default: return L"";
    }
}

// The file-name part of a source path: name and extension, no drive or folders.
const wchar_t* SourceName(const wchar_t* source)
{
    if (!source)
        return L"";
    const wchar_t* name = source;
    for (const wchar_t* p = source; *p; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':')
            name = p + 1;
    }
    return name;
}

// The ANSI bytes of the first length units of text.
int AnsiBytes(const wchar_t* text, size_t length)
{
    return length == 0 ? 0
                       : WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
}

// How many leading units of text convert to at most budget ANSI bytes,
// never ending between the two halves of a surrogate pair.
size_t UnitsWithin(const wchar_t* text, size_t length, size_t budget)
{
    size_t units = length < budget ? length : budget;
    for (;;) {
        if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF)
            --units;
        const int bytes = AnsiBytes(text, units);
        if (units == 0 || (bytes >= 0 && static_cast<size_t>(bytes) <= budget))
            return units;
        // A unit gives at most three bytes (UTF-8 as the ANSI code page; a
        // double-byte code page gives two): dropping a third of the excess,
        // rounded up, never drops a unit that fits.
        const size_t drop = (static_cast<size_t>(bytes) - budget + 2) / 3;
        units = drop < units ? units - drop : 0;
    }
}

// Appends text at the end of the file, converted to the ANSI code page as
// one block and cut to the bound of a line; a cut text keeps the line end it
// had. The whole entry goes out in one write, so entries of hosts writing the
// same log at once never mix inside a line. Write errors are ignored: the log
// never stops the caller (a locked file: AppendNotingLock).
void AppendAnsi(CCmpLog2::LogFile& file, const wchar_t* text)
{
    if (!file.hFile.valid() || !text || !*text)
        return;
    size_t length = wcslen(text);
    std::wstring cut;
    const int whole = AnsiBytes(text, length);
    if (whole > 0 && static_cast<size_t>(whole) > CCmpLog2::kLineBytes) {
        size_t ending = 0;
        while (ending < 2 && ending < length && (text[length - 1 - ending] == L'\n' || text[length - 1 - ending] == L'\r'))
            ++ending;
        const size_t kept = UnitsWithin(text, length - ending, CCmpLog2::kLineBytes - ending);
        cut.assign(text, kept);
        cut.append(text + length - ending, ending);
        text = cut.c_str();
        length = cut.size();
    }
    const int bytes = AnsiBytes(text, length);
    if (bytes <= 0)
        return;
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &ansi[0], bytes, nullptr, nullptr);
    if (AppendNotingLock(file.hFile.get(), ansi.data(), ansi.size(), file.lock))
        PrintNote("Log file %ls is locked by another process; its lines are dropped\n", file.szPath);
}

// An entry's header and its continuation ("... " and "Done.") leave in one
// write: hosts writing the same log at once never put a line of theirs
// between the two. A text without a line end waits for the rest of its line.
void AppendEntry(CCmpLog2::LogFile& file, const std::wstring& text)
{
    file.sPending += text;
    if (file.sPending.empty() || file.sPending.back() != L'\n')
        return;
    AppendAnsi(file, file.sPending.c_str());
    file.sPending.clear();
}

bool OpenLogFile(CCmpLog2::LogFile& file)
{
    // Append access without write access: Windows puts every write at the
    // end of the file, so hosts writing at once never overwrite each other.
    file.hFile.reset(CreateFileW(file.szPath, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.hFile.valid();
}

// Formats into a buffer that starts at 1024 characters and grows until the
// whole message fits. A format that cannot be applied at all gives no text.
bool FormatMessageText(std::vector<wchar_t>& buffer, const wchar_t* format, va_list args)
{
    const size_t kLimit = size_t(1) << 26;
    for (size_t size = 1024; size <= kLimit; size *= 2) {
        buffer.assign(size, L'\0');
        va_list copy;
        va_copy(copy, args);
        const int n = vswprintf(buffer.data(), size, format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < size)
            return true;
    }
    return false;
}

}  // namespace

CCmpLog2::CCmpLog2()
{
    // Expanded in full first, then cut to the array: a system drive variable
    // longer than a path gives a cut folder, never a partial expansion.
    std::vector<wchar_t> expanded(32768, L'\0');
    const DWORD n = ExpandEnvironmentStringsW(L"%systemdrive%\\tzrsystem\\log\\", expanded.data(),
                                              static_cast<DWORD>(expanded.size()));
    if (n > 0 && n <= expanded.size())
        BoundedCopy(m_szFolder, kPathChars, expanded.data());

    BoundedCopy(m_Main.szPath, kPathChars, m_szFolder);
    BoundedAppend(m_Main.szPath, kPathChars, L"tzrsetup.log");

    wchar_t fromEnv[kPathChars] = L"";
    const DWORD len = GetEnvironmentVariableW(kVerboseEnvVar, fromEnv, kPathChars);
    if (len > 0 && len < kPathChars) {
        BoundedCopy(m_Verbose.szPath, kPathChars, fromEnv);
        m_bVerbose = 1;
    } else {
        // Unset, or longer than a path can be: the default verbose file.
        BoundedCopy(m_Verbose.szPath, kPathChars, m_szFolder);
        BoundedAppend(m_Verbose.szPath, kPathChars, L"tzrsetup.verbose.log");
    }
}

CCmpLog2::~CCmpLog2()
{
    Close();
}

BOOL CCmpLog2::SetVerboseFileName(const wchar_t* name)
{
    m_bVerbose = 1;
    BoundedCopy(m_Verbose.szPath, kPathChars, m_szFolder);
    BoundedAppend(m_Verbose.szPath, kPathChars, name ? name : L"");
    return SetEnvironmentVariableW(kVerboseEnvVar, m_Verbose.szPath);
}

void CCmpLog2::EnableVerbose()
{
    if (m_Verbose.szPath[0])
        m_bVerbose = 1;
}

int CCmpLog2::IsVerbose()
{
    return m_bVerbose;
}

unsigned CCmpLog2::Open()
{
    CreateDirectoryPath(m_szFolder);
    if (m_Main.szPath[0] && !OpenLogFile(m_Main))
        return kOpenFailed;
    if (m_bVerbose == 1 && m_Verbose.szPath[0] && !OpenLogFile(m_Verbose))
        return kOpenFailed;
    return 0;
}

void CCmpLog2::Close()
{
    // A line left open still goes out, as far as it got.
    for (LogFile* file : {&m_Main, &m_Verbose}) {
        AppendAnsi(*file, file->sPending.c_str());
        file->sPending.clear();
    }
    m_Main.hFile.reset();
    m_Verbose.hFile.reset();
}

void CCmpLog2::Write(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteV(mode, type, source, line, format, args);
    va_end(args);
}

void CCmpLog2::WriteV(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* format,
                      va_list args)
{
    if (mode > kBothContinue || !format)
        return;
    // A line for the verbose file only is not even formatted when that file
    // is not open.
    if ((mode == kVerboseHeader || mode == kVerboseContinue) && !m_Verbose.hFile.valid())
        return;
    std::vector<wchar_t> message;
    if (!FormatMessageText(message, format, args))
        return;
    WriteEntry(mode, type, source, line, message.data());
}

void CCmpLog2::WriteText(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* text)
{
    if (mode > kBothContinue || !text)
        return;
    WriteEntry(mode, type, source, line, text);
}

void CCmpLog2::WriteEntry(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* message)
{
    const bool toMain = mode == kMainOnly || mode == kBothHeader || mode == kBothContinue;
    const bool verboseHeader = mode == kVerboseHeader || mode == kBothHeader;
    const bool verboseContinue = mode == kVerboseContinue || mode == kBothContinue;
    const wchar_t* marker = MarkerFor(type);

    if (toMain && m_Main.hFile.valid())
        AppendEntry(m_Main, std::wstring(marker) + message);
    if (!m_Verbose.hFile.valid())
        return;
    if (verboseHeader) {
        wchar_t time[256] = L"";
        GetTimeString(time, 255);
        wchar_t header[1024];
        _snwprintf(header, 1024, L"[%ls]::%ls[%d] %ls", time, SourceName(source), line, marker);
        header[1023] = L'\0';
        AppendEntry(m_Verbose, std::wstring(header) + message);
    } else if (verboseContinue) {
        AppendEntry(m_Verbose, std::wstring(marker) + message);
    }
}
