#include "test_support.h"

#include "win_handle.h"

#include <algorithm>
#include <regex>

namespace tzrtest {

std::string ReadFileBytes(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file)
        return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((path + L"\\*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search.get(), &found));
    }
    search.reset();
    RemoveDirectoryW(path.c_str());
}

void MakeDirs(const std::wstring& path)
{
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &result[0], n);
    return result;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string result(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], n, nullptr, nullptr);
    return result;
}

std::string Utf16LeFile(const std::string& utf8)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : Widen(utf8)) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::wstring WindowsPath(std::wstring path)
{
    if (path.empty() || path[0] != L'/')
        return path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"Z:" + path;
}

std::wstring BuildDir()
{
    wchar_t value[1024] = L"";
    const DWORD n = GetEnvironmentVariableW(L"TZR_BUILD_DIR", value, 1024);
    return WindowsPath((n > 0 && n < 1024) ? value : L"");
}

std::wstring BuildFile(const std::wstring& relative)
{
    return BuildDir() + L"\\" + relative;
}

std::wstring QuoteArg(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted.push_back(c);
    }
    quoted.append(backslashes, L'\\');
    return quoted + L"\"";
}

namespace {

// Sets environment variables for the duration of one spawn.
class ScopedEnv {
public:
    explicit ScopedEnv(const std::map<std::wstring, std::wstring>& env)
    {
        for (const auto& entry : env) {
            wchar_t old[32768];
            const DWORD n = GetEnvironmentVariableW(entry.first.c_str(), old, 32768);
            m_saved.push_back({entry.first, n > 0 && n < 32768, n > 0 && n < 32768 ? old : L""});
            SetEnvironmentVariableW(entry.first.c_str(), entry.second.empty() ? nullptr : entry.second.c_str());
        }
    }
    ~ScopedEnv()
    {
        for (const auto& s : m_saved)
            SetEnvironmentVariableW(s.name.c_str(), s.present ? s.value.c_str() : nullptr);
    }

private:
    struct Saved {
        std::wstring name;
        bool present;
        std::wstring value;
    };
    std::vector<Saved> m_saved;
};

}  // namespace

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& currentDir,
                         const std::map<std::wstring, std::wstring>& env)
{
    ProcessResult result;
    ScopedEnv scoped(env);
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0))
        return result;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd.get();
    si.hStdError = writeEnd.get();
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &si, &pi)) {
        result.startError = GetLastError();
        return result;
    }
    result.started = true;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    writeEnd.reset();
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(readEnd.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        result.output.append(chunk, read);
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

ScopedSystemDrive::ScopedSystemDrive(const std::wstring& name)
{
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    m_path = std::wstring(cwd) + L"\\" + name;
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
    GetEnvironmentVariableW(L"SystemDrive", m_saved, MAX_PATH);
    SetEnvironmentVariableW(L"SystemDrive", m_path.c_str());
}

ScopedSystemDrive::~ScopedSystemDrive()
{
    SetEnvironmentVariableW(L"SystemDrive", m_saved);
    RemoveTree(m_path);
}

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

namespace {

const std::regex& UtcStampAndProcess()
{
    static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z\] \[\d+\] )");
    return stamp;
}

}  // namespace

bool HasUtcStamp(const std::string& line)
{
    return std::regex_search(line, UtcStampAndProcess());
}

std::string StripUtcStamp(const std::string& line)
{
    std::smatch found;
    return std::regex_search(line, found, UtcStampAndProcess()) ? found.suffix().str() : line;
}

}  // namespace tzrtest
