// Whether the running Windows system is one the package supports. Every value
// seen and every test made goes to the verbose log, so that a refusal can be
// explained from the log alone.
#include "base_component.h"

#include "text_util.h"
#include "win_handle.h"

namespace {

typedef BOOL(WINAPI* GetProductInfoFn)(DWORD, DWORD, DWORD, DWORD, PDWORD);
typedef void(WINAPI* RtlGetNtVersionNumbersFn)(LPDWORD, LPDWORD, LPDWORD);

}  // namespace

WORD CBaseComponent::EditionFromProductType(DWORD productType, int r2)
{
    switch (productType) {
    case PRODUCT_DATACENTER_SERVER:
        return r2 ? 0x0404 : 0x0405;
    case PRODUCT_SMALLBUSINESS_SERVER:
    case PRODUCT_SMALLBUSINESS_SERVER_PREMIUM:
        return r2 ? 0x0204 : 0x0205;
    case PRODUCT_DATACENTER_SERVER_CORE:
        return r2 ? 0x0408 : 0x040A;
    case PRODUCT_STANDARD_SERVER_CORE:
    case PRODUCT_ENTERPRISE_SERVER_CORE:
        return r2 ? 0x0108 : 0x0102;
    default:
        return r2 ? 0xFF04 : 0xFF05;
    }
}

WORD CBaseComponent::GetWindowsEditionFromSystemValue(DWORD productType)
{
    return EditionFromProductType(productType, GetSystemMetrics(SM_SERVERR2) != 0);
}

// The runtime library tells the real version also where GetVersionEx reports
// an older one to the process.
void CBaseComponent::QueryRuntimeVersion()
{
    static bool s_bLookedUp = false;
    static RtlGetNtVersionNumbersFn s_pfnVersion = nullptr;
    if (!s_bLookedUp) {
        if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll"))
            s_pfnVersion = reinterpret_cast<RtlGetNtVersionNumbersFn>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
        s_bLookedUp = true;
    }
    if (s_pfnVersion) {
        DWORD major = 0, minor = 0, build = 0;
        s_pfnVersion(&major, &minor, &build);
        m_dwOsMajor = major;
        m_dwOsMinor = minor;
        m_dwOsBuild = build & 0x0FFFFFFF;  // the top bits mark free or checked builds
        return;
    }
    const DWORD version = GetVersion();
    m_dwOsMajor = LOBYTE(LOWORD(version));
    m_dwOsMinor = HIBYTE(LOWORD(version));
    m_dwOsBuild = 0;
}

