// The install-state query and its prerequisite checks: every check runs in a
// fixed order, writes one line to both component logs, and the answers are
// condensed into a state code with a localized message.
#include "base_component.h"

#include "driver_api.h"
#include "file_version.h"
#include "inf.h"
#include "install_checks.h"
#include "package_version_parts.h"
#include "reg_key.h"
#include "service.h"
#include "text_util.h"
#include "wmi_query.h"

#include <memory>
#include <string>

const wchar_t kDependencyFileName[] = L"dependency.xml";
const wchar_t kModelNotSupported[] = L"System model not supported.";

namespace {

// A product's check may not know (-1).
const wchar_t* YesNo(int answer)
{
    return answer < 0 ? L"Unknown" : answer ? L"Yes" : L"No";
}

const wchar_t* VersionStatusText(int status)
{
    switch (status) {
    case 0: return L"Older";
    case 1: return L"Same";
    case 2: return L"Newer";
    default: return L"Unknown";
    }
}

}  // namespace

int CBaseComponent::GetInstallState(void* record, unsigned size, const wchar_t* language)
{
    InstallStateRecord out(record, size);
    if (!out.IsFullSize())
        return 0;
    out.SetMessage(L"");

    // Heap, not stack: 16 KB of message space would crowd a host thread's stack.
    std::unique_ptr<wchar_t[]> custom(new wchar_t[kCheckMessageChars]());
    std::unique_ptr<wchar_t[]> dependency(new wchar_t[kCheckMessageChars]());

    if (!IsOSSupported()) {
        BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is operating system supported...No\r\n");
        out.SetState(kStateCannotInstall);
        out.SetMessage(GetMessageForLanguage(g_aszOsNotSupported, language));
        return 1;
    }
    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is operating system supported...Yes\r\n");

    if (!IsDiskSpaceAvailable(nullptr)) {
        BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is necessary disk space available...No\r\n");
        out.SetState(kStateCannotInstall);
        out.SetMessage(GetMessageForLanguage(g_aszNotEnoughDiskSpace, language));
        return 1;
    }
    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is necessary disk space available...Yes\r\n");

    const int hardwarePresent = IsHardwarePresent();
    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is hardware present...%ls\r\n", YesNo(hardwarePresent));
    const int installed = IsComponentInstalled();
    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is component already installed...%ls\r\n", YesNo(installed));
    const int markedForRemoval = IsMarkedForRemoval();
    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Is component marked for removal...%ls\r\n", YesNo(markedForRemoval));
    const int versionStatus = GetInstalledVersionStatus();
    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Installed component version status...%ls\r\n",
                 VersionStatusText(versionStatus));

    const int customMet = CheckCustomPrerequisites(custom.get(), kCheckMessageChars, language);
    // A product's check may have filled its buffer to the last unit.
    custom[kCheckMessageChars - 1] = L'\0';

    BASECOMP_LOG(CCmpLog2::kBothHeader, L"    - Checking dependency list...");
    const int dependenciesMet = CheckDependencies(dependency.get(), kCheckMessageChars, language);
    dependency[kCheckMessageChars - 1] = L'\0';
    BASECOMP_LOG(CCmpLog2::kBothContinue, dependenciesMet ? L"Done.\r\n\r\n" : L"Failed!\r\n\r\n");

    unsigned state = kStateUndetermined;
    const wchar_t* message = L"";
    if (!hardwarePresent) {
        state = installed ? kStateHardwareMissing : kStateNotApplicable;
    } else if (!customMet) {
        state = kStateCannotInstall;
        if (custom[0])
            message = custom.get();
        if (markedForRemoval)
            message = GetMessageForLanguage(g_aszMarkedForRemoval, language);
    } else if (markedForRemoval) {
        state = kStateCannotInstall;
        message = GetMessageForLanguage(g_aszMarkedForRemoval, language);
    } else if (!installed) {
        state = kStateNotInstalled;
    } else if (versionStatus == 0) {
        state = kStateOlderInstalled;
    } else if (versionStatus == 1) {
        state = kStateSameVersion;
    } else if (versionStatus == 2) {
        state = kStateNewerInstalled;
    }
    if (!dependenciesMet) {
        state = kStateNotApplicable;
        if (dependency[0])
            message = dependency.get();
    }
    out.SetState(state);
    out.SetMessage(message);
    return 1;
}

int CBaseComponent::IsDiskSpaceAvailable(const wchar_t* path)
{
    if (m_dwRequiredDiskSpaceKB == 0)
        return 1;
    std::wstring directory;
    if (path) {
        directory = path;
        directory += L'\\';
    } else {
        wchar_t system[MAX_PATH] = L"";
        const UINT length = GetSystemDirectoryW(system, MAX_PATH);
        // The root of the system drive, "C:\".
        if (length >= 3 && length < MAX_PATH)
            directory.assign(system, 3);
    }
    ULARGE_INTEGER available{};
    if (directory.empty() || !driverapi::GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr))
        available.QuadPart = 0;
    return available.QuadPart / 1024 >= m_dwRequiredDiskSpaceKB ? 1 : 0;
}

