// tzrhost.exe: an installer host for the command line. Loads a package
// folder's setup.dll the way an installer host does, asks its properties,
// optionally installs, and reports what the plug-in answered.
//
// The plug-in reads the process command line itself, so every argument that
// is not the host's own reaches it untouched. The host's options all begin
// with "--" and match whole arguments, so they never collide with the
// plug-in's engine options ("-d", "-f", ...) or its switches ("/verbose_log").
#include "cmplog2.h"
#include "host_decision.h"
#include "install_state_record.h"
#include "module_version.h"
#include "process_log.h"
#include "setup_api.h"
#include "sysinfo.h"
#include "system_dll.h"
#include "win_handle.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The --json object's shape; raised whenever a field changes meaning or goes.
const int kJsonSchemaVersion = 1;

const unsigned char kSentinel = 0xA5;

// The flash plug-in's per-controller outcomes (a text property asked after
// the others), and the room given for them: one line per controller.
const unsigned kControllersProperty = 9;
const unsigned kControllersCapacity = 65536;

// Standard output as the host was started with it. The process's own
// standard output goes to standard error while the plug-in is loaded, so
// nothing a plug-in prints can break the report or the JSON object.
HANDLE g_stdout = INVALID_HANDLE_VALUE;

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
    L"  --install            call Install after the properties, when the state calls for it\n"
    L"  --install-text TEXT  text already in Install's message buffer (the buffer holds\n"
    L"                       the text plus room for the longest line a plug-in appends)\n"
    L"  --property N         ask only property N (repeatable; any number)\n"
    L"  --capacity N         capacity of text properties in characters (default 1024)\n"
    L"  --state-size N       size of the install-state record in bytes (default 2052)\n"
    L"  --flag-size N        size given with properties 6, 7, 8 in bytes (default 4)\n"
    L"  --sta                enter a single-threaded apartment first, as a windowed\n"
    L"                       host's thread is\n"
    L"  --json               print a JSON object instead of the readable report\n"
    L"  --result FILE        also write that JSON object to FILE (replaced whole; an\n"
    L"                       older FILE is removed first; exit 1622 when it cannot be)\n"
    L"  --force              with --install: install whatever the install state says\n"
    L"  --pause              with --install: wait for a line on standard input before\n"
    L"                       calling Install, as an operator looks at the state first\n"
    L"  --version            the host's version\n"
    L"  --help               this text\n"
    L"\n"
    L"--install asks property 5 first (also when --property leaves it out) and calls\n"
    L"Install only when the state offers an installation: not installed, or an older\n"
    L"version installed. --force asks only the properties chosen, then installs.\n"
    L"\n"
    L"exit codes (Windows Installer's):\n"
    L"  0           installed, no restart needed; or the same version is installed\n"
    L"              (also: no --install, or a discovery report written)\n"
    L"  3010        installed, a restart is needed\n"
    L"  1603        Install failed, or the state says it cannot be installed\n"
    L"  1618        another installation is running: retry later\n"
    L"  1638        a newer version is installed (no downgrade without --force)\n"
    L"  1619        the plug-in cannot be loaded or lacks its exports\n"
    L"  1622        the --result file cannot be written or moved into place\n"
    L"  1639        bad command line (unknown -- option, missing value)\n"
    L"  -2145124329 (0x80240017) not applicable: no supported hardware here\n";

