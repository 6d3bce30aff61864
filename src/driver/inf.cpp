// CInf: opening and reading the INF, its directories, and the installation
// steps. The file-list operations are in inf_files.cpp.
#include "inf.h"

#include "driver_failure.h"
#include "inf_sections.h"
#include "service.h"

#include <climits>
#include <cstdlib>
#include <cwchar>

namespace {

bool FindLine(HINF inf, const wchar_t* section, const wchar_t* key, INFCONTEXT* context)
{
    return section && driverapi::SetupFindFirstLineW(inf, section, key, context) != FALSE;
}

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
const DirIdEntry kDirIds[] = {
    {DIRID_WINDOWS, L"SystemRoot", L""},
    {DIRID_SYSTEM, L"SystemRoot", L"\\system32"},
    {DIRID_DRIVERS, L"SystemRoot", L"\\system32\\drivers"},
    {DIRID_INF, L"SystemRoot", L"\\inf"},
    {DIRID_HELP, L"SystemRoot", L"\\help"},
    {DIRID_FONTS, L"SystemRoot", L"\\fonts"},
    {DIRID_APPS, L"SystemDrive", L""},
    {DIRID_SYSTEM16, L"SystemRoot", L"\\system"},
    {DIRID_COMMON_STARTMENU, L"ALLUSERSPROFILE", L""},
    {DIRID_COMMON_PROGRAMS, L"ALLUSERSPROFILE", L"\\Start Menu\\Programs"},
    {DIRID_COMMON_STARTUP, L"ALLUSERSPROFILE", L"\\Start Menu\\Programs\\Startup"},
    {DIRID_COMMON_DESKTOPDIRECTORY, L"ALLUSERSPROFILE", L"\\Desktop"},
    {DIRID_COMMON_FAVORITES, L"ALLUSERSPROFILE", L"\\Favorites"},
    {DIRID_COMMON_APPDATA, L"ALLUSERSPROFILE", L"\\Application Data"},
    {DIRID_PROGRAM_FILES, L"ProgramFiles", L""},
    {DIRID_PROGRAM_FILES_COMMON, L"ProgramFiles", L"\\Common"},
};

bool ServiceExists(const wchar_t* name)
{
    return CService(name).Exists() != 0;
}

}  // namespace

