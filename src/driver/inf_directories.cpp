// CInf's directories: directory ids, [DestinationDirs], and the folders a
// copied file needs.
#include "inf.h"

#include "driver_failure.h"

#include <climits>
#include <cwchar>

namespace {

// A field of decimal digits, with or without a minus sign, is a directory
// id, as SetupAPI reads it: 012 is 12, not octal 10. A negative id (or one
// too large) is given as -1, which names no directory.
bool ReadsAsInteger(const wchar_t* text, int* value)
{
    const wchar_t* digits = text[0] == L'-' ? text + 1 : text;
    if (!digits[0])
        return false;
    long long n = 0;
    for (const wchar_t* at = digits; *at; ++at) {
        if (*at < L'0' || *at > L'9')
            return false;
        if (n <= INT_MAX)
            n = n * 10 + (*at - L'0');
    }
    *value = digits != text || n > INT_MAX ? -1 : static_cast<int>(n);
    return true;
}

struct DirIdEntry {
    int id;
    const wchar_t* variable;
    const wchar_t* suffix;
};
// The ids setupapi.h names, each as Windows places it today, built from the
// process environment. The shell-folder ids (16384 and up) follow the
// all-users folders of this Windows generation; the printer class
// installer's own ids (66000 and up) are the spooler's and not here.
const DirIdEntry kDirIds[] = {
    {DIRID_WINDOWS, L"SystemRoot", L""},
    {DIRID_SYSTEM, L"SystemRoot", L"\\system32"},
    {DIRID_DRIVERS, L"SystemRoot", L"\\system32\\drivers"},
    {DIRID_INF, L"SystemRoot", L"\\inf"},
    {DIRID_HELP, L"SystemRoot", L"\\help"},
    {DIRID_FONTS, L"SystemRoot", L"\\fonts"},
    {DIRID_VIEWERS, L"SystemRoot", L"\\system32\\viewers"},
    {DIRID_COLOR, L"SystemRoot", L"\\system32\\spool\\drivers\\color"},
    {DIRID_APPS, L"SystemDrive", L""},
    {DIRID_SHARED, L"SystemRoot", L""},
    {DIRID_BOOT, L"SystemDrive", L""},
    {DIRID_SYSTEM16, L"SystemRoot", L"\\system"},
    {DIRID_SPOOL, L"SystemRoot", L"\\system32\\spool"},
    {DIRID_SPOOLDRIVERS, L"SystemRoot", L"\\system32\\spool\\drivers"},
    {DIRID_USERPROFILE, L"USERPROFILE", L""},
    {DIRID_PRINTPROCESSOR, L"SystemRoot", L"\\system32\\spool\\prtprocs"},
    {DIRID_COMMON_STARTMENU, L"ProgramData", L"\\Microsoft\\Windows\\Start Menu"},
    {DIRID_COMMON_PROGRAMS, L"ProgramData", L"\\Microsoft\\Windows\\Start Menu\\Programs"},
    {DIRID_COMMON_STARTUP, L"ProgramData", L"\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {DIRID_COMMON_DESKTOPDIRECTORY, L"PUBLIC", L"\\Desktop"},
    {DIRID_COMMON_FAVORITES, L"PUBLIC", L"\\Favorites"},
    {DIRID_COMMON_APPDATA, L"ProgramData", L""},
    {DIRID_PROGRAM_FILES, L"ProgramFiles", L""},
    {DIRID_SYSTEM_X86, L"SystemRoot", L"\\SysWOW64"},
    {DIRID_PROGRAM_FILES_X86, L"ProgramFiles(x86)", L""},
    {DIRID_PROGRAM_FILES_COMMON, L"CommonProgramFiles", L""},
    {DIRID_PROGRAM_FILES_COMMONX86, L"CommonProgramFiles(x86)", L""},
    {DIRID_COMMON_TEMPLATES, L"ProgramData", L"\\Microsoft\\Windows\\Templates"},
    {DIRID_COMMON_DOCUMENTS, L"PUBLIC", L"\\Documents"},
};

}  // namespace

void CInf::ResolveDirId(int id, CStr& dir)
{
    dir.clear();
    for (const DirIdEntry& entry : kDirIds) {
        if (entry.id != id)
            continue;
        wchar_t value[kDirChars];
        const DWORD n = GetEnvironmentVariableW(entry.variable, value, kDirChars);
        // Not set, or longer than a directory may be: no directory.
        if (n == 0 || n >= kDirChars || n + wcslen(entry.suffix) >= kDirChars)
            return;
        dir = value;
        dir += entry.suffix;
        return;
    }
}

int CInf::ReadDestinationDirs()
{
    if (!m_vDestinationDirs.empty())
        return 1;
    ForEachLine(m_hInf.get(), L"DestinationDirs", nullptr, [&](INFCONTEXT& line) {
        wchar_t entry[kEntryChars];
        // A line that names no directory is left out; the next may name one.
        if (!driverapi::SetupGetStringFieldW(&line, 0, entry, kEntryChars, nullptr))
            return 1;
        const DWORD fields = driverapi::SetupGetFieldCount(&line);
        CStr dir;
        for (DWORD i = 1; i <= fields; ++i) {
            wchar_t piece[kDirChars];
            if (!driverapi::SetupGetStringFieldW(&line, i, piece, kDirChars, nullptr))
                return 1;
            int id = 0;
            if (ReadsAsInteger(piece, &id)) {
                CStr resolved;
                ResolveDirId(id, resolved);
                // An id we do not know (13, the driver store, among them)
                // names no directory here. Its line stays, with no directory:
                // its lists must fail, not go where another line sends its
                // files, and a subfolder of it must not land below the
                // drive's root.
                if (resolved.empty()) {
                    m_vDestinationDirs.push_back(CStr(entry));
                    m_vDestinationDirs.push_back(CStr());
                    return 1;
                }
                dir = dir.empty() ? resolved : JoinPath(dir.c_str(), resolved.c_str());
            } else if (piece[0]) {
                dir = dir.empty() ? CStr(piece) : JoinPath(dir.c_str(), piece);
            }
        }
        if (!dir.empty()) {
            m_vDestinationDirs.push_back(CStr(entry));
            m_vDestinationDirs.push_back(dir);
        }
        return 1;
    });
    for (size_t i = 1; i < m_vDestinationDirs.size(); i += 2)
        if (!m_vDestinationDirs[i].empty())
            return 1;
    return 0;
}

int CInf::GetDestinationDir(const wchar_t* section, CStr& dir)
{
    dir.clear();
    // The list operations may be called on their own: the list is read on
    // the first of them, whichever it is.
    if (!ReadDestinationDirs())
        return driverfail::Refused(L"File list " + CStr(section ? section : L"") + L" refused: " + m_sInfPath +
                                   L" has no [DestinationDirs] line with a known directory");
    if (m_vDestinationDirs.size() == 2) {
        dir = m_vDestinationDirs[1];
        return 1;
    }
    if (!section)
        return 0;
    for (const wchar_t* name : {section, L"DefaultDestDir"}) {
        for (size_t i = 0; i + 1 < m_vDestinationDirs.size(); i += 2) {
            if (m_vDestinationDirs[i] != name)
                continue;
            if (m_vDestinationDirs[i + 1].empty())
                return driverfail::Refused(std::wstring(L"File list ") + section + L" refused: its [DestinationDirs] line " +
                                           name + L" names a directory id this system does not resolve");
            dir = m_vDestinationDirs[i + 1];
            return 1;
        }
    }
    return driverfail::Refused(std::wstring(L"File list ") + section +
                               L" refused: [DestinationDirs] gives it no known directory and has no DefaultDestDir");
}

int CInf::CreateFileDirectory(const wchar_t* filePath)
{
    if (!filePath)
        return 0;
    const wchar_t* const slash = wcsrchr(filePath, L'\\');
    if (!slash)
        return 1;  // a bare name lands in the current directory
    return CreateDirectoryTree(std::wstring(filePath, slash - filePath + 1).c_str());
}

int CInf::CreateDirectoryTree(const wchar_t* dirPath)
{
    if (!dirPath)
        return 0;
    const size_t length = wcsnlen(dirPath, kTreePathChars);
    if (length >= kTreePathChars)
        return 0;
    if (CreateDirectoryW(dirPath, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return 1;
    if (GetLastError() != ERROR_PATH_NOT_FOUND)
        return 0;
    std::wstring parent(dirPath, length);
    if (!parent.empty() && parent.back() == L'\\')
        parent.pop_back();
    const size_t cut = parent.rfind(L'\\');
    if (cut == std::wstring::npos)
        return 1;
    parent.resize(cut);
    if (!CreateDirectoryTree(parent.c_str()))
        return 0;
    return CreateDirectoryW(dirPath, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
}
