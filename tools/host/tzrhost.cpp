// tzrhost.exe: an installer host for the command line. Loads a package
// folder's setup.dll the way an installer host does, asks its properties,
// optionally installs, and reports what the plug-in answered.
//
// The plug-in reads the process command line itself, so every argument that
// is not the host's own reaches it untouched. The host's options all begin
// with "--" and match whole arguments, so they never collide with the
// plug-in's engine options ("-d", "-f", ...) or its switches ("/verbose_log").
#include "install_state_record.h"
#include "setup_api.h"
#include "win_handle.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitInstallFailed = 1,
    kExitUsage = 2,
    kExitLoadFailed = 3,
    kExitRebootRequired = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED, as installers report it
};

const unsigned char kSentinel = 0xA5;

// Install's message buffer comes without a size, and a plug-in may append
// its result line to the text already there: the host gives room for the
// longest line a plug-in writes (the framework's messages, cut at 246
// characters, and the flash plug-in's result lines) after the pre-filled text.
const size_t kInstallMessageRoom = 4096;

const wchar_t kUsage[] =
    L"usage: tzrhost.exe [host options] PACKAGE_FOLDER [plug-in arguments...]\n"
    L"\n"
    L"Loads PACKAGE_FOLDER\\setup.dll with the package folder as current directory,\n"
    L"asks its interface version and properties 1, 2, 4, 5, 3, 6, 7, 8, and prints\n"
    L"what it answered. Arguments after the package folder are the plug-in's\n"
    L"(engine options such as -d PATH, -f, -log_level N; switches /verbose_log,\n"
    L"/consoleout, /no_overwrite): the plug-in reads them from the command line.\n"
    L"\n"
    L"host options:\n"
    L"  --lang CODE          language code passed with each query (default en)\n"
    L"  --install            call Install after the properties\n"
    L"  --install-text TEXT  text already in Install's message buffer (the buffer holds\n"
    L"                       the text plus room for the longest line a plug-in appends)\n"
    L"  --property N         ask only property N (repeatable; any number)\n"
    L"  --capacity N         capacity of text properties in characters (default 1024)\n"
    L"  --state-size N       size of the install-state record in bytes (default 2052)\n"
    L"  --flag-size N        size given with properties 6, 7, 8 in bytes (default 4)\n"
    L"  --sta                enter a single-threaded apartment first, as a windowed\n"
    L"                       host's thread is\n"
    L"  --json               print a JSON object instead of the readable report\n"
    L"  --help               this text\n"
    L"\n"
    L"exit codes: 0 done (install succeeded, no restart, or discovery written),\n"
    L"  1 Install answered failure, 2 usage error, 3 plug-in not loaded,\n"
    L"  3010 Install succeeded and a restart is needed.\n";

struct Options {
    std::wstring package;
    std::wstring language = L"en";
    bool install = false;
    std::wstring installText;
    bool json = false;
    bool singleThreadedApartment = false;
    std::vector<unsigned> properties;
    unsigned capacity = 1024;
    unsigned stateSize = InstallStateRecord::kMinimumBytes;
    unsigned flagSize = 4;
};

struct Answer {
    unsigned id = 0;
    int result = 0;
    bool touched = false;
    std::vector<unsigned char> buffer;
};

const char* PropertyName(unsigned id)
{
    switch (id) {
    case 1: return "name";
    case 2: return "description";
    case 3: return "current version";
    case 4: return "new version";
    case 5: return "install state";
    case 6: return "silent install";
    case 7: return "silent update";
    case 8: return "downgrade";
    default: return "unknown";
    }
}

const char* StateMeaning(unsigned state)
{
    switch (state) {
    case 1: return "installed, same version";
    case 2: return "installed, older: update offered";
    case 3: return "installed, newer: downgrade";
    case 4: return "installed, hardware not present";
    case 5: return "not installed, installation possible";
    case 6: return "not applicable";
    case 7: return "cannot be installed";
    case 8: return "undetermined";
    default: return "unknown state";
    }
}