struct Options {
    std::wstring package;
    std::wstring language = L"en";
    bool install = false;
    bool force = false;
    bool pause = false;
    std::wstring resultFile;
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
    case kControllersProperty: return "controllers";
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
    HANDLE out = g_stdout != INVALID_HANDLE_VALUE ? g_stdout : GetStdHandle(STD_OUTPUT_HANDLE);
    if (!WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        fwrite(text.data(), 1, text.size(), stdout);
}

// Keeps the host's standard output for the report and points the process's
// (the handle and the C runtime's, which a plug-in shares) at standard error.
void SetStandardOutputAside()
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE)
        return;
    if (!DuplicateHandle(GetCurrentProcess(), out, GetCurrentProcess(), &g_stdout, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        g_stdout = INVALID_HANDLE_VALUE;
        return;
    }
    fflush(stdout);
    if (err && err != INVALID_HANDLE_VALUE) {
        SetStdHandle(STD_OUTPUT_HANDLE, err);
        _dup2(_fileno(stderr), _fileno(stdout));
    }
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
// Readable: CR, LF and tab shown as \r, \n, \t; other control characters as
// \xNN. Converted as a whole, so a pair of surrogates stays one character.
std::string Visible(const std::wstring& text)
{
    std::wstring result = L"\"";
    for (const wchar_t c : text) {
        wchar_t escaped[8];
        if (c == L'\r')
            result += L"\\r";
        else if (c == L'\n')
            result += L"\\n";
        else if (c == L'\t')
            result += L"\\t";
        else if (c < 0x20) {
            swprintf(escaped, sizeof escaped / sizeof escaped[0], L"\\x%02X", static_cast<unsigned>(c));
            result += escaped;
        } else
            result += c;
    }
    return Utf8(result + L"\"");
}

// A JSON string, converted to UTF-8 as a whole for the same reason.
std::string Json(const std::wstring& text)
{
    std::wstring result = L"\"";
    for (const wchar_t c : text) {
        wchar_t escaped[8];
        switch (c) {
        case L'"': result += L"\\\""; break;
        case L'\\': result += L"\\\\"; break;
        case L'\r': result += L"\\r"; break;
        case L'\n': result += L"\\n"; break;
        case L'\t': result += L"\\t"; break;
        default:
            if (c < 0x20) {
                swprintf(escaped, sizeof escaped / sizeof escaped[0], L"\\u%04x", static_cast<unsigned>(c));
                result += escaped;
            } else {
                result += c;
            }
        }
    }
    return Utf8(result + L"\"");
}

std::string JsonOrNull(const std::wstring& text)
{
    return text.empty() ? "null" : Json(text);
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

enum class Parsed { kRun, kHelp, kVersion, kBad };

std::string HostVersion()
{
    return Utf8(ModuleProductVersionText(nullptr).c_str());
}

// Reads the whole line before judging it, so that --json and --result also
// report a bad command line. problem says what is wrong with it.
Parsed ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& problem)
{
    Parsed parsed = Parsed::kRun;
    auto refuse = [&](const std::wstring& why) {
        if (problem.empty())
            problem = why;
        parsed = Parsed::kBad;
    };
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--help") {
            help = true;
        } else if (arg == L"--version") {
            version = true;
        } else if (arg == L"--json") {
            options.json = true;
        } else if (arg == L"--sta") {
            options.singleThreadedApartment = true;
        } else if (arg == L"--install") {
            options.install = true;
        } else if (arg == L"--force") {
            options.force = true;
        } else if (arg == L"--pause") {
            options.pause = true;
        } else if (arg == L"--lang" || arg == L"--install-text" || arg == L"--result") {
            if (!hasValue) {
                refuse(arg + L" needs a value");
                continue;
            }
            ++i;
            if (arg == L"--result") {
                // Relative to where the host was started, not the package folder.
                wchar_t full[MAX_PATH];
                const DWORD n = GetFullPathNameW(argv[i], MAX_PATH, full, nullptr);
                if (n == 0 || n >= MAX_PATH)
                    refuse(L"--result names no usable path: " + std::wstring(argv[i]));
                else
                    options.resultFile = full;
            } else {
                (arg == L"--lang" ? options.language : options.installText) = argv[i];
            }
        } else if (arg == L"--property" || arg == L"--capacity" || arg == L"--state-size" ||
                   arg == L"--flag-size") {
            unsigned value = 0;
            if (!hasValue || !ParseUnsigned(argv[i + 1], value)) {
                refuse(arg + L" needs a number");
                continue;
            }
            ++i;
            if (arg == L"--property")
                options.properties.push_back(value);
            else if (arg == L"--capacity")
                options.capacity = value;
            else if (arg == L"--state-size")
                options.stateSize = value;
            else
                options.flagSize = value;
        } else if (arg.compare(0, 2, L"--") == 0) {
            // The plug-in's options start with one "-" or a "/": a "--" word
            // is a mistyped option of ours, never something to pass on.
            refuse(L"unknown option " + arg);
        } else if (options.package.empty()) {
            options.package = arg;
        }
        // Anything else belongs to the plug-in, which reads it itself.
    }
    if (parsed == Parsed::kBad)
        return parsed;
    if (help)
        return Parsed::kHelp;
    if (version)
        return Parsed::kVersion;
    if (options.package.empty()) {
        refuse(L"no package folder given");
        return parsed;
    }
    if (options.properties.empty())
        options.properties = {1, 2, 4, 5, 3, 6, 7, 8};
    return parsed;
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
            char value[128];
            if (a.id == 5) {
                const unsigned state = StateOf(a.buffer);
                snprintf(value, sizeof value, ", \"state\": %u, \"meaning\": \"%s\", \"message\": ", state,
                         StateMeaning(state));
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


// Everything one run found out, for the readable report and the JSON object.
struct Outcome {
    std::wstring folder;
    std::wstring dllPath;
    std::wstring pluginVersion;
    bool loaded = false;
    int versionResult = 0;
    unsigned interfaceVersion = 0;
    std::vector<Answer> answers;
    bool stateKnown = false;
    unsigned state = 0;
    std::wstring stateMessage;
    bool installCalled = false;
    std::string notCalledReason;
    unsigned installResult = 0;
    std::wstring installMessage;
    unsigned exitCode = kExitOk;
    std::wstring error;
    std::wstring help;          // --help: the usage text
    bool controllersKnown = false;
    std::vector<std::vector<std::wstring>> controllers;  // id, model, before, after, outcome, tool said
};

// The flash plug-in's outcome lines: six tab-separated fields each.
void ReadControllers(const Answer& a, Outcome& o)
{
    if (a.result != 1 || !a.touched)
        return;
    o.controllersKnown = true;
    const std::wstring text = TextAt(a.buffer, 0);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        std::vector<std::wstring> fields;
        size_t from = start;
        for (;;) {
            const size_t tab = text.find(L'\t', from);
            if (tab == std::wstring::npos || tab > end) {
                fields.push_back(text.substr(from, end - from));
                break;
            }
            fields.push_back(text.substr(from, tab - from));
            from = tab + 1;
        }
        if (fields.size() == 6)
            o.controllers.push_back(fields);
        start = end + 2;
    }
}

