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
//   flash_progress=1        during those milliseconds the flash prints a
//                           "writing block N ..." line (61 bytes with CR LF) for
//                           every 5 ms, each write checked: a reader gone stops
//                           the printing, never the write (its record and the
//                           firmware follow); a full pipe holds the tool, and so
//                           the write, as it holds a real one
//   restart_effect=1        a flash takes effect at the next restart: it records
//                           N.pending_fw=V and N.fw stays as it was; a second
//                           flash replaces the pending version
//   machine=FOLDER          the controllers live in FOLDER\mnv_sim.ini (relative
//                           to the program's folder unless absolute): read there,
//                           and rewritten there by flashes, so several package
//                           folders, each with its own copy of the tool, share
//                           one machine. The other lines of the local file are
//                           laid over the machine's (e.g. the package's own
//                           image_version), apart from N.fw and N.pending_fw,
//                           which are the machine's alone.
//   encoding=utf16|utf16bare  answers in UTF-16LE, with or without a byte-order mark
//   linger_ms=N             every answer leaves a process behind that holds the
//                           output pipe for N milliseconds after the tool ended
//
// A flash first opens and reads its image (the -f name, relative to the
// current folder); when it cannot, it prints "Flash NVMe Controller firmware
// failed: cannot open image NAME (error N)", exits 1 and writes nothing.
//
// Every flash that writes also leaves mnv_sim.flash.<pid>.log in the
// machine's folder (beside the program unless machine= says otherwise): the
// controller, and the start and end of the write as UTC FILETIME values, so a
// test can tell whether two writes overlapped, wherever they came from. A
// record is never overwritten: a process id used again (its process ended)
// records in mnv_sim.flash.<pid>-2.log, and so on.
//
// The state file (the machine's mnv_sim.ini) is rewritten whole under a
// mutex shared by every simulator, through a temporary file moved over it,
// so a reader never sees half of it.
//
// Restarts: the simulator keeps a volatile value, named by the state file's
// full path, under HKEY_LOCAL_MACHINE\Software\TZR-Simulator\Boot. A start
// that finds it missing (the machine restarted: under Wine, the wineserver
// ended) first makes every N.pending_fw the controller's N.fw. Deleting the
// value stands in for a restart. Only a state file with restart_effect=1 or a
// pending version touches the registry.
//
// What fails inside the simulator itself (the state file, the registry, a
// record) says so in an "mnv_sim: ..." line on standard error; a flash whose
// firmware cannot be recorded prints "Flash NVMe Controller firmware failed:
// cannot record the firmware in PATH (error N)" and exits 1.
//
// Calls are appended, one command line per CR LF line, to mnv_sim.calls.log
// beside the program.
#include "win_handle.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kSuccessText[] = "Flash NVMe Controller firmware success";
const char kFailureText[] = "Flash NVMe Controller firmware failed";
const wchar_t kBootKey[] = L"Software\\TZR-Simulator\\Boot";
const wchar_t kStateMutex[] = L"TZR-Simulator-State";

std::wstring g_folder;   // the program's folder, with a trailing backslash
std::wstring g_machine;  // the machine's folder (state, flash records), likewise

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

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], n);
    return result;
}

// A line on standard error for what went wrong inside the simulator itself,
// so a test's output says why the machine did not behave.
void Note(const std::string& text)
{
    const std::string line = "mnv_sim: " + text + "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Reads a whole file; the error is 0 when it was read. Sharing delete lets a
// writer move a new state file over it meanwhile.
std::string ReadAll(const std::wstring& path, DWORD& error)
{
    std::string bytes;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        error = GetLastError();
        return bytes;
    }
    char chunk[65536];
    DWORD read = 0;
    BOOL ok = FALSE;
    while ((ok = ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) && read > 0)
        bytes.append(chunk, read);
    error = ok ? 0 : GetLastError();
    return bytes;
}

std::string ReadAll(const std::wstring& path)
{
    DWORD error = 0;
    return ReadAll(path, error);
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

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// N.fw and N.pending_fw: what the machine's controllers hold, never a
// package's to say.
bool IsFirmwareKey(const std::string& key)
{
    return !key.empty() && key[0] >= '0' && key[0] <= '9' && (EndsWith(key, ".fw") || EndsWith(key, ".pending_fw"));
}

// One key=value file as read, its lines kept for rewriting.
struct Settings {
    std::vector<std::string> lines;
    std::map<std::string, std::string> values;

    void Parse(const std::string& text)
    {
        lines.clear();
        values.clear();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
            const size_t equals = line.find('=');
            const std::string key = Trim(line.substr(0, equals));
            if (equals != std::string::npos && !key.empty() && key[0] != '#')
                values[key] = line.substr(equals + 1);  // values keep their blanks
            start = end + 1;
        }
    }

    // Sets key=value, or removes the key when value is null, keeping every
    // other line.
    void Set(const std::string& key, const std::string* value)
    {
        bool replaced = false;
        std::vector<std::string> kept;
        for (const std::string& line : lines) {
            const size_t equals = line.find('=');
            if (equals != std::string::npos && Trim(line.substr(0, equals)) == key) {
                if (value && !replaced)
                    kept.push_back(key + "=" + *value);
                replaced = true;
            } else {
                kept.push_back(line);
            }
        }
        if (value && !replaced)
            kept.push_back(key + "=" + *value);
        lines.swap(kept);
        if (value)
            values[key] = *value;
        else
            values.erase(key);
    }

    std::string Text() const
    {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\r\n";
        return text;
    }
};

