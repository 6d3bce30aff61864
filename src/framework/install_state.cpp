// The install-state query and its prerequisite checks. The checks are not
// built yet: the query answers "undetermined" (state 8, empty message), and
// each check answers "no" (0) until it is.
#include "base_component.h"

int CBaseComponent::GetInstallState(void* record, unsigned size, const wchar_t*)
{
    InstallStateRecord out(record, size);
    if (!out.IsFullSize())
        return 0;
    out.SetState(kStateUndetermined);
    out.SetMessage(L"");
    return 1;
}

int CBaseComponent::IsDiskSpaceAvailable(const wchar_t*)
{
    return 0;
}

int CBaseComponent::IsHardwarePresent()
{
    return 0;
}

int CBaseComponent::IsComponentInstalled()
{
    return 0;
}

int CBaseComponent::IsMarkedForRemoval()
{
    return 0;
}

int CBaseComponent::GetInstalledVersionStatus()
{
    return 0;
}

// A hook for products: the base has no prerequisites of its own.
int CBaseComponent::CheckCustomPrerequisites(wchar_t*, unsigned, const wchar_t*)
{
    return 1;
}

int CBaseComponent::CheckDependencies(wchar_t*, unsigned, const wchar_t*)
{
    return 0;
}
