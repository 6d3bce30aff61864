// mnv_cli.exe simulator: a stand-in for the controller vendor's tool that
// answers the command lines the flash engine uses, driven by a scenario file
// next to the program, and records every command line it was started with.
//
//   mnv_cli.exe adapter --list                    controller count
//   mnv_cli.exe N info -o hba                     one controller's ids and firmware
//   mnv_cli.exe N flash -o hba -f IMAGE -c 1 -s 1 flash one controller
//
// Scenario (mnv_sim.ini beside the program; key=value lines, # comments):
//   count=N                 number reported (default: highest controller configured)
//   count_text=TEXT         printed instead of the number (e.g. 99999999999)
//   count_label=TEXT        wording before the number
//                           (default "Total number of NVMe Controllers:")
//   line_end=crlf|lf        line ends (default crlf)
//   final_line_end=0|1      0: the last line of an answer has no line end
//   stream=stdout|stderr    where answers go (default stdout)
//   padding=BYTES           filler lines before every answer (long output)
//   nul=1                   a line holding NUL bytes before every answer
//   exit_code=N             exit code of every answer (default 0)
//   list_file=NAME          "adapter --list" prints this file's bytes as they are
//   image_version=V         firmware a successful flash leaves on the controller
//   N.svid=, N.sdid=, N.fw= controller N's ids and firmware (absent: no line)
//   N.flash=success|fail|upper|crash|long|stderr   outcome of flashing N
//   N.flash_text=TEXT       what a failing flash prints
//   flash_ms=N              a flash takes N milliseconds, as a real one takes long
//   encoding=utf16|utf16bare  answers in UTF-16LE, with or without a byte-order mark
//   linger_ms=N             every answer leaves a process behind that holds the
//                           output pipe for N milliseconds after the tool ended
//
// Every flash also writes mnv_sim.flash.<pid>.log beside the program: the
// controller, and the start and end of the write as UTC FILETIME values, so a
// test can tell whether two writes overlapped.
//
// Calls are appended, one command line per CR LF line, to mnv_sim.calls.log
// beside the program.
#include "win_handle.h"

#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

const char kSuccessText[] = "Flash NVMe Controller firmware success";

std::wstring g_folder;  // the program's folder, with a trailing backslash

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string result(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], n, nullptr, nullptr);
    return result;
}

std::string ReadAll(const std::wstring& path, bool& found)
{
    std::string bytes;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    found = file.valid();
    if (!found)
        return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes, bool append)
{
    UniqueHandle file(CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

struct Scenario {
    std::vector<std::string> lines;  // the file as read, for rewriting
    std::map<std::string, std::string> values;

    std::string Get(const std::string& key, const std::string& fallback = std::string()) const
    {
        const auto found = values.find(key);
        return found == values.end() ? fallback : found->second;
    }
    bool Has(const std::string& key) const { return values.count(key) != 0; }
    std::string Controller(int n, const char* key) const { return Get(std::to_string(n) + "." + key); }
    bool HasController(int n, const char* key) const { return Has(std::to_string(n) + "." + key); }

    int Count() const
    {
        if (Has("count"))
            return atoi(Get("count").c_str());
        int highest = 0;
        for (const auto& entry : values) {
            const int n = atoi(entry.first.c_str());
            if (n > highest && entry.first.find('.') != std::string::npos)
                highest = n;
        }
        return highest;
    }
};

Scenario LoadScenario()
{
    Scenario scenario;
    bool found = false;
    const std::string text = ReadAll(g_folder + L"mnv_sim.ini", found);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        scenario.lines.push_back(line);
        const size_t equals = line.find('=');
        const std::string key = Trim(line.substr(0, equals));
        if (equals != std::string::npos && !key.empty() && key[0] != '#')
            scenario.values[key] = line.substr(equals + 1);  // values keep their blanks
        start = end + 1;
    }
    return scenario;
}

// Sets key=value in the scenario file, keeping every other line.
void UpdateScenario(Scenario& scenario, const std::string& key, const std::string& value)
{
    bool replaced = false;
    for (std::string& line : scenario.lines) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos && Trim(line.substr(0, equals)) == key) {
            line = key + "=" + value;
            replaced = true;
        }
    }
    if (!replaced)
        scenario.lines.push_back(key + "=" + value);
    std::string text;
    for (const std::string& line : scenario.lines)
        text += line + "\r\n";
    WriteAll(g_folder + L"mnv_sim.ini", text, false);
    scenario.values[key] = value;
}

