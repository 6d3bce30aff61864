#include "pnp_journal.h"

#include "driver_failure.h"
#include "inf.h"
#include "inf_sections.h"
#include "service.h"

#include <set>

namespace {

// Every file a CopyFiles line of the INF sends somewhere, as the full path
// it lands at; a list whose directory the INF does not resolve is one
// newdev cannot copy either.
std::vector<CStr> DestinationFiles(CInf& inf)
{
    std::vector<CStr> files;
    std::set<std::wstring> seen;
    auto add = [&](const CStr& dir, const wchar_t* name) {
        const CStr path = JoinPath(dir.c_str(), name);
        std::wstring key(path.c_str());
        for (wchar_t& c : key)
            c = static_cast<wchar_t>(towlower(c));
        if (name[0] && seen.insert(key).second)
            files.push_back(path);
    };
    // Asking for a directory refuses a list without one; that is no reason
    // of this installation's.
    driverfail::KeepReason keep;
    for (const CStr& section : InfSectionNames(inf.m_hInf.get(), inf.m_sInfPath.c_str())) {
        ForEachLine(inf.m_hInf.get(), section.c_str(), L"CopyFiles", [&](INFCONTEXT& line) {
            const DWORD fields = driverapi::SetupGetFieldCount(&line);
            for (DWORD i = 1; i <= fields; ++i) {
                wchar_t list[CInf::kEntryChars];
                CStr dir;
                if (!driverapi::SetupGetStringFieldW(&line, i, list, CInf::kEntryChars, nullptr) || !list[0])
                    continue;
                if (list[0] == L'@') {
                    if (inf.GetDestinationDir(section.c_str(), dir))
                        add(dir, list + 1);
                    continue;
                }
                if (!inf.GetDestinationDir(list, dir))
                    continue;
                ForEachLine(inf.m_hInf.get(), list, nullptr, [&](INFCONTEXT& file) {
                    wchar_t name[CInf::kFileNameChars];
                    if (driverapi::SetupGetStringFieldW(&file, 1, name, CInf::kFileNameChars, nullptr))
                        add(dir, name);
                    return 1;
                });
            }
            return 1;
        });
    }
    return files;
}

}  // namespace

int NoteBeforeNewdev(const CStr& stagedInf, InstallJournal& journal)
{
    CInf inf(stagedInf.c_str());
    if (!inf.IsOpen())
        return 0;
    for (const CStr& path : DestinationFiles(inf)) {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (!journal.FileCreated(path))
                return 0;
            continue;
        }
        const CStr kept = FileBeside(path, L"old");
        if (kept.empty())
            return driverfail::Call(L"GetTempFileNameW(" + path + L")");
        if (!journal.BackupStarted(kept))
            return 0;
        if (!CopyFileW(path.c_str(), kept.c_str(), FALSE))
            return driverfail::Call(L"CopyFileW(" + path + L", " + kept + L")");
        if (!journal.FileReplaced(path, kept))
            return 0;
    }
    for (const CStr& service : inf.ServiceNames())
        if (!CService(service.c_str()).Exists() && !journal.ServiceCreated(service))
            return 0;
    return journal.InfStaged(stagedInf);
}
