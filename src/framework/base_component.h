// The installer component of the framework: one object per loaded plug-in.
// Every operation is virtual so that a product component replaces single
// steps; the slot order below is the component's contract with its products.
#pragma once

#include "CStr.h"
#include "cmplog2.h"
#include "device_list.h"
#include "install_state_record.h"
#include "messages.h"
#include "supported_os.h"
#include "tzr_xml_reader.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Property identifiers of GetProperty.
enum TzrProperty : unsigned {
    TZRPROP_NAME = 1,
    TZRPROP_DESCRIPTION = 2,
    TZRPROP_VERSIONCURRENT = 3,
    TZRPROP_VERSIONNEW = 4,
    TZRPROP_INSTALLSTATE = 5,
    TZRPROP_SUPPORTSILENTINSTALL = 6,
    TZRPROP_SUPPORTSILENTUPDATE = 7,
    TZRPROP_SUPPORTDOWNGRADE = 8,
};

enum TzrInstallType : int { kInstallNone = -1, kInstallLegacy = 1, kInstallPnP = 2, kInstallVirtual = 3 };

class CBaseComponent {
public:
    CBaseComponent();
    virtual ~CBaseComponent();                                                        // 0
    CBaseComponent(const CBaseComponent&) = delete;
    CBaseComponent& operator=(const CBaseComponent&) = delete;

    virtual int Initialize();                                                         // 1
    virtual void Uninitialize();                                                      // 2
    virtual unsigned ReadPackageDefinition(const wchar_t* path);                      // 3
    virtual unsigned ReadInstallerXml(const wchar_t* path);                           // 4
    virtual int LocatePackageDefinition(wchar_t* path, unsigned capacity);            // 5
    virtual unsigned Installation(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                  const wchar_t* language);                           // 6
    virtual unsigned InstallLegacy(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                   const wchar_t* language);                          // 7
    virtual unsigned InstallPnP(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                const wchar_t* language);                             // 8
    virtual unsigned InstallVirtual(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                    const wchar_t* language);                         // 9
    virtual int GetProperty(unsigned id, void* buffer, unsigned size, const wchar_t* language);  // 10
    virtual int GetName(wchar_t* message, unsigned capacity, const wchar_t* language);           // 11
    virtual int GetDescription(wchar_t* message, unsigned capacity, const wchar_t* language);    // 12
    virtual int GetCurrentVersion(wchar_t* message, unsigned capacity);               // 13
    virtual int GetNewVersion(wchar_t* message, unsigned capacity);                   // 14
    virtual int GetInstallState(void* record, unsigned size, const wchar_t* language); // 15
    virtual int SupportsSilentInstall();                                              // 16
    virtual int SupportsSilentUpdate();                                               // 17
    virtual int SupportsDowngrade();                                                  // 18
    virtual int IsOSSupported();                                                      // 19
    virtual int IsDiskSpaceAvailable(const wchar_t* path);                            // 20
    virtual int IsHardwarePresent();                                                  // 21
    virtual int IsComponentInstalled();                                               // 22
    virtual int IsMarkedForRemoval();                                                 // 23
    virtual int GetInstalledVersionStatus();                                          // 24
    virtual int CheckCustomPrerequisites(wchar_t* message, unsigned capacity, const wchar_t* language);  // 25
    virtual int CheckDependencies(wchar_t* message, unsigned capacity, const wchar_t* language);         // 26
    virtual void SetSilentSupport(int silent);                                        // 27
    virtual void SetRequiredDiskSpace(DWORD kilobytes);                               // 28
    virtual void SetRebootRequired(int reboot);                                       // 29
    virtual void SetTargetFile(const wchar_t* path);                                  // 30
    virtual void SetInfFile(const wchar_t* infFile, int installType);                 // 31
    virtual void AddSupportedDevice(const wchar_t* hardwareId);                       // 32
    virtual void AddSupportedOS(const SupportedOS& entry);                            // 33
    virtual const wchar_t* GetInfFile();                                              // 34
    virtual int Is64BitOS();                                                          // 35

    // Rebuilds m_vDevices from the present devices.
    int BuildDeviceList(int firstIdOnly);
    // Looks a hardware id up in m_vDevices; a record handed out carries its
    // device's driver snapshot.
    int FindDevice(const wchar_t* hardwareId, W2KDEVINST** record);
    // m_sTargetFile, with the package's software keys walked to the end.
    const CStr& TargetFile();
    // 1 when the service's Enum key counts at least as many devices as the
    // package's supported ids find among the present ones.
    int IsServiceEnumComplete(const wchar_t* serviceName);