struct Scenario {
    std::map<std::string, std::string> values;  // the machine's, with the package's laid over
    std::wstring statePath;                     // the file the controllers live in

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

// The folder machine= names, as a full path with a trailing backslash.
std::wstring MachineFolder(const std::string& setting)
{
    std::wstring folder = Wide(Trim(setting));
    const bool absolute = (folder.size() >= 2 && folder[1] == L':') || folder.rfind(L"\\\\", 0) == 0;
    if (!absolute)
        folder = g_folder + folder;
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
    if (n > 0 && n < MAX_PATH)
        folder.assign(full, n);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder + L"\\";
}

Scenario LoadScenario()
{
    Settings local;
    local.Parse(ReadAll(g_folder + L"mnv_sim.ini"));
    Scenario scenario;
    g_machine = g_folder;
    if (local.values.count("machine") == 0) {
        scenario.values = local.values;
    } else {
        g_machine = MachineFolder(local.values["machine"]);
        DWORD error = 0;
        Settings machine;
        machine.Parse(ReadAll(g_machine + L"mnv_sim.ini", error));
        if (error != 0)
            Note("cannot read the machine's state " + Utf8(g_machine) + "mnv_sim.ini (error " +
                 std::to_string(error) + ")");
        scenario.values = machine.values;
        for (const auto& entry : local.values)
            if (entry.first != "machine" && !IsFirmwareKey(entry.first))
                scenario.values[entry.first] = entry.second;
    }
    scenario.statePath = g_machine + L"mnv_sim.ini";
    return scenario;
}

// Held while a simulator reads and rewrites the state file, so two rewrites
// (a flash and another tool's restart) never lose one another's change.
class StateLock {
public:
    StateLock() : m_mutex(CreateMutexW(nullptr, FALSE, kStateMutex))
    {
        if (!m_mutex) {
            m_error = GetLastError();
            return;
        }
        const DWORD wait = WaitForSingleObject(m_mutex.get(), 30000);
        m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        m_error = m_held ? 0 : (wait == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
    }
    ~StateLock()
    {
        if (m_held)
            ReleaseMutex(m_mutex.get());
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    DWORD Error() const { return m_error; }

private:
    UniqueHandle m_mutex;
    bool m_held = false;
    DWORD m_error = 0;
};

// Replaces the state file whole: a temporary file beside it, moved over it.
// A reader may hold the old one open a moment (on Windows without sharing
// delete), so the move is tried again for a while. Answers 0 or the error.
DWORD WriteState(const std::wstring& path, const Settings& state)
{
    const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    const std::string text = state.Text();
    {
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!file)
            return GetLastError();
        DWORD written = 0;
        const BOOL wrote = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (!wrote || written != text.size()) {
            const DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();
            file.reset();
            DeleteFileW(temporary.c_str());
            return error;
        }
    }
    DWORD error = 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
            return 0;
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            break;
        Sleep(10);
    }
    DeleteFileW(temporary.c_str());
    return error;
}

// Sets (or, for a null value, removes) keys in the state file as it is now,
// not as this simulator read it at its start. Answers 0 or the error.
DWORD UpdateState(Scenario& scenario, const std::map<std::string, const std::string*>& changes)
{
    const StateLock lock;
    if (lock.Error() != 0)
        return lock.Error();
    DWORD error = 0;
    Settings state;
    state.Parse(ReadAll(scenario.statePath, error));
    if (error != 0)
        return error;
    for (const auto& change : changes) {
        state.Set(change.first, change.second);
        if (change.second)
            scenario.values[change.first] = *change.second;
        else
            scenario.values.erase(change.first);
    }
    return WriteState(scenario.statePath, state);
}

// At the first start on a state file since the machine started, firmware that
// waited for a restart becomes the controllers' firmware. The mark of "seen
// this boot" is a volatile registry value, gone when the machine restarts.
void TakeEffectOfRestart(Scenario& scenario)
{
    bool pending = scenario.Get("restart_effect") == "1";
    for (const auto& entry : scenario.values)
        pending = pending || (IsFirmwareKey(entry.first) && EndsWith(entry.first, ".pending_fw"));
    if (!pending)
        return;
    const StateLock lock;  // one simulator takes the restart; the others see its mark
    if (lock.Error() != 0) {
        Note("cannot take the state lock (error " + std::to_string(lock.Error()) + ")");
        return;
    }
    UniqueHkey key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kBootKey, 0, nullptr, REG_OPTION_VOLATILE,
                                     KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        Note("cannot open HKLM\\" + Utf8(kBootKey) + " (error " + std::to_string(status) + ")");
        return;
    }
    status = RegQueryValueExW(key.get(), scenario.statePath.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        return;
    if (status != ERROR_FILE_NOT_FOUND) {
        Note("cannot read the boot mark of " + Utf8(scenario.statePath) + " (error " + std::to_string(status) + ")");
        return;
    }
    DWORD error = 0;
    Settings state;
    state.Parse(ReadAll(scenario.statePath, error));
    bool changed = false;
    const std::map<std::string, std::string> values = state.values;
    for (const auto& entry : values) {
        if (!IsFirmwareKey(entry.first) || !EndsWith(entry.first, ".pending_fw"))
            continue;
        const std::string fw = entry.first.substr(0, entry.first.size() - strlen(".pending_fw")) + ".fw";
        state.Set(fw, &entry.second);
        state.Set(entry.first, nullptr);
        scenario.values[fw] = entry.second;
        scenario.values.erase(entry.first);
        changed = true;
    }
    if (error == 0 && changed)
        error = WriteState(scenario.statePath, state);
    if (error != 0) {
        // Unmarked, so the next start tries again.
        Note("cannot apply the pending firmware in " + Utf8(scenario.statePath) + " (error " + std::to_string(error) +
             ")");
        return;
    }
    const DWORD mark = 1;
    status = RegSetValueExW(key.get(), scenario.statePath.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mark),
                            sizeof mark);
    if (status != ERROR_SUCCESS)
        Note("cannot set the boot mark of " + Utf8(scenario.statePath) + " (error " + std::to_string(status) + ")");
}

