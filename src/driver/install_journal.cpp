#include "install_journal.h"

#include "device_binding.h"
#include "driver_api.h"
#include "driver_failure.h"

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
const wchar_t kJournalPattern[] = L"tzrundo-*.journal";
const char kJournalHeader[] = "tzr install journal 1\r\n";

// ---- the test-only end point -------------------------------------------
//
// TZR_TEST_END_AT=record:N or undo:N ends the process right after the Nth
// journal record or undo step of this process, as a kill would: the one way
// a test stops an installation at a known step without timing it.
struct EndPoint {
    wchar_t kind = 0;
    unsigned long at = 0;
    unsigned long count = 0;
};

EndPoint& TestEndPoint()
{
    static EndPoint point = [] {
        EndPoint p;
        wchar_t value[64] = L"";
        const DWORD n = GetEnvironmentVariableW(L"TZR_TEST_END_AT", value, 64);
        if (n > 0 && n < 64) {
            const wchar_t* colon = wcschr(value, L':');
            if (colon && (wcsncmp(value, L"record", 6) == 0 || wcsncmp(value, L"undo", 4) == 0)) {
                p.kind = value[0];
                p.at = wcstoul(colon + 1, nullptr, 10);
            }
        }
        return p;
    }();
    return point;
}

void StepTaken(wchar_t kind)
{
    EndPoint& point = TestEndPoint();
    if (point.kind == kind && ++point.count == point.at)
        TerminateProcess(GetCurrentProcess(), 3);
}

// ---- the journal's text: one record a line, fields apart by tabs --------

