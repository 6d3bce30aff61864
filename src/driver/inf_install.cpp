// CInf's installation steps: Install and InstallSection over the sections,
// the registry and INI parts through SetupAPI, services and software
// settings, and the end of an installation (kept or taken back).
#include "inf.h"

#include "driver_failure.h"
#include "inf_lines.h"
#include "inf_registry.h"
#include "service.h"

#include <cwchar>

namespace {

bool ServiceExists(const wchar_t* name)
{
    return CService(name).Exists() != 0;
}

// Whether the installation of section (null: the whole INF) gets a root
// device node, as Windows gives one. A virtual device is one. A
// [DefaultInstall] package is a primitive driver, which Windows installs
// without a node; another legacy section gets one only for a device setup
// class the system knows (a filter's class, such as ActivityMonitor or
// WFPCALLOUTS, is none). Where there is none a note says why; -1 when the
// class could not be looked up.
int WantsDeviceNode(CInf& inf, const wchar_t* section)
{
    if (inf.m_bVirtualDevice)
        return 1;
    const CStr primitive = section ? CStr(section) : inf.ActualSection(L"DefaultInstall");
    if (!primitive.empty() && _wcsnicmp(primitive.c_str(), L"DefaultInstall", 14) == 0 &&
        (primitive[14] == L'\0' || primitive[14] == L'.')) {
        driverfail::Note(L"No device node: " + primitive +
                         L" installs a primitive driver, which Windows installs without one");
        return 0;
    }
    GUID guid;
    DWORD count = 0;
    SetLastError(ERROR_SUCCESS);
    if (!driverapi::SetupDiClassGuidsFromNameW(inf.GetClass(), &guid, 1, &count) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        driverfail::Call(std::wstring(L"SetupDiClassGuidsFromNameW(") + inf.GetClass() + L")");
        return -1;
    }
    if (count == 0) {
        driverfail::Note(std::wstring(L"No device node: the class ") + inf.GetClass() +
                         L" is no device setup class this system knows");
        return 0;
    }
    return 1;
}

// Step 3 of an installation: the node, when the INF has a class and the
// device has none yet (the whole INF looks for the node of the driver's
// kind, a section for the legacy one). 0 when it was wanted and could not
// be made.
int InstallDeviceNode(CInf& inf, const wchar_t* section, int* restart)
{
    const CStr service = inf.FirstServiceName(CInf::kNodeServiceChars);
    const int exists = inf.m_bVirtualDevice && !section ? RootDeviceKeyExists(service.c_str())
                                                        : LegacyDeviceKeyExists(service.c_str());
    if (exists || !inf.GetClass() || !inf.GetClassGuid())
        return 1;
    const int wanted = WantsDeviceNode(inf, section);
    if (wanted < 0)
        return 0;
    return wanted == 0 || inf.InstallDevice(restart) ? 1 : 0;
}
}  // namespace

int CInf::ProcessSection(const wchar_t* section, HKEY root)
{
    if (!section || !root)
        return 0;
    if (!ProcessCopyFiles(section) || !ProcessDelFiles(section) || !ProcessRenFiles(section))
        return 0;
    // Files were handled above with our own rules for files in use.
    const UINT flags = SPINST_LOGCONFIG | SPINST_INIFILES | SPINST_REGISTRY | SPINST_INI2REG | SPINST_PROFILEITEMS;
    // SetupAPI keeps no record of what a key held: what the lines will
    // change is recorded first, to be put back if the installation fails.
    if (!RecordRegistryLines(m_hInf.get(), section, root, m_journal))
        return 0;
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
    for (const CStr& name : added)
        if (!m_journal.ServiceCreated(name))
            return 0;
    const BOOL installed = driverapi::SetupInstallServicesFromInfSectionW(m_hInf.get(), section, 0);
    const DWORD error = GetLastError();
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

    if (!InstallDeviceNode(*this, nullptr, restart))
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
    // SetupAPI resolves the section's lists also in the INFs it includes.
    int result = 1;
    ForEachLine(m_hInf.get(), section, L"Include", [&](INFCONTEXT& line) {
        const DWORD fields = driverapi::SetupGetFieldCount(&line);
        for (DWORD i = 1; i <= fields; ++i) {
            wchar_t included[kFileNameChars];
            if (driverapi::SetupGetStringFieldW(&line, i, included, kFileNameChars, nullptr) && included[0] &&
                !driverapi::SetupOpenAppendInfFileW(included, m_hInf.get(), nullptr))
                driverfail::Provisional(std::wstring(L"SetupOpenAppendInfFileW(") + included + L")", GetLastError());
        }
        return 1;
    });
    if (!ProcessSection(section, HKEY_LOCAL_MACHINE))
        result = 0;

    if (!InstallDeviceNode(*this, section, restart))
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