bool g_utf16 = false;
bool g_utf16Mark = false;

// Writes an answer's bytes; false when the output is gone (its reader ended).
bool Emit(const std::string& text, bool toStderr)
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
            return false;
        done += written;
    }
    return true;
}

std::string LineEnd(const Scenario& scenario)
{
    return scenario.Get("line_end", "crlf") == "lf" ? "\n" : "\r\n";
}

// Joins an answer's lines with the scenario's line ends, after the filler
// and NUL lines it asks for (unless an earlier part of the same answer had
// them). A part that more of the answer follows ends every line.
std::string Answer(const Scenario& scenario, std::vector<std::string> lines, bool preamble = true, bool last = true)
{
    const std::string eol = LineEnd(scenario);
    std::vector<std::string> all;
    const long padding = preamble ? atol(scenario.Get("padding", "0").c_str()) : 0;
    long padded = 0;
    for (long i = 0; padded < padding; ++i) {
        char filler[64];
        const int n = snprintf(filler, sizeof filler, "progress %08ld ..............................", i);
        all.push_back(filler);
        padded += n + static_cast<long>(eol.size());
    }
    if (preamble && scenario.Get("nul") == "1")
        all.push_back(std::string("binary\0data\0here", 16));
    all.insert(all.end(), lines.begin(), lines.end());
    std::string text;
    for (size_t i = 0; i < all.size(); ++i) {
        text += all[i];
        if (i + 1 < all.size() || !last || scenario.Get("final_line_end", "1") != "0")
            text += eol;
    }
    return text;
}

