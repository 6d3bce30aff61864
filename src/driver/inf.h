// One driver INF file, opened through SetupAPI and installed without the
// device-installation wizard: files copied, deleted and renamed with our own
// rules for files in use, registry and INI parts applied by SetupAPI,
// services created, and a root-enumerated device node made for a legacy or
// virtual driver that has none.
//
// Every operation is virtual and calls the others through the virtual table,
// so a product that replaces one step gets it used by every step above it.
// The one exception is the constructor: it reads [Version] and collects the
// section lists with CInf's own ReadVersion and Collect* steps, because a
// derived object does not exist yet while it runs; an override of those
// slots is reached only when called after construction.
// The slot order below is part of the contract with those products.
#pragma once

#include "CStr.h"
#include "driver_api.h"
#include "install_journal.h"

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <vector>

class CInf {
public:
    // Buffers of the INF reading, in characters with the terminator.
    static constexpr DWORD kDirChars = MAX_PATH;          // directory parts
    static constexpr DWORD kFileNameChars = 256;          // file names
    static constexpr DWORD kEntryChars = 512;             // list entries and section names
    static constexpr DWORD kLineTextChars = 4096;         // [Version] values
    static constexpr DWORD kTreePathChars = 16384;        // a directory tree being created
    static constexpr DWORD kNodeServiceChars = 254;       // the service a device node is named after
    static constexpr DWORD kServiceSectionChars = 255;    // the service-install section of an AddService line
    static constexpr DWORD kSettingsServiceChars = 2048;  // the service whose key gets the software settings
    static constexpr DWORD kNodeHardwareIdChars = 256;    // the hardware-id list of a virtual device's node

    explicit CInf(const wchar_t* fileName);
    virtual ~CInf();                                                               // 0
    CInf(const CInf&) = delete;
    CInf& operator=(const CInf&) = delete;

    virtual int IsOpen();                                                          // 1
    virtual int Install(int* restart);                                             // 2
    virtual int InstallSection(const wchar_t* section, int* restart);              // 3
    virtual int InstallDevice(int* restart);                                       // 4
    virtual int ProcessSection(const wchar_t* section, HKEY root);                 // 5
    virtual int InstallServices(const wchar_t* section);                           // 6
    virtual int InstallSoftwareSettings(const wchar_t* section);                   // 7
    virtual int CopyFileList(const wchar_t* section);                              // 8
    virtual void EndInstall();                                                     // 9
    virtual const wchar_t* GetSignature();                                         // 10
    virtual const wchar_t* GetClass();                                             // 11
    virtual const wchar_t* GetClassGuid();                                         // 12
    virtual int GetServiceName(const wchar_t* section, wchar_t* buffer, DWORD capacity);  // 13
    virtual int GetServiceStartType(const wchar_t* section, DWORD* startType);     // 14
    virtual int ProcessCopyFiles(const wchar_t* section);                          // 15
    virtual int ProcessDelFiles(const wchar_t* section);                           // 16
    virtual int ProcessRenFiles(const wchar_t* section);                           // 17
    virtual int DeleteFileList(const wchar_t* section);                            // 18
    virtual int RenameFileList(const wchar_t* section);                            // 19
    // On success set holds the new information set and device its node.
    virtual int CreateDeviceInfo(UniqueDevInfoSet& set, SP_DEVINFO_DATA* device,
                                 const wchar_t* deviceName);                       // 20
    virtual int ReadVersion();                                                     // 21
    virtual void CollectCopyFilesSections();                                       // 22
    virtual void CollectAddServiceSections();                                      // 23
    virtual void CollectSoftwareSettingsSections();                                // 24
    virtual int ReadDestinationDirs();                                             // 25
    virtual int CreateFileDirectory(const wchar_t* filePath);                      // 26
    virtual int CreateDirectoryTree(const wchar_t* dirPath);                       // 27
    // tempName names the file to be replaced on entry: the copy is made in
    // its folder (empty: in the source's), so a rename at restart stays on
    // one volume.
    virtual int CopyToTempFile(const wchar_t* source, CStr& tempName);             // 28
    virtual int GetDestinationDir(const wchar_t* section, CStr& dir);              // 29
    virtual void ResolveDirId(int id, CStr& dir);                                  // 30