bool IsDeviceFileName(const wchar_t* name)
{
    if (!name)
        return false;
    // The part before the first dot, trailing blanks dropped, is what
    // Windows compares.
    size_t length = wcscspn(name, L".");
    while (length > 0 && name[length - 1] == L' ')
        --length;
    const std::wstring base(name, length);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL"})
        if (_wcsicmp(base.c_str(), device) == 0)
            return true;
    return base.size() == 4 && (_wcsnicmp(base.c_str(), L"COM", 3) == 0 || _wcsnicmp(base.c_str(), L"LPT", 3) == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

int InfSourceFolder(HINF inf, const wchar_t* fileName, CStr& folder)
{
    folder.clear();
    // The platform's form of each list wins over the plain one, as SetupAPI
    // reads them.
    auto find = [&](const wchar_t* decorated, const wchar_t* plain, const wchar_t* key, INFCONTEXT* line) {
        return driverapi::SetupFindFirstLineW(inf, decorated, key, line) ||
               driverapi::SetupFindFirstLineW(inf, plain, key, line);
    };
    INFCONTEXT line;
    // A file the INF does not list lies at the package's root.
    if (!fileName || !find(L"SourceDisksFiles.amd64", L"SourceDisksFiles", fileName, &line))
        return 1;
    wchar_t disk[CInf::kDirChars] = L"";
    wchar_t sub[CInf::kDirChars] = L"";
    wchar_t diskPath[CInf::kDirChars] = L"";
    if (!driverapi::SetupGetStringFieldW(&line, 1, disk, CInf::kDirChars, nullptr))
        disk[0] = L'\0';
    if (driverapi::SetupGetFieldCount(&line) < 2 ||
        !driverapi::SetupGetStringFieldW(&line, 2, sub, CInf::kDirChars, nullptr))
        sub[0] = L'\0';
    if (disk[0] && find(L"SourceDisksNames.amd64", L"SourceDisksNames", disk, &line) &&
        (driverapi::SetupGetFieldCount(&line) < 4 ||
         !driverapi::SetupGetStringFieldW(&line, 4, diskPath, CInf::kDirChars, nullptr)))
        diskPath[0] = L'\0';
    std::wstring relative;
    for (const wchar_t* piece : {static_cast<const wchar_t*>(diskPath), static_cast<const wchar_t*>(sub)}) {
        std::wstring part(piece);
        // "\x64" is the package's x64 folder, not the drive's.
        while (!part.empty() && (part[0] == L'\\' || part[0] == L'/'))
            part.erase(0, 1);
        while (!part.empty() && (part.back() == L'\\' || part.back() == L'/'))
            part.pop_back();
        if (!part.empty())
            relative += part + L"\\";
    }
    // Every part must stay below the package's root.
    size_t start = 0;
    for (size_t end; (end = relative.find_first_of(L"\\/", start)) != std::wstring::npos; start = end + 1) {
        const std::wstring part = relative.substr(start, end - start);
        if (part.empty() || part == L"." || part == L".." || part.find(L':') != std::wstring::npos)
            return driverfail::Refused(std::wstring(L"Source of ") + fileName + L" refused: [SourceDisksFiles] places it in " +
                                       relative + L", outside the package");
    }
    folder = relative.c_str();
    return 1;
}

CStr JoinPath(const wchar_t* dir, const wchar_t* name)
{
    CStr joined(dir);
    if (!joined.empty() && joined.back() != L'\\' && name[0] != L'\\')
        joined += L'\\';
    joined += name;
    return joined;
}

CInf::CInf(const wchar_t* fileName)
{
    wchar_t full[kDirChars];
    if (fileName && _wfullpath(full, fileName, kDirChars)) {
        m_sInfPath = full;
        const size_t cut = m_sInfPath.find_last_of(L"\\/");
        if (cut != std::wstring::npos)
            m_sSourceRoot = m_sInfPath.substr(0, cut + 1).c_str();
        m_hInf.reset(driverapi::SetupOpenInfFileW(full, nullptr, INF_STYLE_WIN4, nullptr));
        if (!m_hInf)
            driverfail::Call(std::wstring(L"SetupOpenInfFileW(") + full + L")");
    } else if (fileName) {
        driverfail::Refused(std::wstring(L"INF path refused: the full path of ") + fileName + L" does not fit " +
                            std::to_wstring(kDirChars - 1) + L" characters");
    }
    ReadVersion();  // CInf's own: no override is reachable from a constructor
}

CInf::~CInf() = default;

int CInf::IsOpen()
{
    return m_hInf ? 1 : 0;
}

const wchar_t* CInf::GetSignature()
{
    return m_sSignature.empty() ? nullptr : m_sSignature.c_str();
}

const wchar_t* CInf::GetClass()
{
    return m_sClass.empty() ? nullptr : m_sClass.c_str();
}

const wchar_t* CInf::GetClassGuid()
{
    return m_sClassGuid.empty() ? nullptr : m_sClassGuid.c_str();
}

int CInf::ReadVersion()
{
    if (!IsOpen())
        return 0;
    wchar_t text[kLineTextChars];
    auto read = [&](const wchar_t* key, CStr& into) {
        if (!driverapi::SetupGetLineTextW(nullptr, m_hInf.get(), L"Version", key, text, kLineTextChars, nullptr))
            return 0;
        into = text;
        return 1;
    };
    const int result = read(L"Signature", m_sSignature) && read(L"Class", m_sClass) && read(L"ClassGUID", m_sClassGuid);
    CollectCopyFilesSections();
    CollectAddServiceSections();
    CollectSoftwareSettingsSections();
    return result;
}

const std::vector<CStr>& CInf::SectionNames() const
{
    if (!m_bSectionNamesRead) {
        m_bSectionNamesRead = true;
        m_vSectionNames = InfSectionNames(m_hInf.get(), m_sInfPath.c_str(), &m_bSectionNamesWhole);
    }
    return m_vSectionNames;
}

const std::vector<unsigned>& CInf::SectionKeys() const
{
    if (!m_bSectionKeysRead) {
        m_bSectionKeysRead = true;
        // One lookup per section and a walk over its lines: SetupAPI may
        // find a section by comparing names one by one (Wine does), so
        // asking for each key on its own would cost that search per key.
        const std::vector<CStr>& names = SectionNames();
        m_vSectionKeys.assign(names.size(), 0);
        for (size_t i = 0; i < names.size(); ++i) {
            ForEachLine(m_hInf.get(), names[i].c_str(), nullptr, [&](INFCONTEXT& line) {
                wchar_t key[kEntryChars];
                if (!driverapi::SetupGetStringFieldW(&line, 0, key, kEntryChars, nullptr))
                    return 1;
                if (_wcsicmp(key, L"CopyFiles") == 0)
                    m_vSectionKeys[i] |= kKeyCopyFiles;
                else if (_wcsicmp(key, L"AddService") == 0)
                    m_vSectionKeys[i] |= kKeyAddService;
                return 1;
            });
        }
    }
    return m_vSectionKeys;
}

void CInf::CollectCopyFilesSections()
{
    const std::vector<CStr>& names = SectionNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (SectionKeys()[i] & kKeyCopyFiles)
            m_vCopyFilesSections.push_back(names[i]);
}

void CInf::CollectAddServiceSections()
{
    const std::vector<CStr>& names = SectionNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (SectionKeys()[i] & kKeyAddService)
            m_vAddServiceSections.push_back(names[i]);
}

void CInf::CollectSoftwareSettingsSections()
{
    for (const CStr& name : SectionNames())
        if (name.FindNoCase(L".SoftwareSettings") >= 0)
            m_vSoftwareSettingsSections.push_back(name);
}

int CInf::GetServiceName(const wchar_t* section, wchar_t* buffer, DWORD capacity)
{
    if (!buffer || capacity == 0)
        return 0;
    buffer[0] = L'\0';
    if (!section) {
        if (m_vAddServiceSections.empty())
            return 0;
        section = m_vAddServiceSections.front().c_str();
    }
    INFCONTEXT context;
    if (!FindLine(m_hInf.get(), section, L"AddService", &context))
        return 0;
    if (!driverapi::SetupGetStringFieldW(&context, 1, buffer, capacity, nullptr)) {
        buffer[0] = L'\0';
        return 0;
    }
    return 1;
}

CStr CInf::FirstServiceName(DWORD chars)
{
    std::vector<wchar_t> name(chars ? chars : 1, L'\0');
    return GetServiceName(nullptr, name.data(), chars) ? CStr(name.data()) : CStr();
}

std::vector<CStr> CInf::ServiceNames()
{
    std::vector<CStr> names;
    for (const CStr& section : m_vAddServiceSections) {
        ForEachLine(m_hInf.get(), section.c_str(), L"AddService", [&](INFCONTEXT& line) {
            wchar_t name[kEntryChars];
            if (driverapi::SetupGetStringFieldW(&line, 1, name, kEntryChars, nullptr) && name[0])
                names.emplace_back(name);
            return 1;
        });
    }
    return names;
}

bool CInf::HasSection(const wchar_t* section)
{
    return IsOpen() && section && section[0] && driverapi::SetupGetLineCountW(m_hInf.get(), section) >= 0;
}

CStr CInf::ActualSection(const wchar_t* section)
{
    if (!section || !section[0])
        return CStr();
    if (HasSection(section))
        return CStr(section);
    // The plug-in is built for x64 only, so the platform's decoration is
    // fixed; the plain .NT form is any NT platform's.
    for (const wchar_t* decoration : {L".NTamd64", L".NT"}) {
        CStr decorated(section);
        decorated += decoration;
        if (HasSection(decorated.c_str()))
            return decorated;
    }
    return CStr();
}

int CInf::GetServiceStartType(const wchar_t* section, DWORD* startType)
{
    if (!startType)
        return 0;
    if (!section) {
        if (m_vAddServiceSections.empty())
            return 0;
        section = m_vAddServiceSections.front().c_str();
    }
    INFCONTEXT context;
    wchar_t serviceSection[kServiceSectionChars];
    if (!FindLine(m_hInf.get(), section, L"AddService", &context) ||
        !driverapi::SetupGetStringFieldW(&context, 3, serviceSection, kServiceSectionChars, nullptr))
        return 0;
    INT value = 0;
    if (!FindLine(m_hInf.get(), serviceSection, L"StartType", &context) ||
        !driverapi::SetupGetIntField(&context, 1, &value))
        return 0;
    *startType = static_cast<DWORD>(value);
    return 1;
}

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

int CInf::ProcessSection(const wchar_t* section, HKEY root)
{
    if (!section || !root)
        return 0;
    if (!ProcessCopyFiles(section) || !ProcessDelFiles(section) || !ProcessRenFiles(section))
        return 0;
    // Files were handled above with our own rules for files in use.
    const UINT flags = SPINST_LOGCONFIG | SPINST_INIFILES | SPINST_REGISTRY | SPINST_INI2REG | SPINST_PROFILEITEMS;
    INFCONTEXT context;
    if (FindLine(m_hInf.get(), section, L"AddReg", &context) || FindLine(m_hInf.get(), section, L"DelReg", &context))
        m_journal.RegistryWritten(section);
    if (driverapi::SetupInstallFromInfSectionW(nullptr, m_hInf.get(), section, flags, root, m_sSourceRoot.c_str(), 0,
                                               nullptr, nullptr, nullptr, nullptr))
        return 1;
    return driverfail::Call(std::wstring(L"SetupInstallFromInfSectionW(") + section + L")");
}

int CInf::InstallServices(const wchar_t* section)
{
    if (!IsOpen() || !section)
        return 0;
    // The services this call makes, not those it finds, are this run's.
    std::vector<CStr> added;
    ForEachLine(m_hInf.get(), section, L"AddService", [&](INFCONTEXT& line) {
        wchar_t name[kEntryChars];
        if (driverapi::SetupGetStringFieldW(&line, 1, name, kEntryChars, nullptr) && name[0] && !ServiceExists(name))
            added.emplace_back(name);
        return 1;
    });
    const BOOL installed = driverapi::SetupInstallServicesFromInfSectionW(m_hInf.get(), section, 0);
    const DWORD error = GetLastError();
    for (const CStr& name : added)
        if (ServiceExists(name.c_str()))
            m_journal.ServiceCreated(name);
    if (installed)
        return 1;
    if (error == ERROR_SERVICE_EXISTS || error == ERROR_DUPLICATE_SERVICE_NAME)
        return 1;
    return driverfail::CallError(std::wstring(L"SetupInstallServicesFromInfSectionW(") + section + L")", error);
}

int CInf::InstallSoftwareSettings(const wchar_t* section)
{
    if (!IsOpen() || !section)
        return 0;
    wchar_t service[kSettingsServiceChars];
    if (!GetServiceName(nullptr, service, kSettingsServiceChars) || !service[0])
        return driverfail::Refused(std::wstring(L"Software settings of section ") + section +
                                   L" refused: the INF names no service for them");
    CStr path = ServiceKeyPath(service);
    path += L"\\Device0";
    UniqueHkey key;
    const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                           nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS)
        return driverfail::CallError(L"RegCreateKeyExW(HKLM\\" + path + L")", static_cast<DWORD>(status));
    if (driverapi::SetupInstallFromInfSectionW(nullptr, m_hInf.get(), section, SPINST_REGISTRY, key.get(), nullptr, 0,
                                               nullptr, nullptr, nullptr, nullptr))
        return 1;
    return driverfail::Call(std::wstring(L"SetupInstallFromInfSectionW(") + section + L")");
}

int CInf::CreateDeviceInfo(UniqueDevInfoSet& set, SP_DEVINFO_DATA* device, const wchar_t* deviceName)
{
    if (!device || !deviceName || !GetClass())
        return driverfail::Refused(L"Device node refused: the INF names no class");
    GUID classGuid;
    DWORD count = 0;
    if (!driverapi::SetupDiClassGuidsFromNameW(GetClass(), &classGuid, 1, &count))
        return driverfail::Call(std::wstring(L"SetupDiClassGuidsFromNameW(") + GetClass() + L")");
    if (count == 0)
        return driverfail::Refused(std::wstring(L"Device node refused: the class ") + GetClass() +
                                   L" is not known to the system");
    set.reset(driverapi::SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!set)
        return driverfail::Call(L"SetupDiCreateDeviceInfoList");
    device->cbSize = sizeof *device;
    if (!driverapi::SetupDiCreateDeviceInfoW(set.get(), deviceName, &classGuid, nullptr, nullptr,
                                             DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS, device))
        return driverfail::Call(std::wstring(L"SetupDiCreateDeviceInfoW(") + deviceName + L")");
    if (!driverapi::SetupDiRegisterDeviceInfo(set.get(), device, SPRDI_FIND_DUPS, nullptr, nullptr, nullptr))
        return driverfail::Call(std::wstring(L"SetupDiRegisterDeviceInfo(") + deviceName + L")");

    // From here the node is registered: a failure must not leave it behind,
    // or the next installation would take the device as installed. The
    // reason is taken before the removal can change the last error.
    auto fail = [&](const wchar_t* call) {
        driverfail::Call(call);
        driverapi::SetupDiRemoveDevice(set.get(), device);
        return 0;
    };
    SP_DEVINSTALL_PARAMS_W params{};
    params.cbSize = sizeof params;
    if (!driverapi::SetupDiGetDeviceInstallParamsW(set.get(), device, &params))
        return fail(L"SetupDiGetDeviceInstallParamsW");
    if (m_sInfPath.size() >= sizeof params.DriverPath / sizeof params.DriverPath[0]) {
        driverfail::Refused(L"INF path refused for the device node: " + m_sInfPath + L" does not fit " +
                            std::to_wstring(sizeof params.DriverPath / sizeof params.DriverPath[0] - 1) +
                            L" characters");
        return fail(L"");
    }
    wmemcpy(params.DriverPath, m_sInfPath.c_str(), m_sInfPath.size() + 1);
    params.Flags |= DI_ENUMSINGLEINF | DI_DONOTCALLCONFIGMG | DI_NOFILECOPY;
    if (!driverapi::SetupDiSetDeviceInstallParamsW(set.get(), device, &params))
        return fail(L"SetupDiSetDeviceInstallParamsW");
    if (!driverapi::SetupDiBuildDriverInfoList(set.get(), device, SPDIT_CLASSDRIVER))
        return fail(L"SetupDiBuildDriverInfoList(SPDIT_CLASSDRIVER)");
    // Selecting every entry in turn leaves the last one selected.
    SP_DRVINFO_DATA_V1_W driver{};
    driver.cbSize = sizeof driver;
    for (DWORD i = 0;; ++i) {
        if (!driverapi::SetupDiEnumDriverInfoW(set.get(), device, SPDIT_CLASSDRIVER, i,
                                               reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver)))
            return GetLastError() == ERROR_NO_MORE_ITEMS ? 1 : fail(L"SetupDiEnumDriverInfoW(SPDIT_CLASSDRIVER)");
        if (!driverapi::SetupDiSetSelectedDriverW(set.get(), device, reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver)))
            return fail(L"SetupDiSetSelectedDriverW");
    }
}