const char* InstallMeaning(unsigned result)
{
    switch (result) {
    case 0: return "failure";
    case 1: return "success, no restart needed";
    case 2: return "success, restart needed";
    case 3: return "discovery report written";
    default: return "unknown result";
    }
}

void Out(const std::string& text)
{
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        fwrite(text.data(), 1, text.size(), stdout);
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string result(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], n, nullptr,
                            nullptr);
    return result;
}

// The UTF-16 text at the start of a buffer, up to its NUL or the buffer's end.
std::wstring TextAt(const std::vector<unsigned char>& buffer, size_t byteOffset)
{
    std::wstring text;
    for (size_t i = byteOffset; i + 1 < buffer.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(buffer[i] | (buffer[i + 1] << 8));
        if (c == L'\0')
            break;
        text.push_back(c);
    }
    return text;
}

unsigned StateOf(const std::vector<unsigned char>& buffer)
{
    return InstallStateRecord::StateOf(buffer.data(), static_cast<unsigned>(buffer.size()));
}

unsigned U32At(const std::vector<unsigned char>& buffer)
{
    unsigned value = 0;
    if (buffer.size() >= 4)
        memcpy(&value, buffer.data(), 4);
    return value;
}

// Readable: CR, LF and tab shown as \r, \n, \t; other control characters as \xNN.
std::string Visible(const std::wstring& text)
{
    std::string result = "\"";
    for (const wchar_t c : text) {
        char escaped[8];
        if (c == L'\r')
            result += "\\r";
        else if (c == L'\n')
            result += "\\n";
        else if (c == L'\t')
            result += "\\t";
        else if (c < 0x20) {
            snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
            result += escaped;
        } else
            result += Utf8(std::wstring(1, c));
    }
    return result + "\"";
}

std::string Json(const std::wstring& text)
{
    std::string result = "\"";
    for (const wchar_t c : text) {
        char escaped[8];
        switch (c) {
        case L'"': result += "\\\""; break;
        case L'\\': result += "\\\\"; break;
        case L'\r': result += "\\r"; break;
        case L'\n': result += "\\n"; break;
        case L'\t': result += "\\t"; break;
        default:
            if (c < 0x20) {
                snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                result += escaped;
            } else {
                result += Utf8(std::wstring(1, c));
            }
        }
    }
    return result + "\"";
}

bool ParseUnsigned(const wchar_t* text, unsigned& value)
{
    if (!text || !*text)
        return false;
    wchar_t* end = nullptr;
    const unsigned long v = wcstoul(text, &end, 0);
    if (*end != L'\0')
        return false;
    value = static_cast<unsigned>(v);
    return true;
}

int Usage(const wchar_t* problem)
{
    if (problem)
        fwprintf(stderr, L"tzrhost: %ls\n", problem);
    Out(Utf8(kUsage));
    return kExitUsage;
}

// Returns -1 when the options are fine, else the exit code.
int ParseOptions(int argc, wchar_t** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--help") {
            Out(Utf8(kUsage));
            return kExitOk;
        } else if (arg == L"--json") {
            options.json = true;
        } else if (arg == L"--sta") {
            options.singleThreadedApartment = true;
        } else if (arg == L"--install") {
            options.install = true;
        } else if (arg == L"--lang" || arg == L"--install-text") {
            if (!hasValue)
                return Usage((arg + L" needs a value").c_str());
            (arg == L"--lang" ? options.language : options.installText) = argv[++i];
        } else if (arg == L"--property" || arg == L"--capacity" || arg == L"--state-size" ||
                   arg == L"--flag-size") {
            unsigned value = 0;
            if (!hasValue || !ParseUnsigned(argv[i + 1], value))
                return Usage((arg + L" needs a number").c_str());
            ++i;
            if (arg == L"--property")
                options.properties.push_back(value);
            else if (arg == L"--capacity")
                options.capacity = value;
            else if (arg == L"--state-size")
                options.stateSize = value;
            else
                options.flagSize = value;
        } else if (options.package.empty()) {
            options.package = arg;
        }
        // Anything else belongs to the plug-in, which reads it itself.
    }
    if (options.package.empty())
        return Usage(L"no package folder given");
    if (options.properties.empty())
        options.properties = {1, 2, 4, 5, 3, 6, 7, 8};
    return -1;
}