bool g_utf16 = false;
bool g_utf16Mark = false;

void Emit(const std::string& text, bool toStderr)
{
    std::string bytes = text;
    if (g_utf16) {
        bytes.clear();
        if (g_utf16Mark) {
            bytes += '\xFF';
            bytes += '\xFE';
            g_utf16Mark = false;  // once per answer
        }
        for (const char c : text) {
            bytes += c;
            bytes += '\0';
        }
    }
    HANDLE out = GetStdHandle(toStderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(bytes.size() - done > 65536 ? 65536 : bytes.size() - done);
        if (!WriteFile(out, bytes.data() + done, piece, &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

// Joins an answer's lines with the scenario's line ends, after the filler
// and NUL lines it asks for.
std::string Answer(const Scenario& scenario, std::vector<std::string> lines)
{
    const std::string eol = scenario.Get("line_end", "crlf") == "lf" ? "\n" : "\r\n";
    std::vector<std::string> all;
    const long padding = atol(scenario.Get("padding", "0").c_str());
    long padded = 0;
    for (long i = 0; padded < padding; ++i) {
        char filler[64];
        const int n = snprintf(filler, sizeof filler, "progress %08ld ..............................", i);
        all.push_back(filler);
        padded += n + static_cast<long>(eol.size());
    }
    if (scenario.Get("nul") == "1")
        all.push_back(std::string("binary\0data\0here", 16));
    all.insert(all.end(), lines.begin(), lines.end());
    std::string text;
    for (size_t i = 0; i < all.size(); ++i) {
        text += all[i];
        if (i + 1 < all.size() || scenario.Get("final_line_end", "1") != "0")
            text += eol;
    }
    return text;
}

int ListAdapters(const Scenario& scenario, bool toStderr)
{
    if (scenario.Has("list_file")) {
        bool found = false;
        const std::string name = scenario.Get("list_file");
        Emit(ReadAll(g_folder + std::wstring(name.begin(), name.end()), found), toStderr);
        return 0;
    }
    const std::string number = scenario.Has("count_text") ? scenario.Get("count_text") : std::to_string(scenario.Count());
    Emit(Answer(scenario, {"NVMe boot controller adapters",
                           scenario.Get("count_label", "Total number of NVMe Controllers:") + " " + number}),
         toStderr);
    return 0;
}

int Info(const Scenario& scenario, int n, bool toStderr)
{
    if (n < 1 || n > scenario.Count()) {
        Emit(Answer(scenario, {"Error: controller " + std::to_string(n) + " not found"}), toStderr);
        return 1;
    }
    // The firmware line comes last, so a scenario without a final line end
    // leaves it unterminated.
    std::vector<std::string> lines = {"Controller " + std::to_string(n), "Adapter type: NVMe boot controller",
                                      "Status: optimal"};
    if (scenario.HasController(n, "svid"))
        lines.push_back("SVID: " + scenario.Controller(n, "svid"));
    if (scenario.HasController(n, "sdid"))
        lines.push_back("SDID: " + scenario.Controller(n, "sdid"));
    if (scenario.HasController(n, "fw"))
        lines.push_back("Firmware Version: " + scenario.Controller(n, "fw"));
    Emit(Answer(scenario, lines), toStderr);
    return 0;
}

int Flash(Scenario& scenario, int n, const std::string& image, bool toStderr)
{
    if (n < 1 || n > scenario.Count()) {
        Emit(Answer(scenario, {"Error: controller " + std::to_string(n) + " not found"}), toStderr);
        return 1;
    }
    const std::string outcome = scenario.Controller(n, "flash").empty() ? "success" : scenario.Controller(n, "flash");
    FILETIME began;
    GetSystemTimeAsFileTime(&began);
    Sleep(static_cast<DWORD>(atol(scenario.Get("flash_ms", "0").c_str())));
    FILETIME ended;
    GetSystemTimeAsFileTime(&ended);
    const auto ticks = [](const FILETIME& t) {
        return std::to_string((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    WriteAll(g_folder + L"mnv_sim.flash." + std::to_wstring(GetCurrentProcessId()) + L".log",
             std::to_string(n) + " " + ticks(began) + " " + ticks(ended) + "\r\n", false);
    const std::string start = "Flashing controller " + std::to_string(n) + " with image " + image;
    if (outcome == "fail") {
        const std::string text = scenario.HasController(n, "flash_text") ? scenario.Controller(n, "flash_text")
                                                                         : "Flash NVMe Controller firmware failed";
        Emit(Answer(scenario, {start, text}), toStderr);
        return 1;
    }
    if (outcome == "crash") {
        Emit(Answer(scenario, {start}), toStderr);
        TerminateProcess(GetCurrentProcess(), 0xC0000005u);
        return 1;
    }
    std::vector<std::string> lines = {start};
    if (outcome == "long")
        for (int i = 0; i < 4000; ++i)
            lines.push_back("writing block " + std::to_string(i) + " of 4000 ..............");
    std::string done = kSuccessText;
    if (outcome == "upper")
        done = "FLASH NVME CONTROLLER FIRMWARE SUCCESS";
    if (outcome == "stderr") {
        Emit(Answer(scenario, lines), toStderr);
        Emit(Answer(scenario, {done}), true);
    } else {
        lines.push_back(done);
        Emit(Answer(scenario, lines), toStderr);
    }
    if (scenario.Has("image_version"))
        UpdateScenario(scenario, std::to_string(n) + ".fw", scenario.Get("image_version"));
    return 0;
}

bool IsNumber(const std::wstring& text)
{
    if (text.empty())
        return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9')
            return false;
    return true;
}

// A process of ours that inherits the pipe and holds it after we end.
void LeaveLingerer(const std::string& milliseconds)
{
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    std::wstring commandLine = L"mnv_cli.exe --linger " + std::wstring(milliseconds.begin(), milliseconds.end());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        UniqueHandle thread(pi.hThread);
        UniqueHandle process(pi.hProcess);
    }
}

int Run(int argc, wchar_t** argv)
{
    Scenario scenario = LoadScenario();
    const bool toStderr = scenario.Get("stream") == "stderr";
    g_utf16 = scenario.Get("encoding").rfind("utf16", 0) == 0;
    g_utf16Mark = scenario.Get("encoding") == "utf16";
    if (scenario.Has("linger_ms"))
        LeaveLingerer(scenario.Get("linger_ms"));
    std::vector<std::wstring> args(argv + 1, argv + argc);
    int code = 2;
    bool known = false;
    if (args.size() == 2 && args[0] == L"adapter" && args[1] == L"--list") {
        known = true;
        code = ListAdapters(scenario, toStderr);
    } else if (args.size() == 4 && IsNumber(args[0]) && args[1] == L"info" && args[2] == L"-o" && args[3] == L"hba") {
        known = true;
        code = Info(scenario, _wtoi(args[0].c_str()), toStderr);
    } else if (args.size() >= 9 && IsNumber(args[0]) && args[1] == L"flash" && args[2] == L"-o" &&
               args[3] == L"hba" && args[4] == L"-f") {
        // An empty image name disappears from the command line: "-f -c 1 -s 1".
        const bool hasImage = args.size() == 10;
        const size_t rest = hasImage ? 6 : 5;
        if (args.size() == rest + 4 && args[rest] == L"-c" &&
            args[rest + 1] == L"1" && args[rest + 2] == L"-s" && args[rest + 3] == L"1") {
            known = true;
            code = Flash(scenario, _wtoi(args[0].c_str()), hasImage ? Utf8(args[5]) : std::string(), toStderr);
        }
    }
    if (!known) {
        Emit(Answer(scenario, {"mnv_cli: unknown command"}), toStderr);
        return 2;
    }
    if (scenario.Has("exit_code"))
        code = atoi(scenario.Get("exit_code").c_str());
    return code;
}

}  // namespace

int main()
{
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    g_folder.assign(self, n < MAX_PATH ? n : 0);
    g_folder.erase(g_folder.find_last_of(L'\\') + 1);

    const wchar_t* commandLine = GetCommandLineW();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    if (!argv)
        return 2;
    if (argc == 3 && std::wstring(argv[1]) == L"--linger") {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        LocalFree(argv);
        return 0;
    }
    WriteAll(g_folder + L"mnv_sim.calls.log", Utf8(commandLine) + "\r\n", true);

    const int code = Run(argc, argv);
    LocalFree(argv);
    return code;
}