bool AnyWritten(const Outcome& o)
{
    for (const auto& c : o.controllers)
        if (c[4] == L"written")
            return true;
    return false;
}

// A restart is owed when the installation says so, and also after a write
// that failed on another controller: the written ones wait for it.
bool RestartNeeded(const Outcome& o)
{
    return o.exitCode == kExitRebootRequired || AnyWritten(o);
}

// Where the plug-in's logs go, as its component log and process log name
// them for this command line and environment; the verbose file is null when
// it is not written.
std::string JsonLogPaths()
{
    CCmpLog2 log;
    if (FindTextNoCase(GetCommandLineW(), L"/verbose_log") >= 0)
        log.EnableVerbose();
    std::wstring process;
    const char* relative = LogVerboseFilePath();
    wchar_t wide[MAX_PATH] = L"";
    wchar_t full[MAX_PATH] = L"";
    if (MultiByteToWideChar(CP_ACP, 0, relative, -1, wide, MAX_PATH) > 0) {
        const DWORD n = GetFullPathNameW(wide, MAX_PATH, full, nullptr);
        if (n > 0 && n < MAX_PATH)
            process = full;
    }
    return "{\"main\": " + JsonOrNull(log.MainPath()) +
           ", \"verbose\": " + (log.IsVerbose() ? JsonOrNull(log.VerbosePath()) : "null") +
           ", \"process\": " + JsonOrNull(process) + "}";
}