int CBaseComponent::IsHardwarePresent()
{
    // A package without supported devices does not depend on hardware.
    if (m_vSupportedDevices.empty())
        return 1;
    for (const CStr& id : m_vSupportedDevices)
        if (FindDevice(id.c_str(), nullptr))
            return 1;
    return 0;
}

namespace {

// The file that stands for the installed component, found where its
// version record reads it (a path without a drive letter lies in the
// plug-in's folder), so "installed" and "which version" speak of one file.
int TargetFileExists(const CStr& target)
{
    const CFileVersionInfo where(target.c_str());
    if (where.m_sPath.empty())
        return 0;
    const DWORD attributes = GetFileAttributesW(where.m_sPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

}  // namespace

int CBaseComponent::IsComponentInstalled()
{
    if (m_sInfFile.empty())
        return TargetFileExists(TargetFile());
    CInf inf(m_sInfFile.c_str());
    if (!inf.IsOpen())
        return TargetFileExists(TargetFile());
    const CStr service = m_sServiceName.empty() ? inf.FirstServiceName(kCheckedServiceChars) : m_sServiceName;
    if (service.empty())
        return TargetFileExists(TargetFile());
    // Only a Plug and Play driver that runs on the package's devices counts:
    // a legacy or virtual driver's service alone says nothing about them.
    CService driver(service.c_str());
    return driver.Exists() && !driver.IsDisabled() && !driver.IsMarkedForDeletion() && inf.GetClass() &&
                   inf.GetClassGuid() && m_nInstallType == kInstallPnP && IsServiceEnumComplete(service.c_str())
               ? 1
               : 0;
}

int CBaseComponent::IsServiceEnumComplete(const wchar_t* serviceName)
{
    if (m_vSupportedDevices.empty())
        return 1;
    if (!serviceName)
        return 0;
    CStr path = ServiceKeyPath(serviceName);
    path += L"\\Enum";
    CRegKey key(path.c_str());
    key.m_dwAccess = KEY_READ;
    DWORD count = 0;
    if (!key.QueryDword(L"Count", &count))
        return 0;
    // The driver's one device is its own legacy root node, not a package device.
    CStr first;
    if (count == 1 && key.QueryString(L"0", first) && first.Find(L"LEGACY_"))
        return 0;
    DWORD present = 0;
    for (const CStr& id : m_vSupportedDevices)
        if (FindDevice(id.c_str(), nullptr))
            ++present;
    return count >= present ? 1 : 0;
}

int CBaseComponent::IsMarkedForRemoval()
{
    if (m_sInfFile.empty())
        return 0;
    CInf inf(m_sInfFile.c_str());
    const CStr service = inf.FirstServiceName(kCheckedServiceChars);
    if (service.empty())
        return 0;
    CService driver(service.c_str());
    return driver.IsMarkedForDeletion() ? 1 : 0;
}

int CBaseComponent::GetInstalledVersionStatus()
{
    const CFileVersionInfo installed(TargetFile().c_str());
    wchar_t text[kPackageVersionChars] = L"";
    if (!installed.HasVersion() || !GetNewVersion(text, kPackageVersionChars))
        return 0;
    text[kPackageVersionChars - 1] = L'\0';
    const PackageVersionParts parts = SplitPackageVersion(text);
    const CFileVersionInfo package(0, 0, parts.high, parts.low, 0, 0, 0);
    if (installed.IsSameVersion(package))
        return 1;
    return installed.IsNewerThan(package) ? 2 : 0;
}

// A hook for products: the base has no prerequisites of its own.
int CBaseComponent::CheckCustomPrerequisites(wchar_t*, unsigned, const wchar_t*)
{
    return 1;
}

int CBaseComponent::CheckDependencies(wchar_t* message, unsigned capacity, const wchar_t*)
{
    int met = 0;
    // A package without the file has no dependencies. A file that is there
    // but cannot be read is a restriction nobody can verify: not met.
    if (GetFileAttributesW(kDependencyFileName) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        met = 1;
    } else {
        CTzrXMLReader reader;
        reader.LoadFile(kDependencyFileName);
        const CTzrXMLNode* root = reader.FindChild(nullptr, L"componentdependencies");
        const CTzrXMLNode* hardware = root ? reader.FindChild(root, L"dependent_hardware") : nullptr;
        const CTzrXMLNode* platforms = hardware ? reader.FindChild(hardware, L"platforms") : nullptr;
        const CTzrXMLNode* first = platforms ? reader.FindChild(platforms, L"platform") : nullptr;
        // COM and WMI only when there is a model to compare: a host whose
        // package asks for none is never put under this process's COM
        // security settings.
        std::unique_ptr<CWmiQuery> wmi;
        for (const CTzrXMLNode* node = first; node && !met; node = node->m_pNext) {
            const wchar_t* model = node->m_nType == CTzrXMLNode::kElement ? node->GetAttribute(L"model") : nullptr;
            if (!model)
                continue;
            if (!wmi)
                wmi.reset(new CWmiQuery());
            met = wmi->IsComputerModel(model);
        }
    }
    m_bDependenciesChecked = 1;
    m_bDependenciesMet = met;
    if (!met)
        BoundedCopy(message, capacity, kModelNotSupported);
    return met;
}
