// Construction, initialisation, destruction and the setters of the base
// component.
#include "base_component.h"

#include "framework_module.h"
#include "sysinfo.h"
#include "win_handle.h"

#include <cstdarg>
#include <cwchar>
#include <string>

namespace {
const wchar_t kSource[] = L"basecomp";
// The component that hears of refused driver calls: the latest one made.
CBaseComponent* g_pDriverApiListener = nullptr;

// The line that opens each run in both logs, so that runs sharing the files
// can be told apart: when, which process, which package, which plug-in
// build, asked how. Control characters of the command line become blanks,
// so the entry stays one line.
std::wstring RunHeaderLine(const wchar_t* commandLine)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t folder[MAX_PATH] = L"";
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH)
        folder[0] = L'\0';
    const CStr version = FrameworkFileVersion();
    wchar_t head[64];
    swprintf(head, sizeof head / sizeof head[0], L"Run %04u-%02u-%02u %02u:%02u:%02u UTC, process %lu, package ",
             now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
    std::wstring line = head;
    line += folder[0] ? folder : L"(unknown)";
    line += L", plug-in version ";
    line += version.empty() ? L"(none)" : version.c_str();
    line += L", command line: ";
    for (const wchar_t* p = commandLine; *p; ++p)
        line += *p < 0x20 ? L' ' : *p;
    return line + L"\r\n";
}
}  // namespace

CBaseComponent::CBaseComponent()
{
    m_pLog = new CCmpLog2();
    driverapi::SetStubNotice(&CBaseComponent::OnDriverApiRefused, this);
    g_pDriverApiListener = this;
}

CBaseComponent::~CBaseComponent()
{
    if (g_pDriverApiListener == this) {
        driverapi::SetStubNotice(nullptr, nullptr);
        g_pDriverApiListener = nullptr;
    }
    // The base's own release, not a product's replacement of the slot.
    CBaseComponent::Uninitialize();
}

// A driver call that the system only stubs is answered as failed without
// being made; the log says so once per call, since the answers built on it
// (a device's driver parameters, say) then stay empty.
void CBaseComponent::OnDriverApiRefused(void* context, const char* function)
{
    auto* component = static_cast<CBaseComponent*>(context);
    std::wstring name;
    for (const char* p = function ? function : ""; *p; ++p)
        name += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    component->m_vDriverApiNotices.push_back(name);
    if (!component->m_bDeferDriverApiNotices)
        component->WriteDriverApiNotices();
}

void CBaseComponent::WriteDriverApiNotices()
{
    for (const std::wstring& name : m_vDriverApiNotices)
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"    - %ls is only a stub on this system (Wine); treated as failed.\r\n",
                     name.c_str());
    m_vDriverApiNotices.clear();
}

void CBaseComponent::LogLine(unsigned mode, int line, const wchar_t* format, ...)
{
    if (!m_pLog)
        return;
    va_list args;
    va_start(args, format);
    m_pLog->WriteV(mode, CCmpLog2::kPlain, kSource, line, format, args);
    va_end(args);
}

int CBaseComponent::Initialize()
{
    const wchar_t* commandLine = GetCommandLineW();
    if (!commandLine)
        commandLine = L"";
    if (FindTextNoCase(commandLine, L"/verbose_log") >= 0)
        m_pLog->EnableVerbose();
    if (FindTextNoCase(commandLine, L"/consoleout") >= 0)
        WantConsoleOutput();
    if (FindTextNoCase(commandLine, L"/no_overwrite") >= 0)
        m_bNoOverwrite = 1;

    m_pLog->Open();

    BASECOMP_LOG(CCmpLog2::kBothHeader, L"%ls", RunHeaderLine(commandLine).c_str());
    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"Initializing installer DLL\r\n");
    BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                 m_bNoOverwrite ? L"/no_overwrite DETECTED\r\n" : L"/no_overwrite ABSENT\r\n");
    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"Detecting if 64-bit operating system... \r\n");
    m_b64BitOS = Is64BitOS();

    int result = 1;
    wchar_t packagePath[MAX_PATH] = L"";
    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"Locating package definition file %ls... ", packagePath);
    if (!LocatePackageDefinition(packagePath, MAX_PATH)) {
        BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Failed!\r\n");
    } else {
        BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Done.\r\n");
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"    - Reading package definition file %ls... ", packagePath);
        if (ReadPackageDefinition(packagePath) != 0) {
            BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Failed!\r\n");
            result = 0;
        } else {
            BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"    - Reading package definition file... Done.\r\n");
        }
    }

    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"Checking for install.xml... ");
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(L"install.xml", &found));
    if (!search) {
        BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Not found.\r\n");
    } else {
        BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Found.\r\n");
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"    - Reading installer XML %ls... ", found.cFileName);
        if (ReadInstallerXml(found.cFileName) != 0) {
            BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Failed!\r\n");
            result = 0;
        } else {
            BASECOMP_LOG(CCmpLog2::kVerboseContinue, L"Done.\r\n");
        }
        search.reset();
    }
    // The device table waits for FindDevice: under the loader lock, loading
    // SetupAPI and enumerating devices may deadlock the host.
    return result;
}

// A public slot: a product may call it before the destructor calls it
// again, so what it deletes it also forgets.
void CBaseComponent::Uninitialize()
{
    if (m_bOwnsLog && m_pLog) {
        delete m_pLog;
        m_pLog = nullptr;
    }
    delete m_pPackageReader;
    m_pPackageReader = nullptr;
    m_SoftwareKeyWalk.entry = nullptr;
}

void CBaseComponent::SetSilentSupport(int silent)
{
    m_bSilent = silent;
}

void CBaseComponent::SetRequiredDiskSpace(DWORD kilobytes)
{
    m_dwRequiredDiskSpaceKB = kilobytes;
}

void CBaseComponent::SetRebootRequired(int reboot)
{
    m_bRebootRequired = reboot;
}

void CBaseComponent::SetTargetFile(const wchar_t* path)
{
    m_sTargetFile = path ? path : L"";
    // The product's choice stands over what the package's keys would find.
    m_SoftwareKeyWalk.entry = nullptr;
}

void CBaseComponent::SetInfFile(const wchar_t* infFile, int installType)
{
    m_sInfFile = infFile ? infFile : L"";
    m_nInstallType = installType;
}

void CBaseComponent::AddSupportedDevice(const wchar_t* hardwareId)
{
    m_vSupportedDevices.push_back(CStr(hardwareId ? hardwareId : L""));
}

void CBaseComponent::AddSupportedOS(const SupportedOS& entry)
{
    m_vSupportedOS.push_back(entry);
}

const wchar_t* CBaseComponent::GetInfFile()
{
    return m_sInfFile.GetString();
}

int CBaseComponent::Is64BitOS()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 0;
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"    - Operating system is 64-bit x64 based.\r\n");
        return 1;
    case PROCESSOR_ARCHITECTURE_INTEL:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"    - Operating system is not 64-bit but 32-bit.\r\n");
        return 0;
    default:
        return 0;
    }
}
