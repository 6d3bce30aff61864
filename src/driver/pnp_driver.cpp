#include "pnp_driver.h"

#include "device_binding.h"
#include "driver_api.h"
#include "driver_failure.h"
#include "framework_module.h"
#include "inf.h"
#include "inf_models.h"
#include "inf_sections.h"
#include "pnp_journal.h"

#include <cwchar>
#include <memory>

namespace {

const wchar_t* const kCatalogKeys[] = {
    L"CatalogFile", L"CatalogFile.nt", L"CatalogFile.ntx86", L"CatalogFile.ntia64", L"CatalogFile.ntamd64",
};

// A name from the INF that is not a bare file name would be copied from, or
// to, somewhere outside the package and the staging folder.
bool IsBareFileName(const std::wstring& name)
{
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && name != L"." && name != L"..";
}

// Field index of one INF line as text; false when it is missing or does not
// fit kFieldChars.
bool ReadField(INFCONTEXT* context, DWORD index, std::vector<wchar_t>& buffer, DWORD capacity,
               std::wstring& text)
{
    buffer.assign(capacity, L'\0');
    DWORD required = 0;
    if (!driverapi::SetupGetStringFieldW(context, index, buffer.data(), capacity, &required))
        return false;
    text.assign(buffer.data(), wcsnlen(buffer.data(), capacity));
    return true;
}

}  // namespace

CWin2000PnPDriver::CWin2000PnPDriver(const wchar_t* infFile, int force)
    : m_sInfFile(infFile ? infFile : L""), m_dwInstallFlags(force ? INSTALLFLAG_FORCE : 0)
{
}

CWin2000PnPDriver::~CWin2000PnPDriver() = default;

int CWin2000PnPDriver::AddHardwareId(const wchar_t* hardwareId)
{
    if (!hardwareId || wcsnlen(hardwareId, kMaxHardwareIdChars + 1) > kMaxHardwareIdChars) {
        ++m_nRefusedIds;
        return driverfail::Refused(L"Hardware ID refused: longer than " + std::to_wstring(kMaxHardwareIdChars) +
                                   L" characters");
    }
    for (const CStr& id : m_vHardwareIds)
        if (id == hardwareId)
            return 1;
    m_vHardwareIds.emplace_back(hardwareId);
    return 1;
}

std::wstring CWin2000PnPDriver::CompressedName(const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos)
        return name + L"._";
    if (name.size() - dot >= 4)
        return name.substr(0, name.size() - 1) + L"_";
    return name + L"_";
}

int CWin2000PnPDriver::AddFile(const wchar_t* name)
{
    if (!name || !name[0])
        return 1;
    const std::wstring plain(name);
    if (m_FileNames.count(plain))
        return 1;
    const std::wstring compressed = CompressedName(plain);
    m_vFiles.emplace_back(plain.c_str());
    m_vFiles.emplace_back(compressed.c_str());
    m_FileNames.insert(plain);
    m_FileNames.insert(compressed);
    return 1;
}