Answer Ask(GetPropertyFn getProperty, unsigned id, const Options& options)
{
    Answer answer;
    answer.id = id;
    size_t bytes;
    unsigned size;
    if (id == 5) {
        bytes = options.stateSize;
        size = options.stateSize;
    } else if (id >= 6 && id <= 8) {
        // Never less than the four bytes of a flag: a plug-in that writes
        // past a smaller size shows as a touched buffer.
        bytes = options.flagSize;
        size = options.flagSize;
    } else {
        bytes = static_cast<size_t>(options.capacity) * 2;
        size = options.capacity;
    }
    answer.buffer.assign(bytes < 4 ? 4 : bytes, kSentinel);
    answer.result = getProperty(id, answer.buffer.data(), size, options.language.c_str());
    for (unsigned char b : answer.buffer) {
        if (b != kSentinel) {
            answer.touched = true;
            break;
        }
    }
    return answer;
}

std::string Describe(const Answer& a, bool json)
{
    char head[128];
    std::string body;
    if (json) {
        snprintf(head, sizeof head, "{\"id\": %u, \"name\": \"%s\", \"result\": %d, \"touched\": %s", a.id,
                 PropertyName(a.id), a.result, a.touched ? "true" : "false");
        body = head;
        if (a.touched) {
            char value[64];
            if (a.id == 5) {
                snprintf(value, sizeof value, ", \"state\": %u, \"message\": ", StateOf(a.buffer));
                body += value + Json(TextAt(a.buffer, InstallStateRecord::kMessageOffset));
            } else if (a.id >= 6 && a.id <= 8) {
                snprintf(value, sizeof value, ", \"value\": %u", U32At(a.buffer));
                body += value;
            } else {
                body += ", \"text\": " + Json(TextAt(a.buffer, 0));
            }
        }
        return body + "}";
    }
    snprintf(head, sizeof head, "[%u] %-16s result %d", a.id, PropertyName(a.id), a.result);
    body = head;
    if (!a.touched)
        return body + "  (buffer untouched)\n";
    char value[96];
    if (a.id == 5) {
        const unsigned state = StateOf(a.buffer);
        snprintf(value, sizeof value, "  state %u (%s)  message ", state, StateMeaning(state));
        body += value + Visible(TextAt(a.buffer, InstallStateRecord::kMessageOffset));
    } else if (a.id >= 6 && a.id <= 8) {
        snprintf(value, sizeof value, "  value %u", U32At(a.buffer));
        body += value;
    } else {
        body += "  " + Visible(TextAt(a.buffer, 0));
    }
    return body + "\n";
}