std::string JsonReport(const Options& options, const Outcome& o)
{
    char line[256];
    snprintf(line, sizeof line, "{\"schema_version\": %d, \"host_version\": ", kJsonSchemaVersion);
    std::string report = line + JsonOrNull(ModuleProductVersionText(nullptr).c_str());
    report += ", \"package\": " + JsonOrNull(o.folder) + ", \"plugin\": " + JsonOrNull(o.dllPath) +
              ", \"plugin_version\": " + JsonOrNull(o.pluginVersion);
    if (o.loaded) {
        snprintf(line, sizeof line, ", \"interface\": {\"result\": %d, \"version\": %u}", o.versionResult,
                 o.interfaceVersion);
        report += line;
    } else {
        report += ", \"interface\": null";
    }
    report += ", \"properties\": [";
    for (size_t i = 0; i < o.answers.size(); ++i)
        report += (i ? ", " : "") + Describe(o.answers[i], true);
    report += "]";
    if (o.stateKnown) {
        snprintf(line, sizeof line, ", \"install_state\": {\"code\": %u, \"meaning\": \"%s\"}", o.state,
                 StateMeaning(o.state));
        report += line;
    } else {
        report += ", \"install_state\": null";
    }
    if (options.install && o.loaded) {
        snprintf(line, sizeof line, ", \"install\": {\"forced\": %s, \"called\": %s",
                 options.force ? "true" : "false", o.installCalled ? "true" : "false");
        report += line;
        if (o.installCalled) {
            snprintf(line, sizeof line, ", \"result\": %u, \"meaning\": \"%s\", \"message\": ", o.installResult,
                     InstallMeaning(o.installResult));
            report += line + Json(o.installMessage) + "}";
        } else {
            report += ", \"reason\": \"" + o.notCalledReason + "\"}";
        }
    } else {
        report += ", \"install\": null";
    }
    if (o.controllersKnown) {
        report += ", \"controllers\": [";
        for (size_t i = 0; i < o.controllers.size(); ++i) {
            const auto& c = o.controllers[i];
            unsigned id = 0;
            swscanf(c[0].c_str(), L"%u", &id);
            snprintf(line, sizeof line, "%s{\"id\": %u, \"model\": ", i ? ", " : "", id);
            report += line + Json(c[1]) + ", \"firmware_before\": " + JsonOrNull(c[2]) +
                      ", \"firmware_after\": " + JsonOrNull(c[3]) + ", \"outcome\": " + Json(c[4]) +
                      ", \"tool_said\": " + JsonOrNull(c[5]) + "}";
        }
        report += "]";
    } else {
        report += ", \"controllers\": null";
    }
    snprintf(line, sizeof line, ", \"restart_needed\": %s, \"exit\": %d, \"exit_meaning\": \"%s\"",
             RestartNeeded(o) ? "true" : "false", static_cast<int>(o.exitCode), ExitMeaning(o.exitCode));
    report += line;
    report += ", \"help\": " + JsonOrNull(o.help);
    report += ", \"error\": " + JsonOrNull(o.error) + ", \"logs\": " + JsonLogPaths() + "}\n";
    return report;
}

std::string ReadableReport(const Options& options, const Outcome& o)
{
    char line[256];
    std::string report = "package   " + Utf8(o.folder) + "\nplug-in   " + Utf8(o.dllPath) + "\n";
    snprintf(line, sizeof line, "interface %u (result %d)\nlanguage  ", o.interfaceVersion, o.versionResult);
    report += line + Utf8(options.language) + "\n";
    for (const Answer& a : o.answers)
        report += Describe(a, false);
    if (o.installCalled) {
        snprintf(line, sizeof line, "install   result %u (%s)  message ", o.installResult,
                 InstallMeaning(o.installResult));
        report += line + Visible(o.installMessage) + "\n";
    } else if (options.install) {
        report += "install   not called: " + o.notCalledReason + "\n";
    }
    for (const auto& c : o.controllers) {
        report += "controller " + Utf8(c[0]) + "  " + Utf8(c[1]) + "  " + Utf8(c[2]) + " -> " + Utf8(c[3]) + "  " +
                  Utf8(c[4]);
        report += c[5].empty() ? "\n" : "  (" + Utf8(c[5]) + ")\n";
    }
    snprintf(line, sizeof line, "exit      %d (%s)\n", static_cast<int>(o.exitCode), ExitMeaning(o.exitCode));
    return report + line;
}

std::wstring ErrorText(DWORD error)
{
    wchar_t text[256] = L"";
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                   sizeof text / sizeof text[0], nullptr);
    std::wstring result(text, n);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
        result.pop_back();
    return L"error " + std::to_wstring(error) + (result.empty() ? L"" : L", " + result);
}

// Replaces path whole: the object goes to a file beside it, which then
// takes its name, so a collector never reads half a result.
bool WriteResultFile(const std::wstring& path, const std::string& text, std::wstring& problem)
{
    const std::wstring temporary = path + L".tmp";
    {
        SetLastError(0xdeadbeef);
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get())) {
            const DWORD error = GetLastError();
            const bool made = file.valid();
            file.reset();
            if (made)
                DeleteFileW(temporary.c_str());
            problem = L"cannot write " + temporary + L" (" + ErrorText(error) + L")";
            return false;
        }
    }
    SetLastError(0xdeadbeef);
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        problem = L"cannot move " + temporary + L" to " + path + L" (" + ErrorText(error) + L")";
        return false;
    }
    return true;
}