int CInf::InstallDevice(int* restart)
{
    if (restart)
        *restart = 0;
    const CStr service = FirstServiceName(kNodeServiceChars);
    if (service.empty())
        return driverfail::Refused(L"Device node refused: the INF names no service to name it after");
    CStr name(m_bVirtualDevice ? L"" : L"LEGACY_");
    name += DeviceNodeName(service.c_str());

    UniqueDevInfoSet set;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!CreateDeviceInfo(set, &device, name.c_str()))
        return 0;
    const bool classInstalled = driverapi::SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set.get(), &device) != FALSE;
    if (!classInstalled)
        driverfail::Call(L"SetupDiCallClassInstaller(DIF_INSTALLDEVICE)");
    int result = classInstalled ? 1 : 0;
    if (result && m_bVirtualDevice) {
        // A multi-string: room is kept for its two terminators.
        wchar_t ids[kNodeHardwareIdChars] = {};
        if (!driverapi::SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, nullptr,
                                                          reinterpret_cast<BYTE*>(ids),
                                                          sizeof ids - 2 * sizeof(wchar_t), nullptr))
            result = driverfail::Call(L"SetupDiGetDeviceRegistryPropertyW(SPDRP_HARDWAREID)");
        else if (!driverapi::UpdateDriverForPlugAndPlayDevicesW(nullptr, ids, m_sInfPath.c_str(), 0, nullptr))
            result = driverfail::Call(std::wstring(L"UpdateDriverForPlugAndPlayDevicesW(") + ids + L")");
    }
    if (restart) {
        SP_DEVINSTALL_PARAMS_W params{};
        params.cbSize = sizeof params;
        if (driverapi::SetupDiGetDeviceInstallParamsW(set.get(), &device, &params) &&
            (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)))
            *restart = 1;
    }
    // The node was made by this call: one the class installer did not
    // install goes again, so the next installation does not take the device
    // for installed. After the class installer it stays: newdev's step may
    // fail on every run (a fresh root node has no hardware id of its own),
    // and removing the node then would undo an installation that happened.
    if (!classInstalled)
        driverapi::SetupDiRemoveDevice(set.get(), &device);
    return result;
}

