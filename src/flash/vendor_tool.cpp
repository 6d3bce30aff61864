// Starting the vendor tool: the package's own copy by its full path, or one
// from the PATH that is neither beside the host nor in the current directory,
// and its answer read as text.
#include "flash_engine.h"
#include "inventory_parse.h"

#include "process_log.h"
#include "run_command.h"
#include "text_util.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kToolFile[] = L"mnv_cli.exe";

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The full path of name, or "" when it has none; any length.
std::wstring FullPath(const wchar_t* name)
{
    std::vector<wchar_t> path(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = GetFullPathNameW(name, static_cast<DWORD>(path.size()), path.data(), nullptr);
        if (n == 0)
            return std::wstring();
        if (n < path.size())
            return std::wstring(path.data(), n);
        path.resize(n);
    }
    return std::wstring();
}

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

bool SameFolder(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() && CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Windows' own search for a bare program name starts with the host's folder
// and the current directory, where a stray copy must never run: only the
// absolute folders of PATH are searched, without those two.
std::wstring SearchPathForTool()
{
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(size);
    const DWORD n = GetEnvironmentVariableW(L"PATH", buffer.data(), size);
    if (n == 0 || n >= size)
        return std::wstring();
    std::vector<wchar_t> self(32768);
    const DWORD selfLength = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    std::wstring hostFolder(self.data(), selfLength < self.size() ? selfLength : 0);
    hostFolder.erase(hostFolder.find_last_of(L'\\') == std::wstring::npos ? 0 : hostFolder.find_last_of(L'\\'));
    hostFolder = WithoutTrailingSeparator(hostFolder);
    const std::wstring current = WithoutTrailingSeparator(FullPath(L"."));

    const std::wstring path(buffer.data(), n);
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring entry = path.substr(start, end - start);
        start = end + 1;
        if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"')
            entry = entry.substr(1, entry.size() - 2);
        const bool absolute = (entry.size() >= 3 && entry[1] == L':' && (entry[2] == L'\\' || entry[2] == L'/')) ||
                              (entry.size() >= 2 && entry[0] == L'\\' && entry[1] == L'\\');
        if (!absolute)
            continue;
        const std::wstring folder = WithoutTrailingSeparator(FullPath(entry.c_str()));
        if (folder.empty() || SameFolder(folder, hostFolder) || SameFolder(folder, current))
            continue;
        const std::wstring candidate = folder + L"\\" + kToolFile;
        if (IsFile(candidate))
            return candidate;
    }
    return std::wstring();
}

std::string Ansi(const std::wstring& text)
{
    std::string bytes;
    toAnsi(text.c_str(), bytes);
    return bytes;
}

// A tool that answers in UTF-16 is read as the text it is, in the code page
// the engine works in.
void DecodeUtf16(std::string& output)
{
    size_t offset = 0;
    if (output.size() >= 2 && static_cast<unsigned char>(output[0]) == 0xFF &&
        static_cast<unsigned char>(output[1]) == 0xFE)
        offset = 2;
    const size_t units = (output.size() - offset) / 2;
    std::wstring text(units, L'\0');
    for (size_t i = 0; i < units; ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(output[offset + 2 * i]) |
                                       (static_cast<unsigned char>(output[offset + 2 * i + 1]) << 8));
    // Embedded NULs stay: the parsers read the text line by line.
    std::string decoded;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos)
            end = text.size();
        decoded += Ansi(text.substr(start, end - start));
        if (end < text.size())
            decoded += '\0';
        start = end + 1;
    }
    output.swap(decoded);
}

std::wstring g_lastLoggedTool;

}  // namespace

std::wstring packageToolPath()
{
    const std::wstring path = FullPath(kToolFile);
    return !path.empty() && IsFile(path) ? path : std::wstring();
}

std::wstring vendorToolPath()
{
    const std::wstring own = packageToolPath();
    return own.empty() ? SearchPathForTool() : own;
}

bool checkVendorTool()
{
    if (!vendorToolPath().empty())
        return true;
    // Without the tool nothing can be known about the controllers: the
    // package is broken, which is not the same as "no hardware here".
    const std::string folder = Ansi(WithoutTrailingSeparator(FullPath(L".")));
    char reason[1024];
    snprintf(reason, sizeof reason,
             "The vendor tool %s is neither in the package folder %s nor in an absolute folder of PATH "
             "(the host's folder and the current directory are not searched): nothing can be checked or installed",
             Ansi(kToolFile).c_str(), folder.c_str());
    engineNote = reason;
    logRecord("%s", reason);
    return false;
}

int runTool(const char* command, std::string& output)
{
    const std::wstring tool = vendorToolPath();
    if (tool.empty()) {
        // Not started rather than found by a search that could pick a copy
        // beside the host.
        LogPrint(kLogVerbose, "%s\n", runStatusText(kRunNotStarted));
        return -1;
    }
    if (tool != g_lastLoggedTool) {
        LogPrint(kLogVerbose, "Vendor tool: %s\n", Ansi(tool).c_str());
        g_lastLoggedTool = tool;
    }
    RunStatus status = kRunOk;
    unsigned long long cut = 0;
    const size_t before = output.size();
    // The package's own copy in a folder too long for a full program path is
    // named relative to the current directory (the package folder), which
    // CreateProcess completes without any search.
    const bool own = tool == packageToolPath();
    RunExtras extras;
    extras.application = own && tool.size() >= MAX_PATH ? kToolFile : tool.c_str();
    // The tool holds the machine lock as long as it runs, also when this
    // host dies under it; it gets nothing else of ours.
    extras.inherit = machineLock.HandlesToInherit();
    extras.started = [](DWORD processId) { machineLock.SetTool(processId); };
    const int result = runCommand(command, output, extras, &status, &cut);
    if (status == kRunOutputLost)
        LogPrint(kLogVerbose, "%s: %s\n", runStatusText(status), command ? command : "");
    else if (status == kRunNotStarted)
        LogPrint(kLogVerbose, "%s (error %lu): %s\n", runStatusText(status), GetLastError(), Ansi(tool).c_str());
    else if (status != kRunOk)
        LogPrint(kLogVerbose, "%s\n", runStatusText(status));
    if (result != 0)
        return result;
    if (cut != 0)
        LogPrint(kLogVerbose, "Tool output cut: %llu bytes between the first %u and the last %u not kept\n", cut,
                 static_cast<unsigned>(kRunKeepHead), static_cast<unsigned>(kRunKeepTail));
    if (isUtf16Text(output.substr(before, 16))) {
        LogPrint(kLogVerbose, "Tool output is UTF-16; read as text\n");
        std::string answer = output.substr(before);
        DecodeUtf16(answer);
        output.resize(before);
        output += answer;
    }
    return 0;
}