std::wstring Escaped(const std::wstring& field)
{
    std::wstring out;
    for (wchar_t c : field) {
        if (c == L'%' || c == L'\t' || c == L'\r' || c == L'\n') {
            wchar_t code[4];
            swprintf(code, 4, L"%%%02X", static_cast<unsigned>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring Unescaped(const std::wstring& field)
{
    std::wstring out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == L'%' && i + 2 < field.size()) {
            out += static_cast<wchar_t>(wcstoul(field.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::wstring Hex(const std::vector<BYTE>& data)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    for (BYTE b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<BYTE> FromHex(const std::wstring& text)
{
    std::vector<BYTE> out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<BYTE>(wcstoul(text.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string Line(const InstallJournal::Step& step)
{
    std::wstring line(1, static_cast<wchar_t>(step.kind));
    for (const std::wstring* field : {&step.a, &step.b, &step.c})
        line += L'\t' + Escaped(*field);
    line += step.flag ? L"\t1" : L"\t0";
    line += L'\t' + std::to_wstring(step.type) + L'\t' + Hex(step.data) + L"\r\n";
    return Utf8(line);
}

// A record read back; false for a line cut by the kill (no line end) or
// one of another form.
bool ParseLine(const std::wstring& line, InstallJournal::Step& step)
{
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find(L'\t', start)) != std::wstring::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    if (fields.size() != 7 || fields[0].size() != 1)
        return false;
    step.kind = static_cast<InstallJournal::Kind>(fields[0][0]);
    step.a = Unescaped(fields[1]);
    step.b = Unescaped(fields[2]);
    step.c = Unescaped(fields[3]);
    step.flag = fields[4] == L"1";
    step.type = wcstoul(fields[5].c_str(), nullptr, 10);
    step.data = FromHex(fields[6]);
    return true;
}

// ---- registry roots by name ----------------------------------------------

struct RootName {
    HKEY root;
    const wchar_t* name;
};
const RootName kRoots[] = {{HKEY_LOCAL_MACHINE, L"HKLM"},
                           {HKEY_CURRENT_USER, L"HKCU"},
                           {HKEY_CLASSES_ROOT, L"HKCR"},
                           {HKEY_USERS, L"HKU"}};

const wchar_t* NameOfRoot(HKEY root)
{
    for (const RootName& entry : kRoots)
        if (entry.root == root)
            return entry.name;
    return nullptr;
}

HKEY RootNamed(const std::wstring& name)
{
    for (const RootName& entry : kRoots)
        if (name == entry.name)
            return entry.root;
    return nullptr;
}

bool KeyExists(HKEY root, const std::wstring& subkey)
{
    UniqueHkey key;
    return driverapi::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

// ---- taking one step back --------------------------------------------------

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Gone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What undoing one step did: a line when it did something or failed, and
// whether it failed.
struct UndoneStep {
    std::wstring line;
    bool failed = false;
};

UndoneStep NotUndone(const std::wstring& call, DWORD error)
{
    return {L"Not undone: " + driverfail::CallReason(call, error), true};
}

UndoneStep DeleteIfThere(const std::wstring& path, const std::wstring& done)
{
    SetLastError(0xdeadbeef);
    if (driverapi::DeleteFileW(path.c_str()))
        return {done};
    const DWORD error = GetLastError();
    return Gone(error) ? UndoneStep{} : NotUndone(L"DeleteFileW(" + path + L")", error);
}

UndoneStep MoveBack(const std::wstring& from, const std::wstring& to, DWORD flags, const std::wstring& done)
{
    SetLastError(0xdeadbeef);
    if (driverapi::MoveFileExW(from.c_str(), to.c_str(), flags))
        return {done};
    return NotUndone(L"MoveFileExW(" + from + L", " + to + L")", GetLastError());
}

UndoneStep UndoRegistry(const InstallJournal::Step& step)
{
    const HKEY root = RootNamed(step.a);
    const std::wstring where = step.a + L"\\" + step.b;
    if (!root)
        return {L"Not undone: the registry root " + step.a + L" is not one this system takes back", true};
    if (step.kind == InstallJournal::kKey) {
        const LSTATUS status = driverapi::RegDeleteTreeW(root, step.b.c_str());
        if (status == ERROR_SUCCESS)
            return {L"Undone: removed registry key " + where + L", which this installation created"};
        return Gone(static_cast<DWORD>(status)) ? UndoneStep{}
                                                : NotUndone(L"RegDeleteTreeW(" + where + L")", static_cast<DWORD>(status));
    }
    const std::wstring value = where + L"\\" + (step.c.empty() ? std::wstring(L"(default)") : step.c);
    UniqueHkey key;
    LSTATUS status = step.flag ? driverapi::RegCreateKeyExW(root, step.b.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                            key.put(), nullptr)
                               : driverapi::RegOpenKeyExW(root, step.b.c_str(), 0, KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS)
        return !step.flag && Gone(static_cast<DWORD>(status))
                   ? UndoneStep{}
                   : NotUndone((step.flag ? L"RegCreateKeyExW(" : L"RegOpenKeyExW(") + where + L")",
                               static_cast<DWORD>(status));
    if (step.flag) {
        status = driverapi::RegSetValueExW(key.get(), step.c.c_str(), 0, step.type,
                                           step.data.empty() ? nullptr : step.data.data(),
                                           static_cast<DWORD>(step.data.size()));
        return status == ERROR_SUCCESS ? UndoneStep{L"Undone: put back the earlier registry value " + value}
                                       : NotUndone(L"RegSetValueExW(" + value + L")", static_cast<DWORD>(status));
    }
    status = driverapi::RegDeleteValueW(key.get(), step.c.c_str());
    if (status == ERROR_SUCCESS)
        return {L"Undone: removed registry value " + value + L", which this installation wrote"};
    return Gone(static_cast<DWORD>(status)) ? UndoneStep{}
                                            : NotUndone(L"RegDeleteValueW(" + value + L")", static_cast<DWORD>(status));
}

// The INF files of the system's INF folder with the same bytes as inf.
std::vector<std::wstring> CopiesInInfFolder(const std::wstring& inf)
{
    std::vector<std::wstring> names;
    const CStr folder = SystemInfFolder();
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\*.inf").c_str(), &found));
    for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found) != FALSE)
        if (SameFileBytes(folder + L"\\" + found.cFileName, inf))
            names.push_back(found.cFileName);
    return names;
}

UndoneStep UndoStagedInf(const InstallJournal::Step& step)
{
    const CStr folder = SystemInfFolder();
    const std::wstring before = L"|" + step.b;
    for (const std::wstring& name : CopiesInInfFolder(step.a)) {
        if (before.find(L"|" + name + L"|") != std::wstring::npos)
            continue;
        // The system's own way to take a driver package out of the INF
        // folder, its precompiled .pnf with it where the system removes that.
        SetLastError(0xdeadbeef);
        if (!driverapi::SetupUninstallOEMInfW(name.c_str(), SUOI_FORCEDELETE, nullptr))
            return NotUndone(L"SetupUninstallOEMInfW(" + name + L")", GetLastError());
        const std::wstring pnf = folder + L"\\" + name.substr(0, name.size() - 4) + L".pnf";
        const UndoneStep compiled = DeleteIfThere(pnf, std::wstring());
        if (compiled.failed)
            return compiled;
        return {L"Undone: removed the driver package " + folder + L"\\" + name + L", which this installation staged"};
    }
    return {};
}

UndoneStep UndoDeviceNode(const std::wstring& instanceId)
{
    UniqueDevInfoSet set(driverapi::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set)
        return NotUndone(L"SetupDiCreateDeviceInfoList", GetLastError());
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    SetLastError(0xdeadbeef);
    if (!driverapi::SetupDiOpenDeviceInfoW(set.get(), instanceId.c_str(), nullptr, 0, &device))
        return GetLastError() == ERROR_NO_SUCH_DEVINST
                   ? UndoneStep{}
                   : NotUndone(L"SetupDiOpenDeviceInfoW(" + instanceId + L")", GetLastError());
    SetLastError(0xdeadbeef);
    if (!driverapi::SetupDiRemoveDevice(set.get(), &device))
        return NotUndone(L"SetupDiRemoveDevice(" + instanceId + L")", GetLastError());
    return {L"Undone: removed device node " + instanceId + L", which this installation made"};
}

UndoneStep UndoStep(const InstallJournal::Step& step)
{
    const std::wstring& path = step.a;
    switch (step.kind) {
    case InstallJournal::kTemporary:
    case InstallJournal::kBackup:
        // A copy that only this run used: nothing to say when it goes.
        return DeleteIfThere(path, std::wstring());
    case InstallJournal::kCreated:
        return DeleteIfThere(path, L"Undone: removed " + path + L", which this installation created");
    case InstallJournal::kReplaced:
        // The kept copy is whole (it was recorded after the copy); gone, it
        // was put back by an undo that was itself cut short.
        if (!Exists(step.b))
            return {};
        return MoveBack(step.b, path, MOVEFILE_REPLACE_EXISTING, L"Undone: put back the earlier " + path);
    case InstallJournal::kDeleted:
        if (!Exists(step.b))
            return {};
        // Still there: the move aside never happened, and the kept name is
        // only the empty file that reserved it.
        if (Exists(path))
            return DeleteIfThere(step.b, std::wstring());
        return MoveBack(step.b, path, MOVEFILE_REPLACE_EXISTING, L"Undone: put back the earlier " + path);
    case InstallJournal::kRenamed:
        if (!Exists(step.b) || Exists(path))
            return {};
        return MoveBack(step.b, path, 0, L"Undone: renamed " + step.b + L" back to " + path);
    case InstallJournal::kScheduled: {
        std::wstring failedCall;
        const DWORD error = UnscheduleAtRestart(CStr(path.c_str()), CStr(step.b.c_str()), failedCall);
        if (error != ERROR_SUCCESS)
            return NotUndone(failedCall, error);
        if (step.flag) {
            const UndoneStep removed = DeleteIfThere(path, std::wstring());
            if (removed.failed)
                return removed;
        }
        return {L"Undone: unscheduled the restart operation on " + path};
    }
    case InstallJournal::kService: {
        UniqueScHandle manager(driverapi::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager)
            return NotUndone(L"OpenSCManagerW", GetLastError());
        SetLastError(0xdeadbeef);
        UniqueScHandle service(driverapi::OpenServiceW(manager.get(), path.c_str(), DELETE));
        if (!service)
            return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? UndoneStep{}
                                                                   : NotUndone(L"OpenServiceW(" + path + L")", GetLastError());
        SetLastError(0xdeadbeef);
        if (!driverapi::DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return NotUndone(L"DeleteService(" + path + L")", GetLastError());
        return {L"Undone: deleted service " + path + L", which this installation created"};
    }
    case InstallJournal::kKey:
    case InstallJournal::kValue:
        return UndoRegistry(step);
    case InstallJournal::kStagedInf:
        return UndoStagedInf(step);
    case InstallJournal::kDeviceNode:
        return UndoDeviceNode(path);
    default:
        return {};
    }
}

// Undoes steps, the last first: failures all said, successes listed up to
// the bound and counted beyond it.
void UndoSteps(const std::vector<InstallJournal::Step>& steps, std::vector<std::wstring>& lines)
{
    // Whatever fails now is said beside the installation's reason, never
    // in its place.
    driverfail::KeepReason keep;
    size_t listed = 0, unlisted = 0;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        UndoneStep done;
        try {
            done = UndoStep(*step);
        } catch (...) {
            done = {L"Not undone: the step on " + step->a + L" (out of memory)", true};
        }
        StepTaken(L'u');
        if (done.line.empty())
            continue;
        if (done.failed || listed < InstallJournal::kListedSteps) {
            lines.push_back(done.line);
            listed += done.failed ? 0 : 1;
        } else {
            ++unlisted;
        }
    }
    if (unlisted)
        lines.push_back(L"Undone also: " + std::to_wstring(unlisted) + L" more steps of the same kinds, not listed one by one");
}

// Deletes the old files a committed run kept for its undo. Its temporary
// copies are gone by then (moved into place) or wait for the restart that
// moves them.
void DropKeptFiles(const std::vector<InstallJournal::Step>& steps)
{
    for (const InstallJournal::Step& step : steps) {
        if (step.kind == InstallJournal::kReplaced || step.kind == InstallJournal::kDeleted)
            driverapi::DeleteFileW(step.b.c_str());
        else if (step.kind == InstallJournal::kBackup)
            driverapi::DeleteFileW(step.a.c_str());
    }
}

// The path a pending operation names: "\??\C:\x" (a replacement's target
// may start with "!") as C:\x.
std::wstring PendingPath(std::wstring entry)
{
    if (!entry.empty() && entry[0] == L'!')
        entry.erase(0, 1);
    if (entry.compare(0, 4, L"\\??\\") == 0)
        entry.erase(0, 4);
    return entry;
}

}  // namespace

CStr FileBeside(const CStr& path, const wchar_t* prefix)
{
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring dir = slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash + 1);
    wchar_t unique[MAX_PATH];
    if (dir.size() > MAX_PATH - 14 || !GetTempFileNameW(dir.c_str(), prefix, 0, unique))
        return CStr();
    return CStr(unique);
}

DWORD UnscheduleAtRestart(const CStr& source, const CStr& target, std::wstring& failedCall)
{
    UniqueHkey key;
    LSTATUS status = driverapi::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                              key.put());
    if (status != ERROR_SUCCESS) {
        failedCall = L"RegOpenKeyExW(HKLM\\" + std::wstring(kSessionManager) + L")";
        return static_cast<DWORD>(status);
    }
    DWORD type = REG_NONE, size = 0;
    status = driverapi::RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (status == ERROR_SUCCESS)
        status = driverapi::RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) {
        failedCall = std::wstring(L"RegQueryValueExW(") + kPendingRenames + L")";
        return status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA;
    }
    // Pairs of source and target; a deletion's target is an empty string,
    // so the list is read by pairs up to the size given, not to the first
    // empty string.
    const size_t count = size / sizeof(wchar_t);
    std::vector<std::wstring> entries;
    for (size_t at = 0; at < count;) {
        const std::wstring entry(&data[at], wcsnlen(&data[at], count - at));
        if (entry.empty() && entries.size() % 2 == 0)
            break;
        entries.push_back(entry);
        at += entry.size() + 1;
    }
    // This run's entry is the last of its kind: the system appends each.
    size_t ours = entries.size();
    for (size_t i = 0; i + 1 < entries.size(); i += 2)
        if (_wcsicmp(PendingPath(entries[i]).c_str(), source.c_str()) == 0 &&
            _wcsicmp(PendingPath(entries[i + 1]).c_str(), target.c_str()) == 0)
            ours = i;
    if (ours == entries.size())
        return ERROR_SUCCESS;
    std::wstring kept;
    for (size_t i = 0; i + 1 < entries.size(); i += 2)
        if (i != ours)
            kept += entries[i] + L'\0' + entries[i + 1] + L'\0';
    if (kept.empty()) {
        status = driverapi::RegDeleteValueW(key.get(), kPendingRenames);
        failedCall = std::wstring(L"RegDeleteValueW(") + kPendingRenames + L")";
    } else {
        kept += L'\0';
        status = driverapi::RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ,
                                           reinterpret_cast<const BYTE*>(kept.data()),
                                           static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
        failedCall = std::wstring(L"RegSetValueExW(") + kPendingRenames + L")";
    }
    return static_cast<DWORD>(status);
}

CStr SystemInfFolder()
{
    wchar_t windows[MAX_PATH] = L"";
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH - 4 ? CStr((std::wstring(windows) + L"\\inf").c_str()) : CStr();
}

CStr InstallJournal::Folder()
{
    wchar_t folder[MAX_PATH] = L"";
    const DWORD n = ExpandEnvironmentStringsW(L"%systemdrive%\\tzrsystem\\log\\", folder, MAX_PATH);
    return n > 0 && n <= MAX_PATH ? CStr(folder) : CStr();
}

InstallJournal::~InstallJournal()
{
    if (!m_bOpen)
        return;
    try {
        std::vector<std::wstring> lines;
        Undo(lines);
        for (const std::wstring& line : lines)
            driverfail::Note(line);
    } catch (...) {
        // Out of memory while taking steps back: the journal stays on disk
        // for the next run to finish.
    }
}

int InstallJournal::Record(Step step)
{
    if (!m_hFile) {
        const CStr folder = Folder();
        // The component log makes the folder at start; a driver step may
        // come first (a product of its own, a test).
        for (size_t cut = folder.find(L'\\', 3); cut != std::wstring::npos; cut = folder.find(L'\\', cut + 1))
            CreateDirectoryW(folder.substr(0, cut).c_str(), nullptr);
        // Its pid and time make the name unique among live runs; a dead
        // run's journal of the same name is left for FinishInterrupted.
        for (unsigned attempt = 0; !m_hFile && attempt < 16; ++attempt) {
            wchar_t name[80];
            swprintf(name, 80, L"tzrundo-%08lx-%016llx.journal", static_cast<unsigned long>(GetCurrentProcessId()),
                     static_cast<unsigned long long>(GetTickCount64() + attempt));
            m_sPath = (folder + name).c_str();
            SetLastError(0xdeadbeef);
            m_hFile.reset(driverapi::CreateFileW(m_sPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!m_hFile && GetLastError() != ERROR_FILE_EXISTS)
                break;
        }
        DWORD written = 0;
        if (!m_hFile || !driverapi::WriteFile(m_hFile.get(), kJournalHeader, sizeof kJournalHeader - 1, &written, nullptr))
            return driverfail::Call(L"CreateFileW(" + m_sPath + L") for the undo journal");
    }
    const std::string line = Line(step);
    DWORD written = 0;
    SetLastError(0xdeadbeef);
    if (!driverapi::WriteFile(m_hFile.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size())
        return driverfail::Call(L"WriteFile(" + m_sPath + L") for the undo journal");
    if (step.kind != kCommitting && step.kind != kEnded) {
        m_vSteps.push_back(std::move(step));
        m_bOpen = true;
    }
    StepTaken(L'r');
    return 1;
}

void InstallJournal::Close()
{
    if (!m_hFile)
        return;
    Step ended{kEnded};
    const std::string line = Line(ended);
    DWORD written = 0;
    driverapi::WriteFile(m_hFile.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    m_hFile.reset();
    // The journal's own file, not a step: no test stands in for this.
    DeleteFileW(m_sPath.c_str());
}

int InstallJournal::TemporaryFile(const CStr& path)
{
    return Record(Step{kTemporary, path.c_str()});
}

int InstallJournal::FileCreated(const CStr& path)
{
    return Record(Step{kCreated, path.c_str()});
}

int InstallJournal::BackupStarted(const CStr& keptOld)
{
    return Record(Step{kBackup, keptOld.c_str()});
}

int InstallJournal::FileReplaced(const CStr& target, const CStr& keptOld)
{
    return Record(Step{kReplaced, target.c_str(), keptOld.c_str()});
}

int InstallJournal::FileDeleted(const CStr& path, const CStr& keptOld)
{
    return Record(Step{kDeleted, path.c_str(), keptOld.c_str()});
}

int InstallJournal::FileRenamed(const CStr& from, const CStr& to)
{
    return Record(Step{kRenamed, from.c_str(), to.c_str()});
}

int InstallJournal::ScheduledAtRestart(const CStr& source, const CStr& target, bool temporary)
{
    Step step{kScheduled, source.c_str(), target.c_str()};
    step.flag = temporary;
    return Record(std::move(step));
}

int InstallJournal::ServiceCreated(const CStr& name)
{
    return Record(Step{kService, name.c_str()});
}

int InstallJournal::RegistryKey(HKEY root, const CStr& subkey)
{
    const wchar_t* rootName = NameOfRoot(root);
    if (!rootName)
        return driverfail::Refused(L"Registry key " + subkey + L" refused: its root is none the undo can name");
    // The topmost part that is missing is what the line would create.
    std::wstring path(subkey.c_str());
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    if (path.empty() || KeyExists(root, path))
        return 1;
    std::wstring missing = path;
    for (size_t cut; (cut = missing.find_last_of(L'\\')) != std::wstring::npos;) {
        const std::wstring parent = missing.substr(0, cut);
        if (KeyExists(root, parent))
            break;
        missing = parent;
    }
    // Several lines of one key: the key is taken back once, after them all.
    for (const Step& step : m_vSteps)
        if (step.kind == kKey && step.a == rootName && _wcsicmp(step.b.c_str(), missing.c_str()) == 0)
            return 1;
    return Record(Step{kKey, rootName, missing});
}

int InstallJournal::RegistryValue(HKEY root, const CStr& subkey, const CStr& name)
{
    const wchar_t* rootName = NameOfRoot(root);
    if (!rootName)
        return driverfail::Refused(L"Registry key " + subkey + L" refused: its root is none the undo can name");
    Step step{kValue, rootName, subkey.c_str(), name.c_str()};
    UniqueHkey key;
    if (driverapi::RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
        DWORD size = 0;
        LSTATUS status = driverapi::RegQueryValueExW(key.get(), name.c_str(), nullptr, &step.type, nullptr, &size);
        for (int tries = 0; status == ERROR_SUCCESS && tries < 4; ++tries) {
            step.data.assign(size, 0);
            status = driverapi::RegQueryValueExW(key.get(), name.c_str(), nullptr, &step.type,
                                                 step.data.empty() ? nullptr : step.data.data(), &size);
            if (status == ERROR_SUCCESS) {
                step.data.resize(size);
                step.flag = true;
                break;
            }
            if (status == ERROR_MORE_DATA)
                status = ERROR_SUCCESS;  // it grew meanwhile: asked again
        }
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return driverfail::CallError(L"RegQueryValueExW(" + std::wstring(rootName) + L"\\" + subkey + L", " + name + L")",
                                         static_cast<DWORD>(status));
    }
    return Record(std::move(step));
}

int InstallJournal::DeviceNode(const CStr& instanceId)
{
    return Record(Step{kDeviceNode, instanceId.c_str()});
}

int InstallJournal::InfStaged(const CStr& stagedInf)
{
    std::wstring before;
    for (const std::wstring& name : CopiesInInfFolder(stagedInf.c_str()))
        before += name + L"|";
    return Record(Step{kStagedInf, stagedInf.c_str(), before});
}

void InstallJournal::Undo(std::vector<std::wstring>& lines)
{
    UndoSteps(m_vSteps, lines);
    m_vSteps.clear();
    m_bOpen = false;
    Close();
}

void InstallJournal::Commit()
{
    // Marked first: a run killed while it drops its kept files is finished
    // as committed by the next, not undone.
    if (m_hFile)
        Record(Step{kCommitting});
    DropKeptFiles(m_vSteps);
    m_vSteps.clear();
    m_bOpen = false;
    Close();
}

std::vector<InstallJournal::Finished> InstallJournal::FinishInterrupted()
{
    std::vector<Finished> finished;
    const CStr folder = Folder();
    if (folder.empty())
        return finished;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW((folder + kJournalPattern).c_str(), &found));
    for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found) != FALSE) {
        const CStr path((folder + found.cFileName).c_str());
        // Opened for writing with no sharing, it is ours alone; its run
        // holds it open as long as the run lives.
        UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            continue;
        std::string bytes;
        char chunk[65536];
        DWORD read = 0;
        while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
            bytes.append(chunk, read);
        Finished run;
        run.journal = path;
        std::vector<Step> steps;
        bool ended = false;
        for (size_t start = 0, end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
            Step step{kEnded};
            if (!ParseLine(Wide(bytes.substr(start, end - start)), step))
                continue;
            if (step.kind == kCommitting)
                run.committed = true;
            else if (step.kind == kEnded)
                ended = true;
            else
                steps.push_back(std::move(step));
        }
        if (!ended) {
            if (run.committed)
                DropKeptFiles(steps);
            else
                UndoSteps(steps, run.lines);
            finished.push_back(std::move(run));
        }
        file.reset();
        DeleteFileW(path.c_str());
    }
    return finished;
}