// Before anything runs: an older result file goes, so that it is never
// taken for this run's, and the folder must take the new one. "" when ready.
std::wstring PrepareResultFile(const std::wstring& path)
{
    SetLastError(0xdeadbeef);
    if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
        return L"cannot remove the older result file " + path + L" (" + ErrorText(GetLastError()) + L")";
    std::wstring problem;
    if (!WriteResultFile(path, std::string(), problem))
        return problem;
    DeleteFileW(path.c_str());
    return std::wstring();
}

// Writes the result file, prints the report; returns the exit code. A
// result file that cannot be written turns the exit code into 1622.
unsigned Finish(const Options& options, Outcome& o)
{
    if (!options.resultFile.empty()) {
        std::wstring problem;
        if (!WriteResultFile(options.resultFile, JsonReport(options, o), problem)) {
            o.error = (o.error.empty() ? L"" : o.error + L"; ") + L"the result file is not written: " + problem;
            o.exitCode = kExitResultNotWritten;
        }
    }
    if (!o.error.empty()) {
        fwprintf(stderr, L"tzrhost: %ls\n", o.error.c_str());
        fflush(stderr);
    }
    if (options.json)
        Out(JsonReport(options, o));
    else if (o.loaded)
        Out(ReadableReport(options, o));
    else if (o.exitCode == kExitUsage)
        Out(Utf8(kUsage));
    return o.exitCode;
}

unsigned Fail(const Options& options, Outcome& o, unsigned exitCode, const std::wstring& error)
{
    o.exitCode = exitCode;
    o.error = error;
    return Finish(options, o);
}

