// Locating and reading the package definition and the installer description.
// The readers are not built yet: nothing is found, and a reader asked anyway
// answers with a nonzero (failure) code.
#include "base_component.h"

int CBaseComponent::LocatePackageDefinition(wchar_t*, unsigned)
{
    return 0;
}

unsigned CBaseComponent::ReadPackageDefinition(const wchar_t*)
{
    return 1;
}

unsigned CBaseComponent::ReadInstallerXml(const wchar_t*)
{
    return 1;
}
