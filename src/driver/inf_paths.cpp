// Path helpers of the INF road: Windows device names, the package folder a
// file comes from, and joining a directory with a name.
#include "inf.h"

#include "driver_failure.h"

#include <cwchar>

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

int InfSourceFolder(HINF inf, const wchar_t* fileName, CStr& folder, bool platformForms)
{
    folder.clear();
    // The platform's form of each list wins over the plain one, as SetupAPI
    // reads them.
    auto find = [&](const wchar_t* decorated, const wchar_t* plain, const wchar_t* key, INFCONTEXT* line) {
        return (platformForms && driverapi::SetupFindFirstLineW(inf, decorated, key, line)) ||
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
    // Every part must stay below the package's root; "." is the folder it
    // stands in, so it adds nothing.
    std::wstring below;
    size_t start = 0;
    for (size_t end; (end = relative.find_first_of(L"\\/", start)) != std::wstring::npos; start = end + 1) {
        const std::wstring part = relative.substr(start, end - start);
        if (part == L".")
            continue;
        if (part.empty() || part == L".." || part.find(L':') != std::wstring::npos)
            return driverfail::Refused(std::wstring(L"Source of ") + fileName + L" refused: [SourceDisksFiles] places it in " +
                                       relative + L", outside the package");
        below += part + L"\\";
    }
    folder = below.c_str();
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