// A plug-in that crashes still leaves its object: the run so far, exit
// 1603 and the exception's code. The process ends here, without running the
// crashed plug-in's detach.
const Options* g_runOptions = nullptr;
Outcome* g_runOutcome = nullptr;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception)
{
    if (g_runOptions && g_runOutcome) {
        wchar_t text[96];
        swprintf(text, sizeof text / sizeof text[0], L"the plug-in crashed: exception code 0x%08lX",
                 static_cast<unsigned long>(exception && exception->ExceptionRecord
                                                ? exception->ExceptionRecord->ExceptionCode
                                                : 0));
        g_runOutcome->exitCode = kExitInstallFailed;
        g_runOutcome->error = text;
        Finish(*g_runOptions, *g_runOutcome);
    }
    TerminateProcess(GetCurrentProcess(), kExitInstallFailed);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The answers to property 5 that carry a state code.
void ReadState(const Answer& a, Outcome& o)
{
    if (a.id == 5 && a.touched && a.buffer.size() >= InstallStateRecord::kStateBytes) {
        o.stateKnown = true;
        o.state = StateOf(a.buffer);
        o.stateMessage = TextAt(a.buffer, InstallStateRecord::kMessageOffset);
    }
}

unsigned Run(int argc, wchar_t** argv)
{
    Options options;
    Outcome o;
    std::wstring problem;
    switch (ParseOptions(argc, argv, options, problem)) {
    case Parsed::kHelp:
        if (!options.json) {
            Out(Utf8(kUsage));
            return kExitOk;
        }
        o.help = kUsage;
        return Finish(options, o);
    case Parsed::kVersion:
        if (!options.json) {
            Out("tzrhost " + HostVersion() + "\n");
            return kExitOk;
        }
        return Finish(options, o);
    case Parsed::kBad:
        return Fail(options, o, kExitUsage, problem);
    case Parsed::kRun:
        break;
    }
    if (!options.resultFile.empty()) {
        const std::wstring why = PrepareResultFile(options.resultFile);
        if (!why.empty()) {
            // Nothing runs whose result could not be handed over.
            o.exitCode = kExitResultNotWritten;
            o.error = why;
            fwprintf(stderr, L"tzrhost: %ls\n", why.c_str());
            if (options.json)
                Out(JsonReport(options, o));
            return o.exitCode;
        }
    }

    wchar_t folder[MAX_PATH];
    const DWORD n = GetFullPathNameW(options.package.c_str(), MAX_PATH, folder, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return Fail(options, o, kExitLoadFailed, L"cannot resolve package folder " + options.package);
    o.folder = folder;
    if (!SetCurrentDirectoryW(folder))
        return Fail(options, o, kExitLoadFailed,
                    L"cannot enter package folder " + o.folder + L" (error " + std::to_wstring(GetLastError()) + L")");
    o.dllPath = folder;
    if (!o.dllPath.empty() && o.dllPath.back() != L'\\')
        o.dllPath += L'\\';
    o.dllPath += L"setup.dll";

    // Entered before the plug-in loads and left after it is unloaded, as a
    // windowed host's thread lives in its apartment.
    HostApartment apartment;
    if (options.singleThreadedApartment && FAILED(apartment.Enter(COINIT_APARTMENTTHREADED)))
        return Fail(options, o, kExitInstallFailed, L"cannot enter a single-threaded apartment");
    g_runOptions = &options;
    g_runOutcome = &o;
    SetUnhandledExceptionFilter(&ReportCrash);
    // By its full path; what it imports is searched beside it, then in the
    // system folders, never in the host's folder or the current directory.
    SetLastError(0xdeadbeef);
    UniqueModule plugin(LoadLibraryExW(o.dllPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!plugin)
        return Fail(options, o, kExitLoadFailed,
                    L"cannot load " + o.dllPath + L" (error " + std::to_wstring(GetLastError()) + L")");
    // The version text as the build wrote it, as for the host; a plug-in
    // without one gives its file version.
    o.pluginVersion = ModuleProductVersionText(plugin.get()).c_str();
    if (o.pluginVersion.empty())
        o.pluginVersion = ModuleFileVersion(plugin.get()).c_str();
    auto getInterfaceVersion =
        reinterpret_cast<GetInterfaceVersionFn>(reinterpret_cast<void*>(GetProcAddress(plugin.get(), "GetInterfaceVersion")));
    auto getProperty = reinterpret_cast<GetPropertyFn>(reinterpret_cast<void*>(GetProcAddress(plugin.get(), "GetProperty")));
    auto install = reinterpret_cast<InstallFn>(reinterpret_cast<void*>(GetProcAddress(plugin.get(), "Install")));
    if (!getInterfaceVersion || !getProperty || !install)
        return Fail(options, o, kExitLoadFailed,
                    o.dllPath + L" lacks an export (GetInterfaceVersion, GetProperty, Install)");
    o.loaded = true;

    o.versionResult = getInterfaceVersion(&o.interfaceVersion);
    // Install goes by the install state, so without --force the state is
    // asked even when the properties chosen leave it out.
    std::vector<unsigned> ids = options.properties;
    if (options.install && !options.force && std::find(ids.begin(), ids.end(), 5u) == ids.end())
        ids.push_back(5);
    for (unsigned id : ids) {
        o.answers.push_back(Ask(getProperty, id, options));
        // The first answer decides, as the plug-in's check runs once.
        if (!o.stateKnown)
            ReadState(o.answers.back(), o);
    }

    const bool stateAsked = o.stateKnown || std::find(ids.begin(), ids.end(), 5u) != ids.end();
    if (options.install) {
        const InstallDecision decision = DecideInstall(o.stateKnown, o.state, o.stateMessage);
        if (decision.install || options.force) {
            if (options.pause) {
                fwprintf(stderr, L"tzrhost: press Enter to call Install\n");
                fflush(stderr);
                char line[16];
                if (!fgets(line, sizeof line, stdin) && !feof(stdin))
                    fwprintf(stderr, L"tzrhost: standard input cannot be read; Install is called\n");
            }
            std::vector<wchar_t> message(options.installText.size() + kInstallMessageRoom, L'\0');
            wmemcpy(message.data(), options.installText.data(), options.installText.size());
            o.installResult = install(0, 0, message.data(), 0, options.language.c_str());
            o.installMessage = message.data();
            o.installCalled = true;
            o.exitCode = ExitCodeForInstall(o.installResult, o.installMessage);
        } else {
            o.notCalledReason = decision.reason;
            o.exitCode = decision.exitCode;
        }
    }
    if (stateAsked || o.installCalled) {
        Options wide = options;
        wide.capacity = kControllersCapacity;
        ReadControllers(Ask(getProperty, kControllersProperty, wide), o);
    }
    const unsigned code = Finish(options, o);
    plugin.reset();
    g_runOptions = nullptr;
    g_runOutcome = nullptr;
    return code;
}

}  // namespace

int main()
{
    // Before anything else loads: a DLL is taken from the system folder
    // only, never from the host's folder (where a planted copy would run
    // inside every installation) or the current directory.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetStandardOutputAside();
    int argc = 0;
    wchar_t** argv = SplitCommandLine(GetCommandLineW(), &argc);
    if (!argv) {
        fwprintf(stderr, L"tzrhost: cannot read the command line\n");
        return static_cast<int>(kExitUsage);
    }
    const unsigned code = Run(argc, argv);
    LocalFree(argv);
    return static_cast<int>(code);
}
