#include "inf_models.h"

#include "driver_api.h"
#include "driver_failure.h"
#include "inf.h"
#include "inf_sections.h"

#include <cwchar>
#include <cwctype>

namespace {

typedef void(WINAPI* RtlGetNtVersionNumbersFn)(LPDWORD, LPDWORD, LPDWORD);

bool HasSection(HINF inf, const std::wstring& name)
{
    return !name.empty() && driverapi::SetupGetLineCountW(inf, name.c_str()) >= 0;
}

// A TargetOSVersion, NT[architecture][.major[.minor[.type[.suite[.build]]]]],
// taken apart; false for a decoration that is no NT one.
struct TargetOs {
    std::wstring architecture;
    DWORD major = 0, minor = 0, build = 0;
    bool versioned = false;
};

bool ReadTarget(const std::wstring& decoration, TargetOs& target)
{
    if (decoration.size() < 2 || _wcsnicmp(decoration.c_str(), L"NT", 2) != 0)
        return false;
    std::vector<std::wstring> parts(1);
    for (size_t i = 2; i < decoration.size(); ++i) {
        if (decoration[i] == L'.')
            parts.emplace_back();
        else
            parts.back() += decoration[i];
    }
    target.architecture = parts[0];
    auto number = [&](size_t index, DWORD& into) {
        if (index < parts.size() && !parts[index].empty()) {
            into = static_cast<DWORD>(wcstoul(parts[index].c_str(), nullptr, 0));
            target.versioned = true;
        }
    };
    number(1, target.major);
    number(2, target.minor);
    number(5, target.build);
    return true;
}

bool ForThisPlatform(const TargetOs& target)
{
    return target.architecture.empty() || _wcsicmp(target.architecture.c_str(), L"amd64") == 0;
}

bool NotAbove(const TargetOs& target, const OsVersion& version)
{
    if (target.major != version.major)
        return target.major < version.major;
    if (target.minor != version.minor)
        return target.minor < version.minor;
    return target.build <= version.build;
}

std::wstring Described(const TargetOs& target)
{
    std::wstring text = L"Windows " + std::to_wstring(target.major) + L"." + std::to_wstring(target.minor);
    if (target.build)
        text += L" build " + std::to_wstring(target.build);
    return text + L" and later";
}

}  // namespace

