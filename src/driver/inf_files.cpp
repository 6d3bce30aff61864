// CInf's file lists: copy, delete and rename with the destination
// directories of [DestinationDirs]. A file in use is never an error while
// its replacement can be registered for the next restart; that asks for a
// restart instead.
#include "inf.h"

#include "driver_failure.h"

#include <cwchar>

namespace {

bool InUse(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

const DWORD kReplaceAtRestart = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;

// Field 4 of a file-list line, its flags; 0 when the line has none or they
// do not read as a number.
int LineFlags(INFCONTEXT& line)
{
    INT flags = 0;
    return driverapi::SetupGetFieldCount(&line) >= 4 && driverapi::SetupGetIntField(&line, 4, &flags) ? flags : 0;
}

int RefuseDeviceName(const wchar_t* name)
{
    return driverfail::Refused(std::wstring(L"File name ") + name +
                               L" refused: it is a Windows device name, not a file");
}

// Where one file of a list section is: refuses a line without a name and a
// Windows device name, and asks the INF for the section's destination.
int ListFilePath(CInf& inf, const wchar_t* section, const wchar_t* name, CStr& dir, CStr& path)
{
    if (!name[0])
        return driverfail::Refused(std::wstring(L"File list ") + section + L" refused: a line names no file");
    if (IsDeviceFileName(name))
        return RefuseDeviceName(name);
    if (!inf.GetDestinationDir(section, dir))
        return 0;
    path = JoinPath(dir.c_str(), name);
    return 1;
}

bool SuppliedBySystem(HINF inf, const wchar_t* section, const wchar_t* file)
{
    INFCONTEXT line;
    if (section && driverapi::SetupFindFirstLineW(inf, section, nullptr, &line) && line.CurrentInf != line.Inf)
        return true;
    return driverapi::SetupFindFirstLineW(inf, L"Version", L"LayoutFile", &line) &&
           !driverapi::SetupFindFirstLineW(inf, L"SourceDisksFiles.amd64", file, &line) &&
           !driverapi::SetupFindFirstLineW(inf, L"SourceDisksFiles", file, &line);
}

}  // namespace

int ForEachLine(HINF inf, const wchar_t* section, const wchar_t* key, const std::function<int(INFCONTEXT&)>& visit)
{
    INFCONTEXT line;
    if (!section || !driverapi::SetupFindFirstLineW(inf, section, key, &line))
        return 1;
    do {
        if (!visit(line))
            return 0;
    } while (key ? driverapi::SetupFindNextMatchLineW(&line, key, &line) : driverapi::SetupFindNextLine(&line, &line));
    // The walk ends on "no more lines"; any other error leaves lines unread,
    // and a list read in part must not be taken as whole.
    const DWORD error = GetLastError();
    if (error != ERROR_LINE_NOT_FOUND && error != ERROR_SUCCESS)
        return driverfail::CallError(std::wstring(key ? L"SetupFindNextMatchLineW(" : L"SetupFindNextLine(") + section +
                                         (key ? std::wstring(L", ") + key : std::wstring()) + L")",
                                     error);
    return 1;
}

int CInf::ProcessFileLists(const wchar_t* section, const wchar_t* key, int (CInf::*list)(const wchar_t*))
{
    if (!ReadDestinationDirs())
        return driverfail::Refused(L"File operations of section " + CStr(section ? section : L"") + L" refused: " +
                                   m_sInfPath + L" has no [DestinationDirs] line with a known directory");
    // "@name" in place of a list section is one file with the rules of a
    // list's files, sent where the section's own lists would go. SetupAPI
    // takes the form for copies and deletions; a rename needs two names.
    const bool oneFile = list == &CInf::CopyFileList || list == &CInf::DeleteFileList;
    int result = 1;
    const int walked = ForEachLine(m_hInf.get(), section, key, [&](INFCONTEXT& line) {
        const DWORD fields = driverapi::SetupGetFieldCount(&line);
        for (DWORD i = 1; i <= fields; ++i) {
            wchar_t name[kEntryChars];
            if (!driverapi::SetupGetStringFieldW(&line, i, name, kEntryChars, nullptr)) {
                result = driverfail::Call(std::wstring(L"SetupGetStringFieldW(") + section + L", " + key + L")");
            } else if (oneFile && name[0] == L'@') {
                const int done = list == &CInf::CopyFileList ? CopyOneFile(section, name + 1, L"", 0)
                                                             : DeleteOneFile(section, name + 1, 0);
                if (!done)
                    result = 0;
            } else if (!HasSection(name)) {
                // SetupAPI would queue nothing for it and answer success.
                result = driverfail::Refused(std::wstring(L"File list ") + name + L" of " + key + L" in section " +
                                             section + L" refused: " + m_sInfPath + L" has no such section");
            } else if (!(this->*list)(name)) {
                result = 0;
            }
        }
        return 1;  // every list is tried, whatever one of them answers
    });
    if (!walked)
        result = 0;
    return result;
}

int CInf::ProcessCopyFiles(const wchar_t* section)
{
    return ProcessFileLists(section, L"CopyFiles", &CInf::CopyFileList);
}

int CInf::ProcessDelFiles(const wchar_t* section)
{
    return ProcessFileLists(section, L"DelFiles", &CInf::DeleteFileList);
}

int CInf::ProcessRenFiles(const wchar_t* section)
{
    return ProcessFileLists(section, L"RenFiles", &CInf::RenameFileList);
}

int CInf::CopyOneFile(const wchar_t* section, const wchar_t* name, const wchar_t* sourceName, int flag)
{
    if (IsDeviceFileName(sourceName))
        return RefuseDeviceName(sourceName);
    CStr dir;
    CStr destination;
    if (!ListFilePath(*this, section, name, dir, destination))
        return 0;
    if (!CreateFileDirectory(destination.c_str()))
        return driverfail::Call(L"CreateDirectoryW(" + dir + L")");
    const wchar_t* const sourceFile = sourceName[0] ? sourceName : name;
    CStr folder;
    if (!InfSourceFolder(m_hInf.get(), sourceFile, folder))
        return 0;
    const CStr source = JoinPath(m_sSourceRoot.c_str(), (folder + sourceFile).c_str());
    // A file of a list an included INF defines, or one the system's layout
    // supplies (LayoutFile=, not in the package's own [SourceDisksFiles]),
    // is the system's: it is not demanded from the package.
    if (GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES && SuppliedBySystem(m_hInf.get(), section, sourceFile)) {
        if (GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES)
            return 1;
        return driverfail::Refused(L"File " + destination + L" refused: the system supplies " + sourceFile +
                                   L" (an included INF or the layout), and this system does not have it");
    }
    // DELFLG_IN_USE1's value is taken as a do-not-overwrite request too.
    const bool keepExisting = flag == COPYFLG_NO_OVERWRITE || flag == DELFLG_IN_USE1;
    const bool existed = GetFileAttributesW(destination.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (existed && keepExisting)
        return 1;

    // The new file is made whole beside the target and then moved over it,
    // so the old one stays whole until the new one is; the old one is kept
    // beside it until the installation is done, to be put back if it fails.
    // Each step is in the journal before it is taken, so that a run killed
    // on the way is taken back by the next.
    CStr temporary = destination;
    if (!CopyToTempFile(source.c_str(), temporary))
        return 0;
    if (!m_journal.TemporaryFile(temporary)) {
        DeleteFileW(temporary.c_str());
        return 0;
    }
    CStr keptOld;
    DWORD error = ERROR_SUCCESS;
    if (existed) {
        keptOld = FileBeside(destination, L"old");
        if (!keptOld.empty() && !m_journal.BackupStarted(keptOld)) {
            DeleteFileW(keptOld.c_str());
            DeleteFileW(temporary.c_str());
            return 0;
        }
        if (keptOld.empty() || !CopyFileW(destination.c_str(), keptOld.c_str(), FALSE))
            error = keptOld.empty() ? ERROR_CANNOT_MAKE : GetLastError();
    }
    if (error == ERROR_SUCCESS) {
        if (!(existed ? m_journal.FileReplaced(destination, keptOld) : m_journal.FileCreated(destination))) {
            if (!keptOld.empty())
                DeleteFileW(keptOld.c_str());
            DeleteFileW(temporary.c_str());
            return 0;
        }
        if (MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING))
            return 1;
        error = GetLastError();
    }
    if (!keptOld.empty())
        DeleteFileW(keptOld.c_str());
    if (!InUse(error) && error != ERROR_USER_MAPPED_FILE) {
        DeleteFileW(temporary.c_str());
        return driverfail::CallError(L"MoveFileExW(" + temporary + L", " + destination + L")", error);
    }
    // In use: the replacement waits for the next restart.
    if (!m_journal.ScheduledAtRestart(temporary, destination, true)) {
        DeleteFileW(temporary.c_str());
        return 0;
    }
    if (!MoveFileExW(temporary.c_str(), destination.c_str(), kReplaceAtRestart)) {
        driverfail::Call(L"MoveFileExW(" + temporary + L", " + destination + L", MOVEFILE_DELAY_UNTIL_REBOOT)");
        DeleteFileW(temporary.c_str());
        return 0;
    }
    m_bRestart = 1;
    return 1;
}

int CInf::CopyFileList(const wchar_t* section)
{
    return ForEachLine(m_hInf.get(), section, nullptr, [&](INFCONTEXT& line) {
        wchar_t name[kFileNameChars];
        if (!driverapi::SetupGetStringFieldW(&line, 1, name, kFileNameChars, nullptr))
            return driverfail::Call(std::wstring(L"SetupGetStringFieldW(") + section + L", field 1)");
        wchar_t sourceName[kFileNameChars] = L"";
        // A source name that cannot be read must not turn into field 1's.
        if (driverapi::SetupGetFieldCount(&line) >= 2 &&
            !driverapi::SetupGetStringFieldW(&line, 2, sourceName, kFileNameChars, nullptr))
            return driverfail::Call(std::wstring(L"SetupGetStringFieldW(") + section + L", field 2)");
        return CopyOneFile(section, name, sourceName, LineFlags(line));
    });
}

int CInf::CopyToTempFile(const wchar_t* source, CStr& tempName)
{
    // The copy goes beside the file it replaces: a rename at restart cannot
    // cross volumes, and %TMP% is a per-user folder anyway.
    const CStr beside = tempName.empty() && source ? CStr(source) : tempName;
    tempName.clear();
    if (!source)
        return 0;
    const size_t slash = beside.find_last_of(L'\\');
    const std::wstring dir = slash == std::wstring::npos ? std::wstring(L".") : beside.substr(0, slash + 1);
    const wchar_t* const file = wcsrchr(source, L'\\') ? wcsrchr(source, L'\\') + 1 : source;
    wchar_t unique[MAX_PATH];
    // GetTempFileNameW makes the file, so the name stays ours until used.
    if (dir.size() > MAX_PATH - 14 || !GetTempFileNameW(dir.c_str(), file[0] ? file : L"tzr", 0, unique))
        return driverfail::Call(L"GetTempFileNameW(" + dir + L")");
    if (!CopyFileW(source, unique, FALSE)) {
        driverfail::Call(std::wstring(L"CopyFileW(") + source + L", " + unique + L")");
        DeleteFileW(unique);
        return 0;
    }
    tempName = unique;
    return 1;
}

int CInf::DeleteOneFile(const wchar_t* section, const wchar_t* name, int flag)
{
    CStr dir;
    CStr file;
    if (!ListFilePath(*this, section, name, dir, file))
        return 0;
    bool atRestart = flag == DELFLG_IN_USE || flag == DELFLG_IN_USE1;
    if (!atRestart) {
        if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return 1;
        }
        // Moved aside rather than deleted: a failed installation puts it back.
        const CStr keptOld = FileBeside(file, L"old");
        if (!keptOld.empty() && !m_journal.FileDeleted(file, keptOld)) {
            DeleteFileW(keptOld.c_str());
            return 0;
        }
        if (!keptOld.empty() && MoveFileExW(file.c_str(), keptOld.c_str(), MOVEFILE_REPLACE_EXISTING))
            return 1;
        const DWORD error = keptOld.empty() ? ERROR_CANNOT_MAKE : GetLastError();
        if (!keptOld.empty())
            DeleteFileW(keptOld.c_str());
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return 1;
        if (!InUse(error))
            return driverfail::CallError(L"DeleteFileW(" + file + L")", error);
        atRestart = true;
    }
    if (!m_journal.ScheduledAtRestart(file, CStr(), false))
        return 0;
    if (!MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return driverfail::Call(L"MoveFileExW(" + file + L", null, MOVEFILE_DELAY_UNTIL_REBOOT)");
    m_bRestart = 1;
    return 1;
}

int CInf::DeleteFileList(const wchar_t* section)
{
    CStr dir;
    if (!GetDestinationDir(section, dir))
        return 0;
    return ForEachLine(m_hInf.get(), section, nullptr, [&](INFCONTEXT& line) {
        wchar_t name[kEntryChars];
        if (!driverapi::SetupGetStringFieldW(&line, 1, name, kEntryChars, nullptr))
            return driverfail::Call(std::wstring(L"SetupGetStringFieldW(") + section + L", field 1)");
        return DeleteOneFile(section, name, LineFlags(line));
    });
}

int CInf::RenameFileList(const wchar_t* section)
{
    CStr dir;
    if (!GetDestinationDir(section, dir))
        return 0;
    return ForEachLine(m_hInf.get(), section, nullptr, [&](INFCONTEXT& line) {
        wchar_t newName[kFileNameChars];
        wchar_t oldName[kFileNameChars];
        if (driverapi::SetupGetFieldCount(&line) != 2 ||
            !driverapi::SetupGetStringFieldW(&line, 1, newName, kFileNameChars, nullptr) ||
            !driverapi::SetupGetStringFieldW(&line, 2, oldName, kFileNameChars, nullptr) || !newName[0] || !oldName[0])
            return driverfail::Refused(std::wstring(L"File list ") + section +
                                       L" refused: a rename line needs exactly a new and an old name");
        for (const wchar_t* file : {newName, oldName})
            if (IsDeviceFileName(file))
                return RefuseDeviceName(file);
        const CStr from = JoinPath(dir.c_str(), oldName);
        const CStr to = JoinPath(dir.c_str(), newName);
        if (!m_journal.FileRenamed(from, to))
            return 0;
        if (MoveFileW(from.c_str(), to.c_str()))
            return 1;
        const DWORD error = GetLastError();
        if (!InUse(error))
            return driverfail::CallError(L"MoveFileW(" + from + L", " + to + L")", error);
        if (!m_journal.ScheduledAtRestart(from, to, false))
            return 0;
        if (!MoveFileExW(from.c_str(), to.c_str(), kReplaceAtRestart))
            return driverfail::Call(L"MoveFileExW(" + from + L", " + to + L", MOVEFILE_DELAY_UNTIL_REBOOT)");
        m_bRestart = 1;
        return 1;
    });
}
