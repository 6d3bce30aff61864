// Helpers shared by the unit and end-to-end tests: files, Windows paths of
// the build's programs, child processes with captured output, time stamps.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace tzrtest {

std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Removes a folder and everything in it; missing is fine.
void RemoveTree(const std::wstring& path);
void MakeDirs(const std::wstring& path);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);  // to UTF-8
// The bytes of a UTF-16LE file with its byte-order mark.
std::string Utf16LeFile(const std::string& utf8);

// A Linux path as Wine shows it, on Z:; any other path as it is.
std::wstring WindowsPath(std::wstring path);
// The build folder (TZR_BUILD_DIR, a Linux path) as a Windows path on Z:.
std::wstring BuildDir();
std::wstring BuildFile(const std::wstring& relative);  // e.g. L"tools\\host\\tzrhost.exe"

struct ProcessResult {
    DWORD exitCode = 0;
    std::string output;  // standard output and standard error, interleaved
    bool started = false;
    DWORD startError = 0;  // GetLastError when the process did not start
};

// Runs a command line with the given current directory, capturing its output.
// env entries are set for the child only (an empty value removes the variable).
ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& currentDir,
                         const std::map<std::wstring, std::wstring>& env = {});

// Quotes an argument the way CommandLineToArgvW reads it back.
std::wstring QuoteArg(const std::wstring& arg);

// Points %systemdrive% at a fresh folder of the test's own (under the
// current directory) for its lifetime, so component logs land there; the
// previous value comes back and the folder goes at the end.
class ScopedSystemDrive {
public:
    explicit ScopedSystemDrive(const std::wstring& name);
    ~ScopedSystemDrive();
    ScopedSystemDrive(const ScopedSystemDrive&) = delete;
    ScopedSystemDrive& operator=(const ScopedSystemDrive&) = delete;
    const std::wstring& Path() const { return m_path; }
    // The component log folder under it, ending in a backslash.
    std::wstring LogFolder() const { return m_path + L"\\tzrsystem\\log\\"; }

private:
    std::wstring m_path;
    wchar_t m_saved[MAX_PATH] = L"C:";
};

// Runs call with the thread's last error set to the 0xdeadbeef sentinel and
// answers the error it left, so a check proves the call itself set it.
// EXPECT_LAST_ERROR(expected, call) reports the caller's line.
template <typename F>
DWORD LastErrorOf(F&& call)
{
    SetLastError(0xdeadbeef);
    call();
    return GetLastError();
}
#define EXPECT_LAST_ERROR(expected, ...) \
    EXPECT_EQ(static_cast<DWORD>(expected), ::tzrtest::LastErrorOf([&] { __VA_ARGS__; })) << #__VA_ARGS__

// Lines of a text split at "\r\n" (the separator is dropped; a final
// unterminated piece is kept).
std::vector<std::string> SplitCrLf(const std::string& text);

// True when text starts with a UTC stamp and the writer's process id,
// "[YYYY-MM-DDTHH:MM:SSZ] [1234] ".
bool HasUtcStamp(const std::string& line);
// The line without its UTC stamp and process id.
std::string StripUtcStamp(const std::string& line);

}  // namespace tzrtest