    // The service of the first AddService section, read by GetServiceName into
    // chars characters with the terminator; empty: none, or it does not fit.
    CStr FirstServiceName(DWORD chars);
    // Every service an AddService line of the INF names, in file order.
    std::vector<CStr> ServiceNames();
    // Whether the INF has the section (with or without lines), by
    // SetupAPI's own lookup.
    bool HasSection(const wchar_t* section);
    // The section SetupAPI installs for a name on this platform: the name
    // itself when the INF has it, else the first of name.NTamd64 and
    // name.NT that it has; empty when none.
    CStr ActualSection(const wchar_t* section);

    int m_bVirtualDevice = 0;
    UniqueInf m_hInf;
    int m_bRestart = 0;
    CStr m_sSignature;
    CStr m_sClass;
    CStr m_sClassGuid;
    CStr m_sInfPath;
    CStr m_sSourceRoot;
    std::vector<CStr> m_vCopyFilesSections;
    std::vector<CStr> m_vAddServiceSections;
    std::vector<CStr> m_vSoftwareSettingsSections;
    // [DestinationDirs]: entry name at even positions, its directory after it.
    std::vector<CStr> m_vDestinationDirs;

private:
    // Ends Install and InstallSection: a result of 1 keeps what was done, 0
    // takes it back, each undone step noted beside the failure's reason.
    int Finish(int result, int* restart);

    mutable std::vector<CStr> m_vSectionNames;
    mutable bool m_bSectionNamesRead = false;
    mutable bool m_bSectionNamesWhole = true;
    // Per section of m_vSectionNames: which of the keys below it holds.
    enum : unsigned { kKeyCopyFiles = 1, kKeyAddService = 2 };
    mutable std::vector<unsigned> m_vSectionKeys;
    mutable bool m_bSectionKeysRead = false;

protected:
    // What this object's installation changed, for an undo if it fails.
    InstallJournal m_journal;

    // The section names of the file in file order, read once; empty when
    // there are none or the file cannot be read as one.
    const std::vector<CStr>& SectionNames() const;
    // Which keys each section holds, read once in one walk.
    const std::vector<unsigned>& SectionKeys() const;
    // Copies one file into the destination directory of section; source
    // names the file in the package (empty: the same name as the target).
    int CopyOneFile(const wchar_t* section, const wchar_t* name, const wchar_t* sourceName, int flag);
    // Deletes one file of the destination directory of section.
    int DeleteOneFile(const wchar_t* section, const wchar_t* name, int flag);
    // The file operations of one kind over every list the section names.
    int ProcessFileLists(const wchar_t* section, const wchar_t* key, int (CInf::*list)(const wchar_t*));
};

// Whether a file name is a Windows device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9), with or without an extension: a "copy" to it reaches the device.
bool IsDeviceFileName(const wchar_t* name);

// Hands visit each line of section with the key (null: every line), in
// file order, until it answers 0; answers 0 then, else 1 (also for a
// section without such lines, or none at all).
int ForEachLine(HINF inf, const wchar_t* section, const wchar_t* key, const std::function<int(INFCONTEXT&)>& visit);

// The folder of the package a file comes from, as [SourceDisksFiles] and
// [SourceDisksNames] (their .amd64 forms first, unless platformForms is
// false) place it: empty for the package's root, else a relative path
// ending in a backslash. 0 with the reason when the INF places the file
// outside the package.
int InfSourceFolder(HINF inf, const wchar_t* fileName, CStr& folder, bool platformForms = true);

// Joins a directory and a name with one backslash between them.
CStr JoinPath(const wchar_t* dir, const wchar_t* name);