int ListAdapters(const Scenario& scenario, bool toStderr)
{
    if (scenario.Has("list_file")) {
        Emit(ReadAll(g_folder + Wide(scenario.Get("list_file"))), toStderr);
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

// Reads the image as the tool does before it writes anything; 0 or the error.
DWORD ReadImage(const std::wstring& image)
{
    UniqueHandle file(CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return GetLastError();
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) {
        if (read == 0)
            return 0;
    }
    return GetLastError();
}

// The write's duration. With progress, a line for every 5 milliseconds gone
// (a slow Sleep is caught up, a few lines at a time, so the output grows
// with the time and not with the machine's load), each write checked: once
// the output is gone the printing stops and the write goes on; a full pipe
// holds the tool in WriteFile as long as it stays full.
void Write(const Scenario& scenario, bool toStderr)
{
    const ULONGLONG duration = static_cast<ULONGLONG>(atol(scenario.Get("flash_ms", "0").c_str()));
    if (scenario.Get("flash_progress") != "1") {
        Sleep(static_cast<DWORD>(duration));
        return;
    }
    const std::string eol = LineEnd(scenario);
    const ULONGLONG start = GetTickCount64();
    bool printing = true;
    ULONGLONG block = 0;
    for (;;) {
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= duration)
            break;
        for (int burst = 0; printing && block <= elapsed / 5 && burst < 20; ++burst, ++block) {
            char line[80];
            snprintf(line, sizeof line, "writing block %08llu ....................................", block);
            printing = Emit(line + eol, toStderr);
        }
        const ULONGLONG left = duration - elapsed;
        Sleep(static_cast<DWORD>(left < 5 ? left : 5));
    }
}

// mnv_sim.flash.<pid>.log in the machine's folder. A process id comes back
// once its process ended, and a record of an earlier write under it is never
// overwritten: the next free mnv_sim.flash.<pid>-K.log takes the record.
void RecordWrite(const std::string& record)
{
    const std::wstring stem = g_machine + L"mnv_sim.flash." + std::to_wstring(GetCurrentProcessId());
    for (int k = 1; k < 1000; ++k) {
        const std::wstring path = stem + (k == 1 ? std::wstring() : L"-" + std::to_wstring(k)) + L".log";
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr));
        if (!file && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr))
            Note("cannot record the write in " + Utf8(path) + " (error " + std::to_string(GetLastError()) + ")");
        return;
    }
    Note("cannot record the write: every name of " + Utf8(stem) + " is taken");
}

int Flash(Scenario& scenario, int n, const std::wstring& image, bool toStderr)
{
    if (n < 1 || n > scenario.Count()) {
        Emit(Answer(scenario, {"Error: controller " + std::to_string(n) + " not found"}), toStderr);
        return 1;
    }
    const std::string outcome = scenario.Controller(n, "flash").empty() ? "success" : scenario.Controller(n, "flash");
    const std::string start = "Flashing controller " + std::to_string(n) + " with image " + Utf8(image);
    const DWORD imageError = ReadImage(image);
    if (imageError != 0) {
        Emit(Answer(scenario, {start, std::string(kFailureText) + ": cannot open image " + Utf8(image) + " (error " +
                                          std::to_string(imageError) + ")"}),
             toStderr);
        return 1;
    }
    // With progress the start line comes before the write, as the lines
    // during it follow it; otherwise the whole answer comes after.
    const bool progress = scenario.Get("flash_progress") == "1";
    if (progress)
        Emit(Answer(scenario, {start}, true, false), toStderr);
    std::vector<std::string> lines;
    if (!progress)
        lines.push_back(start);
    FILETIME began;
    GetSystemTimeAsFileTime(&began);
    Write(scenario, toStderr);
    FILETIME ended;
    GetSystemTimeAsFileTime(&ended);
    const auto ticks = [](const FILETIME& t) {
        return std::to_string((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    RecordWrite(std::to_string(n) + " " + ticks(began) + " " + ticks(ended) + "\r\n");
    if (outcome == "fail") {
        lines.push_back(scenario.HasController(n, "flash_text") ? scenario.Controller(n, "flash_text") : kFailureText);
        Emit(Answer(scenario, lines, !progress), toStderr);
        return 1;
    }
    if (outcome == "crash") {
        Emit(Answer(scenario, lines, !progress), toStderr);
        TerminateProcess(GetCurrentProcess(), 0xC0000005u);
        return 1;
    }
    if (outcome == "long")
        for (int i = 0; i < 4000; ++i)
            lines.push_back("writing block " + std::to_string(i) + " of 4000 ..............");
    std::string done = kSuccessText;
    if (outcome == "upper")
        done = "FLASH NVME CONTROLLER FIRMWARE SUCCESS";
    int code = 0;
    if (scenario.Has("image_version")) {
        const std::string version = scenario.Get("image_version");
        const std::string key = std::to_string(n) + (scenario.Get("restart_effect") == "1" ? ".pending_fw" : ".fw");
        const DWORD error = UpdateState(scenario, {{key, &version}});
        if (error != 0) {
            done = std::string(kFailureText) + ": cannot record the firmware in " + Utf8(scenario.statePath) +
                   " (error " + std::to_string(error) + ")";
            code = 1;
        }
    }
    if (outcome == "stderr") {
        Emit(Answer(scenario, lines, !progress), toStderr);
        Emit(Answer(scenario, {done}), true);
    } else {
        lines.push_back(done);
        Emit(Answer(scenario, lines, !progress), toStderr);
    }
    return code;
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
    std::wstring commandLine = L"mnv_cli.exe --linger " + Wide(milliseconds);
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
    TakeEffectOfRestart(scenario);
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
            code = Flash(scenario, _wtoi(args[0].c_str()), hasImage ? args[5] : std::wstring(), toStderr);
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