int CBaseComponent::IsOSSupported()
{
    if (m_vSupportedOS.empty()) {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                     L"IsOSSupported: No supported_operating_system entries in package definition\r\n");
        return 1;
    }

    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Calling GetVersionEx\r\n");
    OSVERSIONINFOW osvi{};
    osvi.dwOSVersionInfoSize = sizeof osvi;
    GetVersionExW(&osvi);
    osvi.szCSDVersion[sizeof osvi.szCSDVersion / sizeof osvi.szCSDVersion[0] - 1] = L'\0';
    RunningOS current;
    current.nServicePack = FirstNumberIn(osvi.szCSDVersion);
    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: GetVersionEx returned %d.%d Service Pack %d build %u\r\n",
                 static_cast<int>(osvi.dwMajorVersion), static_cast<int>(osvi.dwMinorVersion), current.nServicePack,
                 static_cast<unsigned>(osvi.dwBuildNumber));

    wchar_t kernel32Path[MAX_PATH] = L"";
    const UINT n = GetSystemDirectoryW(kernel32Path, MAX_PATH);
    UniqueModule kernel32;
    if (n > 0 && n < MAX_PATH) {
        BoundedAppend(kernel32Path, MAX_PATH, L"\\kernel32.dll");
        kernel32.reset(LoadLibraryW(kernel32Path));
    }
    if (!kernel32) {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: LoadLibrary Call for kernel32.dll - fails\r\n");
        return 0;
    }

    if (osvi.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        SYSTEM_INFO info{};
        GetNativeSystemInfo(&info);
        if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) {
            BoundedCopy(current.szPlatform, 64, L"nt_x86-64");
            BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                         L"IsOSSupported: sysinfo.wProcessorArchitecture: (nt_x86-64) PROCESSOR_ARCHITECTURE_AMD64\r\n");
        } else if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL) {
            BoundedCopy(current.szPlatform, 64, L"nt");
            BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                         L"IsOSSupported: sysinfo.wProcessorArchitecture: (nt) PROCESSOR_ARCHITECTURE_INTEL\r\n");
        } else {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: sysinfo.wProcessorArchitecture: (NULL) %d\r\n",
                         static_cast<int>(info.wProcessorArchitecture));
        }
    } else {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                     L"IsOSSupported: sysinfo.wProcessorArchitecture (NULL), osvi.dwPlatformId is not "
                     L"VER_PLATFORM_WIN32_NT\r\n");
    }

    DWORD productType = 0;
    if (osvi.dwMajorVersion >= 6) {
        auto getProductInfo = reinterpret_cast<GetProductInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel32.get(), "GetProductInfo")));
        if (getProductInfo) {
            getProductInfo(osvi.dwMajorVersion, osvi.dwMinorVersion, static_cast<DWORD>(current.nServicePack), 0,
                           &productType);
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: GetProductInfo returned dwEdition (0x%X)\r\n",
                         static_cast<unsigned>(productType));
        }
    }

    current.wEdition = GetWindowsEditionFromSystemValue(productType);
    BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                 L"IsOSSupported: GetWindowsEditionFromSystemValue returned Current.nEdition (0x%X)\r\n",
                 static_cast<unsigned>(current.wEdition));

    QueryRuntimeVersion();
    BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Runtime library returned %d.%d build %u\r\n",
                 static_cast<int>(m_dwOsMajor), static_cast<int>(m_dwOsMinor), static_cast<unsigned>(m_dwOsBuild));
    current.nMajor = static_cast<int>(m_dwOsMajor);
    current.nMinor = static_cast<int>(m_dwOsMinor);
    current.dwBuild = m_dwOsBuild;
    BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                 L"IsOSSupported: Current OS major %d minor %d SP %d edition 0x%X build %u\r\n", current.nMajor,
                 current.nMinor, current.nServicePack, static_cast<unsigned>(current.wEdition),
                 static_cast<unsigned>(current.dwBuild));

    return MatchSupportedOS(current);
}

int CBaseComponent::MatchSupportedOS(const RunningOS& current)
{
    for (size_t i = 0; i < m_vSupportedOS.size(); ++i) {
        const SupportedOS& entry = m_vSupportedOS[i];
        const int index = static_cast<int>(i);
        const int major = static_cast<int>(entry.dwMajor);
        const int minor = static_cast<int>(entry.dwMinor);
        const int servicePack = static_cast<int>(entry.dwServicePack);
        if (TzrCompareNoCase(entry.szPlatform, current.szPlatform) != 0) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Supported OS entry %d wrong architecture\r\n",
                         index);
            continue;
        }
        BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                     L"IsOSSupported: Supported OS entry %d major %d minor %d SP %d edition 0x%X build %u to %u\r\n",
                     index, major, minor, servicePack,
                     static_cast<unsigned>(entry.wEditionMask), static_cast<unsigned>(entry.dwMinBuild),
                     static_cast<unsigned>(entry.dwMaxBuild));
        if (major != -1 && major != current.nMajor) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Major version does not match\r\n");
            continue;
        }
        // Every remaining test is made, so the log names every reason at once.
        bool match = true;
        if (minor != -1 && minor != current.nMinor) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Minor version does not match\r\n");
            match = false;
        }
        if (servicePack != -1 && servicePack > current.nServicePack) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader,
                         L"IsOSSupported: Service Pack newer than installed Service Pack\r\n");
            match = false;
        }
        if (static_cast<WORD>(entry.wEditionMask & current.wEdition) != current.wEdition) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Edition does not match\r\n");
            match = false;
        }
        if (current.dwBuild < entry.dwMinBuild || current.dwBuild > entry.dwMaxBuild) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Build number out of range\r\n");
            match = false;
        }
        if (match) {
            BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"IsOSSupported: Match found\r\n");
            return 1;
        }
    }
    return 0;
}