void CInf::EndInstall() {}

int CInf::Finish(int result, int* restart)
{
    EndInstall();
    if (result == 1) {
        m_journal.Commit();
        if (m_bRestart && restart)
            *restart = 1;
        return 1;
    }
    std::vector<std::wstring> lines;
    m_journal.Undo(lines);
    for (const std::wstring& line : lines)
        driverfail::Note(line);
    return 0;
}

int CInf::Install(int* restart)
{
    if (!IsOpen())
        return 0;
    if (restart)
        *restart = 0;
    // A section list read in part would install part of the INF.
    int result = m_bSectionNamesWhole ? 1 : 0;
    for (size_t i = 0; i < m_vCopyFilesSections.size(); ++i)
        if (!ProcessSection(m_vCopyFilesSections[i].c_str(), HKEY_LOCAL_MACHINE))
            result = 0;

    const CStr service = FirstServiceName(kNodeServiceChars);
    const int exists =
        m_bVirtualDevice ? RootDeviceKeyExists(service.c_str()) : LegacyDeviceKeyExists(service.c_str());
    if (!exists && GetClass() && GetClassGuid() && !InstallDevice(restart))
        result = 0;

    for (size_t i = 0; i < m_vAddServiceSections.size(); ++i)
        if (!InstallServices(m_vAddServiceSections[i].c_str()))
            result = 0;
    for (size_t i = 0; i < m_vSoftwareSettingsSections.size(); ++i)
        if (!InstallSoftwareSettings(m_vSoftwareSettingsSections[i].c_str()))
            result = 0;

    return Finish(result, restart);
}

