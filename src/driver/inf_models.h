// What of a Plug and Play INF this system installs: the models sections
// [Manufacturer] names, picked for this platform and version as Windows
// picks them, and the install sections their lines name. Staging copies only
// what those sections copy, and a package none of whose models sections is
// for this system is refused with that cause before newdev is called.
#pragma once

#include "CStr.h"

#include <windows.h>
#include <setupapi.h>

#include <vector>

struct OsVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
};

// The running system's version, as the runtime library gives it.
OsVersion SystemVersion();

// Whether a [Manufacturer] decoration ("NTamd64", "NTamd64.10.0...22621",
// "NT") names a models section this x64 system at version uses.
bool DecorationApplies(const std::wstring& decoration, const OsVersion& version);

// The install sections the models sections of this system name, as the INF
// names them, in file order. 0 with the reason when [Manufacturer] gives
// this system no models section.
int ModelInstallSections(HINF inf, const OsVersion& version, std::vector<CStr>& sections);

// The install section Windows uses for a name on this platform: the first of
// name.NTamd64, name.NT and name the INF has; empty when none.
CStr DecoratedInstallSection(HINF inf, const CStr& name);

// The sections an installation of the package on this system runs: for each
// install section its platform's form, that form's .CoInstallers companion
// and the sections its Needs= lines name, in that order. The INFs its
// Include= lines name are appended to inf first, so that sections defined
// there resolve as SetupAPI resolves them. An INF without [Manufacturer]
// names no models, so every section counts. 0 with the reason when
// [Manufacturer] gives this system no models section.
int InstalledSections(HINF inf, const wchar_t* infPath, std::vector<CStr>& sections);

// Whether the first line of section comes from an INF appended to inf (an
// included one), not from inf's own file.
bool FromAppendedInf(HINF inf, const wchar_t* section);

// The services the .Services sections of the installed sections get through
// their Needs= lines, from this INF or one it includes.
std::vector<CStr> NeededServices(HINF inf, const wchar_t* infPath);