OsVersion SystemVersion()
{
    OsVersion version;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto numbers = ntdll ? reinterpret_cast<RtlGetNtVersionNumbersFn>(
                                     reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetNtVersionNumbers")))
                               : nullptr;
    if (numbers) {
        numbers(&version.major, &version.minor, &version.build);
        version.build &= 0x0FFFFFFF;  // the top bits mark free or checked builds
    }
    return version;
}

bool DecorationApplies(const std::wstring& decoration, const OsVersion& version)
{
    TargetOs target;
    return ReadTarget(decoration, target) && ForThisPlatform(target) && NotAbove(target, version);
}

int ModelInstallSections(HINF inf, const OsVersion& version, std::vector<CStr>& sections)
{
    sections.clear();
    std::vector<std::wstring> models;
    // The lowest version among the package's own sections for this
    // platform, to say what the package is for when none applies.
    bool seenForPlatform = false;
    TargetOs lowest;
    std::wstring otherPlatforms;
    const int walked = ForEachLine(inf, L"Manufacturer", nullptr, [&](INFCONTEXT& line) {
        wchar_t field[CInf::kEntryChars];
        if (!driverapi::SetupGetStringFieldW(&line, 1, field, CInf::kEntryChars, nullptr) || !field[0])
            return 1;
        const std::wstring name(field);
        // Of the decorations that apply, the one for the highest version.
        std::wstring best;
        TargetOs bestTarget;
        const DWORD fields = driverapi::SetupGetFieldCount(&line);
        for (DWORD i = 2; i <= fields; ++i) {
            if (!driverapi::SetupGetStringFieldW(&line, i, field, CInf::kEntryChars, nullptr) || !field[0])
                continue;
            TargetOs target;
            if (!ReadTarget(field, target))
                continue;
            if (!ForThisPlatform(target)) {
                otherPlatforms += (otherPlatforms.empty() ? L"" : L", ") + std::wstring(field);
                continue;
            }
            if (target.versioned &&
                (!seenForPlatform || NotAbove(target, OsVersion{lowest.major, lowest.minor, lowest.build}))) {
                lowest = target;
                seenForPlatform = true;
            }
            if (!NotAbove(target, version) || !HasSection(inf, name + L"." + field))
                continue;
            if (best.empty() || NotAbove(bestTarget, OsVersion{target.major, target.minor, target.build})) {
                best = field;
                bestTarget = target;
            }
        }
        // Without a decoration for this system the plain section serves.
        const std::wstring chosen = best.empty() ? name : name + L"." + best;
        if (HasSection(inf, chosen))
            models.push_back(chosen);
        return 1;
    });
    if (!walked)
        return 0;
    if (models.empty()) {
        std::wstring cause = L"no models section for this system";
        if (seenForPlatform)
            cause += L" (the package's are for " + Described(lowest) + L")";
        else if (!otherPlatforms.empty())
            cause += L" (the package's are for " + otherPlatforms + L")";
        return driverfail::Refused(L"Staging refused: " + cause);
    }
    for (const std::wstring& section : models) {
        const int read = ForEachLine(inf, section.c_str(), nullptr, [&](INFCONTEXT& line) {
            wchar_t install[CInf::kEntryChars];
            if (!driverapi::SetupGetStringFieldW(&line, 1, install, CInf::kEntryChars, nullptr) || !install[0])
                return 1;
            for (const CStr& known : sections)
                if (known.CompareNoCase(install) == 0)
                    return 1;
            sections.emplace_back(install);
            return 1;
        });
        if (!read)
            return 0;
    }
    return 1;
}

CStr DecoratedInstallSection(HINF inf, const CStr& name)
{
    for (const wchar_t* decoration : {L".NTamd64", L".NT", L""}) {
        const std::wstring decorated = std::wstring(name.c_str()) + decoration;
        if (HasSection(inf, decorated))
            return CStr(decorated.c_str());
    }
    return CStr();
}

namespace {

// Every field of the section's lines with key, in file order.
std::vector<CStr> FieldsOf(HINF inf, const std::wstring& section, const wchar_t* key)
{
    std::vector<CStr> values;
    ForEachLine(inf, section.c_str(), key, [&](INFCONTEXT& line) {
        const DWORD fields = driverapi::SetupGetFieldCount(&line);
        for (DWORD i = 1; i <= fields; ++i) {
            wchar_t value[CInf::kEntryChars];
            if (driverapi::SetupGetStringFieldW(&line, i, value, CInf::kEntryChars, nullptr) && value[0])
                values.emplace_back(value);
        }
        return 1;
    });
    return values;
}

void AddOnce(std::vector<CStr>& list, const CStr& name)
{
    for (const CStr& known : list)
        if (known.CompareNoCase(name.c_str()) == 0)
            return;
    list.push_back(name);
}

}  // namespace

int InstalledSections(HINF inf, const wchar_t* infPath, std::vector<CStr>& sections)
{
    sections.clear();
    if (driverapi::SetupGetLineCountW(inf, L"Manufacturer") < 0) {
        for (const CStr& name : InfSectionNames(inf, infPath))
            sections.push_back(name);
        return 1;
    }
    std::vector<CStr> installs;
    if (!ModelInstallSections(inf, SystemVersion(), installs))
        return 0;
    for (const CStr& install : installs) {
        const CStr actual = DecoratedInstallSection(inf, install);
        if (actual.empty())
            continue;
        // An INF that cannot be appended leaves its sections unresolved;
        // the list that needs one then says which.
        for (const CStr& included : FieldsOf(inf, actual, L"Include"))
            if (!driverapi::SetupOpenAppendInfFileW(included.c_str(), inf, nullptr))
                driverfail::Provisional(L"SetupOpenAppendInfFileW(" + included + L")", GetLastError());
        AddOnce(sections, actual);
        const CStr coInstallers((actual + L".CoInstallers").c_str());
        if (HasSection(inf, coInstallers.c_str()))
            AddOnce(sections, coInstallers);
        for (const CStr& needed : FieldsOf(inf, actual, L"Needs"))
            if (HasSection(inf, needed.c_str()))
                AddOnce(sections, needed);
    }
    return 1;
}

bool FromAppendedInf(HINF inf, const wchar_t* section)
{
    INFCONTEXT line;
    return section && driverapi::SetupFindFirstLineW(inf, section, nullptr, &line) && line.CurrentInf != line.Inf;
}

std::vector<CStr> NeededServices(HINF inf, const wchar_t* infPath)
{
    std::vector<CStr> services;
    std::vector<CStr> sections;
    if (!InstalledSections(inf, infPath, sections))
        return services;
    for (const CStr& section : sections) {
        for (const CStr& needed : FieldsOf(inf, std::wstring(section.c_str()) + L".Services", L"Needs")) {
            ForEachLine(inf, needed.c_str(), L"AddService", [&](INFCONTEXT& line) {
                wchar_t name[CInf::kEntryChars];
                if (driverapi::SetupGetStringFieldW(&line, 1, name, CInf::kEntryChars, nullptr) && name[0])
                    AddOnce(services, CStr(name));
                return 1;
            });
        }
    }
    return services;
}