int Run(int argc, wchar_t** argv)
{
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;

    wchar_t folder[MAX_PATH];
    const DWORD n = GetFullPathNameW(options.package.c_str(), MAX_PATH, folder, nullptr);
    if (n == 0 || n >= MAX_PATH) {
        fwprintf(stderr, L"tzrhost: cannot resolve package folder %ls\n", options.package.c_str());
        return kExitLoadFailed;
    }
    if (!SetCurrentDirectoryW(folder)) {
        fwprintf(stderr, L"tzrhost: cannot enter package folder %ls (error %lu)\n", folder, GetLastError());
        return kExitLoadFailed;
    }
    std::wstring dllPath = folder;
    if (!dllPath.empty() && dllPath.back() != L'\\')
        dllPath += L'\\';
    dllPath += L"setup.dll";

    // Entered before the plug-in loads and left after it is unloaded, as a
    // windowed host's thread lives in its apartment.
    ComApartment apartment;
    if (options.singleThreadedApartment && FAILED(apartment.Enter(COINIT_APARTMENTTHREADED))) {
        fwprintf(stderr, L"tzrhost: cannot enter a single-threaded apartment\n");
        return kExitLoadFailed;
    }
    UniqueModule plugin(LoadLibraryW(dllPath.c_str()));
    if (!plugin) {
        fwprintf(stderr, L"tzrhost: cannot load %ls (error %lu)\n", dllPath.c_str(), GetLastError());
        return kExitLoadFailed;
    }
    auto getInterfaceVersion =
        reinterpret_cast<GetInterfaceVersionFn>(reinterpret_cast<void*>(GetProcAddress(plugin.get(), "GetInterfaceVersion")));
    auto getProperty = reinterpret_cast<GetPropertyFn>(reinterpret_cast<void*>(GetProcAddress(plugin.get(), "GetProperty")));
    auto install = reinterpret_cast<InstallFn>(reinterpret_cast<void*>(GetProcAddress(plugin.get(), "Install")));
    if (!getInterfaceVersion || !getProperty || !install) {
        fwprintf(stderr, L"tzrhost: %ls lacks an export (GetInterfaceVersion, GetProperty, Install)\n",
                 dllPath.c_str());
        return kExitLoadFailed;
    }

    unsigned version = 0;
    const int versionResult = getInterfaceVersion(&version);
    std::vector<Answer> answers;
    for (unsigned id : options.properties)
        answers.push_back(Ask(getProperty, id, options));

    int exitCode = kExitOk;
    unsigned installResult = 0;
    std::wstring installMessage;
    if (options.install) {
        std::vector<wchar_t> message(options.installText.size() + kInstallMessageRoom, L'\0');
        wmemcpy(message.data(), options.installText.data(), options.installText.size());
        installResult = install(0, 0, message.data(), 0, options.language.c_str());
        installMessage = message.data();
        exitCode = installResult == 0 ? kExitInstallFailed
                   : installResult == 2 ? kExitRebootRequired
                                        : kExitOk;
    }

    std::string report;
    char line[256];
    if (options.json) {
        report = "{\"package\": " + Json(folder) + ", \"plugin\": " + Json(dllPath);
        snprintf(line, sizeof line, ", \"interface\": {\"result\": %d, \"version\": %u}, \"properties\": [",
                 versionResult, version);
        report += line;
        for (size_t i = 0; i < answers.size(); ++i)
            report += (i ? ", " : "") + Describe(answers[i], true);
        report += "]";
        if (options.install) {
            snprintf(line, sizeof line, ", \"install\": {\"result\": %u, \"meaning\": \"%s\", \"message\": ",
                     installResult, InstallMeaning(installResult));
            report += line + Json(installMessage) + "}";
        }
        snprintf(line, sizeof line, ", \"exit\": %d}\n", exitCode);
        report += line;
    } else {
        report = "package   " + Utf8(folder) + "\nplug-in   " + Utf8(dllPath) + "\n";
        snprintf(line, sizeof line, "interface %u (result %d)\nlanguage  ", version, versionResult);
        report += line + Utf8(options.language) + "\n";
        for (const Answer& a : answers)
            report += Describe(a, false);
        if (options.install) {
            snprintf(line, sizeof line, "install   result %u (%s)  message ", installResult,
                     InstallMeaning(installResult));
            report += line + Visible(installMessage) + "\n";
        }
    }
    Out(report);
    plugin.reset();
    return exitCode;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) {
        fwprintf(stderr, L"tzrhost: cannot read the command line\n");
        return kExitUsage;
    }
    const int code = Run(argc, argv);
    LocalFree(argv);
    return code;
}