int CInf::InstallSection(const wchar_t* section, int* restart)
{
    if (!IsOpen())
        return 0;
    if (restart)
        *restart = 0;
    if (!section)
        return 0;
    // SetupAPI installs a section the INF does not have as if it were
    // empty: a misspelt name would install nothing and answer success.
    const CStr actual = ActualSection(section);
    if (actual.empty())
        return driverfail::Refused(std::wstring(L"Install section ") + section + L" refused: " + m_sInfPath +
                                   L" has no such section, nor one decorated for this platform");
    section = actual.c_str();
    int result = ProcessSection(section, HKEY_LOCAL_MACHINE);

    if (!LegacyDeviceKeyExists(FirstServiceName(kNodeServiceChars).c_str()) && GetClass() && GetClassGuid() && !InstallDevice(restart))
        result = 0;

    CStr services(section);
    services += L".Services";
    INFCONTEXT context;
    for (const CStr& name : SectionNames()) {
        if (name.CompareNoCase(services.c_str()) == 0 &&
            (FindLine(m_hInf.get(), name.c_str(), L"AddService", &context) ||
             FindLine(m_hInf.get(), name.c_str(), L"DelService", &context))) {
            if (!InstallServices(name.c_str()))
                result = 0;
            break;
        }
    }

    CStr settings(section);
    settings += L".SoftwareSettings";
    for (size_t i = 0; i < m_vSoftwareSettingsSections.size(); ++i) {
        if (m_vSoftwareSettingsSections[i].FindNoCase(settings.c_str()) >= 0) {
            if (!InstallSoftwareSettings(settings.c_str()))
                result = 0;
            break;
        }
    }

    return Finish(result, restart);
}
