#include "install_journal.h"

#include "driver_failure.h"
#include "win_handle.h"

#include <cwchar>

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

std::wstring Failed(const wchar_t* what, DWORD error)
{
    wchar_t code[16];
    swprintf(code, sizeof code / sizeof code[0], L"0x%08X", static_cast<unsigned>(error));
    return std::wstring(what) + L" failed: error " + code + L" (" + driverfail::ErrorText(error) + L")";
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

int UnscheduleAtRestart(const CStr& path)
{
    UniqueHkey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
    if (status != ERROR_SUCCESS)
        return driverfail::CallError(L"RegOpenKeyExW(HKLM\\" + std::wstring(kSessionManager) + L")",
                                     static_cast<DWORD>(status));
    DWORD type = REG_NONE, size = 0;
    status = RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return 1;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                  &size);
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return driverfail::CallError(std::wstring(L"RegQueryValueExW(") + kPendingRenames + L")",
                                     status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
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
    std::wstring kept;
    bool removed = false;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (_wcsicmp(PendingPath(entries[i]).c_str(), path.c_str()) == 0) {
            removed = true;
            continue;
        }
        kept += entries[i] + L'\0' + entries[i + 1] + L'\0';
    }
    if (!removed)
        return 1;
    if (kept.empty()) {
        status = RegDeleteValueW(key.get(), kPendingRenames);
    } else {
        kept += L'\0';
        status = RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                                static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS)
        return driverfail::CallError(std::wstring(L"RegSetValueExW(") + kPendingRenames + L")",
                                     static_cast<DWORD>(status));
    return 1;
}

InstallJournal::~InstallJournal()
{
    Commit();
}

void InstallJournal::FileCreated(const CStr& path)
{
    m_vSteps.push_back({kCreated, path, CStr()});
}

void InstallJournal::FileReplaced(const CStr& target, const CStr& keptOld)
{
    m_vSteps.push_back({kReplaced, target, keptOld});
}

void InstallJournal::FileDeleted(const CStr& path, const CStr& keptOld)
{
    m_vSteps.push_back({kDeleted, path, keptOld});
}

void InstallJournal::FileRenamed(const CStr& from, const CStr& to)
{
    m_vSteps.push_back({kRenamed, from, to});
}

void InstallJournal::ScheduledAtRestart(const CStr& source, bool temporary)
{
    m_vSteps.push_back({kScheduled, source, CStr(temporary ? L"temporary" : L"")});
}

void InstallJournal::ServiceCreated(const CStr& name)
{
    m_vSteps.push_back({kService, name, CStr()});
}

void InstallJournal::RegistryWritten(const CStr& section)
{
    m_vSteps.push_back({kRegistry, section, CStr()});
}

void InstallJournal::Undo(std::vector<std::wstring>& lines)
{
    // The reason the installation failed stays the first one recorded; an
    // undo step that fails says so in its own line.
    for (auto step = m_vSteps.rbegin(); step != m_vSteps.rend(); ++step) {
        const std::wstring path = step->path.c_str();
        switch (step->kind) {
        case kCreated:
            lines.push_back(DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND
                                ? L"Undone: removed " + path + L", which this installation created"
                                : L"Not undone: " + Failed((L"DeleteFileW(" + path + L")").c_str(), GetLastError()));
            break;
        case kReplaced:
        case kDeleted:
            lines.push_back(MoveFileExW(step->other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)
                                ? L"Undone: put back the earlier " + path
                                : L"Not undone: " + Failed((L"MoveFileExW(" + step->other + L", " + path + L")").c_str(),
                                                          GetLastError()));
            break;
        case kRenamed:
            lines.push_back(MoveFileW(step->other.c_str(), path.c_str())
                                ? L"Undone: renamed " + step->other + L" back to " + path
                                : L"Not undone: " + Failed((L"MoveFileW(" + step->other + L", " + path + L")").c_str(),
                                                          GetLastError()));
            break;
        case kScheduled:
            if (UnscheduleAtRestart(step->path)) {
                if (!step->other.empty())
                    DeleteFileW(path.c_str());
                lines.push_back(L"Undone: unscheduled the restart operation on " + path);
            } else {
                lines.push_back(L"Not undone: the restart operation on " + path + L" could not be unscheduled");
            }
            break;
        case kService: {
            UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
            UniqueScHandle service(manager ? OpenServiceW(manager.get(), path.c_str(), DELETE) : nullptr);
            lines.push_back(service && DeleteService(service.get())
                                ? L"Undone: deleted service " + path + L", which this installation created"
                                : L"Not undone: " + Failed((L"DeleteService(" + path + L")").c_str(), GetLastError()));
            break;
        }
        case kRegistry:
            lines.push_back(L"Kept: the registry values of section " + path +
                            L", written through SetupAPI, which keeps no record to undo them");
            break;
        }
    }
    m_vSteps.clear();
}

void InstallJournal::Commit()
{
    for (const Step& step : m_vSteps)
        if (step.kind == kReplaced || step.kind == kDeleted)
            DeleteFileW(step.other.c_str());
    m_vSteps.clear();
}
