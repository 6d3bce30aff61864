// Installs one Plug and Play driver package on a list of hardware ids: every
// file the package's INF needs is first gathered, each also under its
// compressed name, into a fixed staging folder on the system drive, and the
// staged INF is then handed to newdev for each id. Windows copies from the
// staging folder, so the package folder may go away after the installation.
#pragma once

#include "CStr.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

class CWin2000PnPDriver {
public:
    // The longest hardware id newdev is given; a longer id is refused.
    static constexpr size_t kMaxHardwareIdChars = 255;
    // A catalog file name of [Version], with the terminator.
    static constexpr DWORD kCatalogChars = MAX_PATH;
    // One field of a CopyFiles line or of a file-list line.
    static constexpr DWORD kFieldChars = 4096;

    CWin2000PnPDriver(const wchar_t* infFile, int force);
    virtual ~CWin2000PnPDriver();
    CWin2000PnPDriver(const CWin2000PnPDriver&) = delete;
    CWin2000PnPDriver& operator=(const CWin2000PnPDriver&) = delete;

    // 1 when the id is in the list afterwards (added now or before); 0 for a
    // null id or one longer than kMaxHardwareIdChars, which is counted as a
    // device the installation failed on.
    int AddHardwareId(const wchar_t* hardwareId);
    // Adds the name and its compressed form; always 1.
    int AddFile(const wchar_t* name);
    // Gathers the package's files into stagingFolder; 1 when the INF was read
    // whole and every file it copies was staged, in its own or its
    // compressed form.
    int StageFiles(const wchar_t* stagingFolder);
    // 0 installed on every id, 1 nothing to install, 4 at least one id failed.
    int Install(int noOverwrite, int skipped);
    int IsRebootNeeded() const { return m_bRestart; }

    // <system drive>\TZRSYSTEM\pnpdrvs; empty when the system folder is unknown.
    static CStr StagingFolder();
    // The compressed form of a file name: driver.inf gives driver.in_.
    static std::wstring CompressedName(const std::wstring& name);

    std::vector<CStr> m_vHardwareIds;
    std::vector<CStr> m_vFiles;
    CStr m_sInfFile;
    int m_bRestart = 0;
    DWORD m_dwInstallFlags = 0;
    // Ids refused by AddHardwareId; each makes Install report a failure.
    int m_nRefusedIds = 0;

private:

    // Reading the INF found a name it could not take whole.
    int m_bListIncomplete = 0;
    // The names already in m_vFiles, so a long list stays quick to fill.
    std::set<std::wstring> m_FileNames;
    // The catalog files of [Version]: staged when the package has them, but
    // newdev does not ask for them as it does for a copied file.
    std::set<std::wstring> m_CatalogNames;
};