    CCmpLog2* Log() const { return m_pLog; }

    // Finishes what an installation killed before its end left (its undo
    // journal in the log folder) and says so in both logs. The host calls
    // it before every installation, of any package.
    void FinishInterruptedInstallations();

    // Language index of a host's language code: "fr" 1, "it" 2, "de" 3,
    // "es" 4, "ja" 5 in any letter case; anything else, and null, 0 (English).
    static int GetLanguageIndex(const wchar_t* code);
    // The table's entry for the language (install-state messages).
    static const wchar_t* GetMessageForLanguage(const TzrMessageTable& table, const wchar_t* language);
    // The Japanese entry for a Japanese host, else English (installation messages).
    static const wchar_t* GetLocalizedMessage(const TzrMessageTable& table, const wchar_t* language);

    // Edition value of the running system from its product type.
    WORD GetWindowsEditionFromSystemValue(DWORD productType);
    // The edition table itself, for a given R2 state.
    static WORD EditionFromProductType(DWORD productType, int r2);
    // Fills m_dwOsMajor, m_dwOsMinor, m_dwOsBuild from the runtime library.
    void QueryRuntimeVersion();
    // Matches a description of the running system against m_vSupportedOS,
    // tracing every test; 1 at the first entry that matches.
    int MatchSupportedOS(const RunningOS& current);

protected:
    // Hears of a driver API call refused because the system only stubs it.
    static void OnDriverApiRefused(void* context, const char* function);

    // Writes one component-log line with the source name of this component.
    void LogLine(unsigned mode, int line, const wchar_t* format, ...);

public:
    int m_bDependenciesChecked = 0;
    int m_bDependenciesMet = 1;
    int m_bNoOverwrite = 0;
    DWORD m_dwOsMajor = 0;
    DWORD m_dwOsMinor = 0;
    DWORD m_dwOsBuild = 0;
    CStr m_sInfFile;
    CStr m_sInfSection;
    CStr m_sServiceName;
    int m_nInstallType = kInstallNone;
    wchar_t m_szPackageName[128] = L"";
    wchar_t m_szShellExecuteFile[MAX_PATH] = L"";
    wchar_t m_szShellExecuteDir[MAX_PATH] = L"";
    int m_bSilent = 1;
    int m_bRebootRequired = 0;
    int m_b64BitOS = 0;
    DWORD m_dwRequiredDiskSpaceKB = 0;
    CStr m_sTargetFile;
    // The list m_vDevices is built from. It owns the device information set
    // every entry's handle names, for as long as the table exists:
    // BuildDeviceList gives it back only after emptying the table, and the
    // table, declared after it, goes first at destruction.
    CWin2000DeviceList m_DeviceList;
    CTzrXMLReader* m_pPackageReader = nullptr;
    std::vector<SupportedOS> m_vSupportedOS;
    std::vector<CStr> m_vSupportedDevices;
    std::vector<std::pair<W2KDEVINST, CStr>> m_vDevices;
    std::vector<CStr> m_vScsiDevices;
    int m_bOwnsLog = 1;
    CCmpLog2* m_pLog = nullptr;

private:
    // Writes the driver API refusals heard so far, each on its own line.
    void WriteDriverApiNotices();
    // Goes on walking the package's software keys for m_sTargetFile; a
    // service-database lookup waits for askServiceDatabase.
    void WalkSoftwareKeys(bool askServiceDatabase);
    struct SoftwareKeyWalk {
        const CTzrXMLNode* entry = nullptr;  // the next, in m_pPackageReader's document
        CStr keyFile;                         // carried over to a key without a name
        bool lookupDue = false;               // the entry's service-database lookup
    } m_SoftwareKeyWalk;

    // Refusals heard while a progress line is open wait for its end, so
    // that "... Done." stays on its header's line.
    bool m_bDeferDriverApiNotices = false;
    std::vector<std::wstring> m_vDriverApiNotices;
};

// Characters, with the terminator, that the installation writes at most into
// the host's message buffer.
size_t InstallMessageCapacity();

// Writes a component-log line tagged with the calling source line.
#define BASECOMP_LOG(mode, ...) LogLine((mode), __LINE__, __VA_ARGS__)
