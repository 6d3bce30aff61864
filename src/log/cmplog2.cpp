#include "cmplog2.h"

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

// Appends text at the current end of the file, converted to the ANSI code
// page as one block. Write errors are ignored: the log never stops the caller.
void AppendAnsi(const UniqueHandle& file, const wchar_t* text)
{
    if (!file.valid() || !text || !*text)
        return;
    const int length = static_cast<int>(wcslen(text));
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &ansi[0], bytes, nullptr, nullptr);
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file.get(), ansi.data(), static_cast<DWORD>(ansi.size()), &written, nullptr);
}

bool OpenLogFile(CCmpLog2::LogFile& file)
{
    file.hFile.reset(CreateFileW(file.szPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
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

    if (toMain && m_Main.hFile.valid()) {
        AppendAnsi(m_Main.hFile, MarkerFor(type));
        AppendAnsi(m_Main.hFile, message);
    }
    if (!m_Verbose.hFile.valid())
        return;
    if (verboseHeader) {
        wchar_t time[256] = L"";
        GetTimeString(time, 255);
        const wchar_t* marker = MarkerFor(type);
        wchar_t header[1024];
        _snwprintf(header, 1024, L"[%ls]::%ls[%d] %ls", time, SourceName(source), line, marker);
        header[1023] = L'\0';
        AppendAnsi(m_Verbose.hFile, header);
        AppendAnsi(m_Verbose.hFile, message);
    } else if (verboseContinue) {
        AppendAnsi(m_Verbose.hFile, MarkerFor(type));
        AppendAnsi(m_Verbose.hFile, message);
    }
}