int CWin2000PnPDriver::StageFiles(const wchar_t* stagingFolder)
{
    AddFile(m_sInfFile.c_str());

    // The INF is read where the plug-in lies; its files are copied from the
    // current directory, the package folder the host runs us in.
    const CStr folder = FrameworkFolder();
    const CStr infPath = folder.empty() ? CStr() : JoinPath(folder.c_str(), m_sInfFile.c_str());
    UniqueInf inf(infPath.empty() ? INVALID_HANDLE_VALUE
                                  : driverapi::SetupOpenInfFileW(infPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    std::vector<wchar_t> field;
    std::wstring text;
    std::vector<std::wstring> systemLists;
    if (inf.valid()) {
        INFCONTEXT context;
        for (const wchar_t* key : kCatalogKeys) {
            if (!driverapi::SetupFindFirstLineW(inf.get(), L"Version", key, &context))
                continue;
            if (ReadField(&context, 1, field, kCatalogChars, text)) {
                AddFile(text.c_str());
                m_CatalogNames.insert(text);
            } else
                m_bListIncomplete = 1;
        }

        std::vector<std::wstring> fileLists;
        // Only what the sections this system installs copy: a package may
        // list files for other platforms that it does not ship.
        bool wholeList = true;
        std::vector<CStr> installed;
        if (!InstalledSections(inf.get(), infPath.c_str(), installed))
            return 0;
        for (const CStr& section : installed) {
            const int walked = ForEachLine(inf.get(), section.c_str(), L"CopyFiles", [&](INFCONTEXT& line) {
                const DWORD fields = driverapi::SetupGetFieldCount(&line);
                for (DWORD index = 1; index <= fields; ++index) {
                    if (!ReadField(&line, index, field, kFieldChars, text)) {
                        m_bListIncomplete = 1;
                        continue;
                    }
                    if (text.empty())
                        continue;
                    if (text[0] == L'@') {
                        AddFile(text.c_str() + 1);
                        continue;
                    }
                    const LONG lines = driverapi::SetupGetLineCountW(inf.get(), text.c_str());
                    if (lines > 0)
                        fileLists.push_back(text);
                    else if (lines < 0) {
                        driverfail::Refused(L"File list " + text + L" of CopyFiles in section " + section +
                                            L" refused: " + infPath + L" has no such section");
                        m_bListIncomplete = 1;
                    }
                }
                return 1;
            });
            if (!walked)
                m_bListIncomplete = 1;
        }
        if (!wholeList)
            m_bListIncomplete = 1;

        for (const std::wstring& list : fileLists) {
            // A list an included INF defines copies the system's files,
            // which the package does not carry.
            if (FromAppendedInf(inf.get(), list.c_str())) {
                systemLists.push_back(list);
                continue;
            }
            const int walked = ForEachLine(inf.get(), list.c_str(), nullptr, [&](INFCONTEXT& line) {
                // The source name on the medium, when the line gives one.
                if (driverapi::SetupGetFieldCount(&line) >= 2 && ReadField(&line, 2, field, kFieldChars, text) &&
                    !text.empty()) {
                    AddFile(text.c_str());
                } else if (ReadField(&line, 1, field, kFieldChars, text)) {
                    AddFile(text.c_str());
                } else {
                    m_bListIncomplete = 1;
                }
                return 1;
            });
            if (!walked)
                m_bListIncomplete = 1;
        }
    }

    // Only the last level: its parent is the log folder, made at start-up.
    CreateDirectoryW(stagingFolder, nullptr);

    int result = 1;
    if (!inf.valid())
        result = driverfail::Call(L"SetupOpenInfFileW(" + infPath + L")");
    else if (m_bListIncomplete)
        result = driverfail::Refused(L"Staging refused: a file name in " + infPath + L" could not be read whole");
    // Wine's newdev asks for ever for a file it does not find, and the
    // system's files are not in the staging folder.
    if (!systemLists.empty() && driverapi::RunningOnWine())
        result = driverfail::Refused(L"Staging refused: file list " + systemLists.front() +
                                     L" comes from an included INF, whose files Wine's newdev would ask for "
                                     L"for ever");
    // A file the INF places in a folder of the package is staged in the same
    // folder, where Windows' newdev reads it, and at the staging root too,
    // where Wine's newdev reads it when the plain [SourceDisksFiles] does not
    // list it. Wine takes the folder from the plain list even where the
    // platform's names another (amd64\ against i386\): the platform's file is
    // staged there as well, or newdev would ask for it for ever.
    auto stage = [&](const CStr& folder, const CStr& plainFolder, const CStr& name, DWORD& error) {
        if (!IsBareFileName(name.c_str())) {
            error = ERROR_INVALID_NAME;
            return false;
        }
        const CStr source((folder + name).c_str());
        std::vector<CStr> targets{JoinPath(stagingFolder, name.c_str())};
        for (const CStr* below : {&folder, &plainFolder}) {
            if (below->empty() || (below == &plainFolder && plainFolder.CompareNoCase(folder.c_str()) == 0))
                continue;
            CStr dir(stagingFolder);
            for (size_t start = 0, end; (end = below->find(L'\\', start)) != std::wstring::npos; start = end + 1) {
                dir = JoinPath(dir.c_str(), below->substr(start, end - start).c_str());
                CreateDirectoryW(dir.c_str(), nullptr);
            }
            targets.push_back(JoinPath(dir.c_str(), name.c_str()));
        }
        for (const CStr& target : targets) {
            // A read-only copy left by an earlier run is replaced, not kept.
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (CopyFileW(source.c_str(), target.c_str(), FALSE))
                continue;
            error = GetLastError();
            // What an earlier run left under this name is not this package's:
            // it goes, so Windows cannot install an old file as if new.
            for (const CStr& left : targets)
                DeleteFileW(left.c_str());
            return false;
        }
        return true;
    };
    // AddFile puts each name and its compressed form side by side: a file is
    // staged when either form is. Every file but a catalog must be, or
    // newdev would ask for it again and again.
    // With a LayoutFile= the system's layout supplies what the package's own
    // [SourceDisksFiles] does not list.
    INFCONTEXT layout;
    const bool hasLayout = inf.valid() && driverapi::SetupFindFirstLineW(inf.get(), L"Version", L"LayoutFile", &layout);
    auto fromLayout = [&](const CStr& name) {
        INFCONTEXT line;
        return hasLayout && !driverapi::SetupFindFirstLineW(inf.get(), L"SourceDisksFiles.amd64", name.c_str(), &line) &&
               !driverapi::SetupFindFirstLineW(inf.get(), L"SourceDisksFiles", name.c_str(), &line);
    };
    for (size_t i = 0; i + 1 < m_vFiles.size(); i += 2) {
        CStr folder, plainFolder;
        if (inf.valid() && (!InfSourceFolder(inf.get(), m_vFiles[i].c_str(), folder) ||
                            !InfSourceFolder(inf.get(), m_vFiles[i].c_str(), plainFolder, false))) {
            result = 0;
            continue;
        }
        DWORD error = ERROR_SUCCESS, compressedError = ERROR_SUCCESS;
        const bool plain = stage(folder, plainFolder, m_vFiles[i], error);
        const bool compressed = stage(folder, plainFolder, m_vFiles[i + 1], compressedError);
        if (plain || compressed || m_CatalogNames.count(m_vFiles[i].c_str()))
            continue;
        if (fromLayout(m_vFiles[i])) {
            if (driverapi::RunningOnWine())
                result = driverfail::Refused(L"Staging refused: " + m_vFiles[i] +
                                             L" comes from the system's layout (LayoutFile=), which Wine's newdev "
                                             L"would ask for for ever");
            continue;
        }
        result = driverfail::CallError(L"CopyFileW(" + folder + m_vFiles[i] + L" to " + stagingFolder + L")", error);
    }
    return result;
}

CStr CWin2000PnPDriver::StagingFolder()
{
    wchar_t system[MAX_PATH] = L"";
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length < 2 || length >= MAX_PATH || system[1] != L':')
        return CStr();
    const wchar_t drive[] = {system[0], system[1], L'\0'};
    CStr folder(drive);
    folder += L"\\TZRSYSTEM\\pnpdrvs";
    return folder;
}

int CWin2000PnPDriver::Install(int noOverwrite, int skipped)
{
    if (m_vHardwareIds.empty()) {
        if (m_nRefusedIds)
            return 4;
        return noOverwrite && skipped ? 0 : 1;
    }
    const CStr folder = StagingFolder();
    if (folder.empty())
        return 4;
    // The parent is normally the component log's folder; with the log on
    // another drive (%systemdrive% set apart) it may not be there yet.
    const std::wstring parent(folder.c_str());
    CreateDirectoryW(parent.substr(0, parent.find_last_of(L'\\')).c_str(), nullptr);
    // newdev asked for a file that is not staged asks again for ever (on
    // Windows a prompt nobody sees in a silent installation): never call it
    // on an incomplete package.
    if (!StageFiles(folder.c_str()))
        return 4;
    const CStr stagedInf = JoinPath(folder.c_str(), m_sInfFile.c_str());
    // Without its INF in the staging folder there is nothing Windows could
    // install; no call is made, so no answer can claim otherwise.
    if (GetFileAttributesW(stagedInf.c_str()) == INVALID_FILE_ATTRIBUTES)
        return driverfail::Call(L"GetFileAttributesW(" + stagedInf + L")"), 4;

    // What newdev may change is noted on disk first, so that a failure, or
    // a kill, takes it back.
    InstallJournal journal;
    if (!NoteBeforeNewdev(stagedInf, journal))
        return 4;
    BOOL all = TRUE;
    for (const CStr& id : m_vHardwareIds) {
        BOOL restart = FALSE;
        BOOL ok = driverapi::UpdateDriverForPlugAndPlayDevicesW(nullptr, id.c_str(), stagedInf.c_str(),
                                                                 m_dwInstallFlags, &restart);
        if (!ok)
            driverfail::Call(L"UpdateDriverForPlugAndPlayDevicesW(" + id + L")");
        else
            ok = driverapi::TzrRunsPackageDriver(id.c_str(), stagedInf.c_str());
        m_bRestart |= restart ? 1 : 0;
        all = all && ok;
    }
    if (all && !m_nRefusedIds) {
        journal.Commit();
        return 0;
    }
    std::vector<std::wstring> lines;
    journal.Undo(lines);
    for (const std::wstring& line : lines)
        driverfail::Note(line);
    return 4;
}

BOOL WINAPI TzrRunsPackageDriver(const wchar_t* hardwareId, const wchar_t* stagedInf)
{
    if (!hardwareId || !stagedInf)
        return FALSE;
    // newdev's success is no evidence by itself: each device with the id
    // must now run the staged INF, as copied to the system's INF folder.
    CInf inf(stagedInf);
    std::vector<CStr> services = inf.ServiceNames();
    // A service an install section gets through Include= and Needs= (as
    // Microsoft's WinUSB template does) is the package's too.
    for (const CStr& needed : NeededServices(inf.m_hInf.get(), stagedInf))
        services.push_back(needed);
    auto named = [&](const std::wstring& service) {
        for (const CStr& name : services)
            if (name.CompareNoCase(service.c_str()) == 0)
                return true;
        return false;
    };
    wchar_t windows[MAX_PATH] = L"";
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    const CStr infFolder = JoinPath(length > 0 && length < MAX_PATH ? windows : L"", L"inf");
    const std::vector<DeviceBinding> bindings = DeviceBindingsOf(hardwareId);
    if (bindings.empty())
        return driverfail::Refused(L"UpdateDriverForPlugAndPlayDevicesW(" + std::wstring(hardwareId) +
                                   L") answered success, but no device reports that id");
    BOOL result = TRUE;
    for (const DeviceBinding& binding : bindings) {
        const std::wstring installed = binding.infPath.find(L'\\') == std::wstring::npos
                                           ? JoinPath(infFolder.c_str(), binding.infPath.c_str()).c_str()
                                           : binding.infPath;
        bool ours = binding.hasDriver && SameFileBytes(installed, stagedInf);
        if (ours && binding.service.empty())
            ours = inf.HasSection(binding.infSection.c_str());
        else if (ours)
            ours = named(binding.service);
        if (ours)
            continue;
        // The package's service on a node whose driver key names no INF:
        // newdev installed without staging the package.
        const std::wstring cause = binding.infPath.empty() && !binding.service.empty() && named(binding.service)
                                       ? L"the driver package was not staged (no INF in the driver key)"
                                       : L"it runs " + DescribeBinding(binding);
        result = driverfail::Refused(L"Device " + binding.instanceId + L" (" + std::wstring(hardwareId) +
                                     L") does not run this package's driver after the installation: " + cause);
    }
    return result;
}
