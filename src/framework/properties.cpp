// The property queries: the dispatch and the base answers.
#include "base_component.h"

#include <cstring>

int CBaseComponent::GetProperty(unsigned id, void* buffer, unsigned size, const wchar_t* language)
{
    wchar_t* text = static_cast<wchar_t*>(buffer);
    switch (id) {
    case TZRPROP_NAME:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_NAME)\r\n");
        return GetName(text, size, language);
    case TZRPROP_DESCRIPTION:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_DESCRIPTION)\r\n");
        return GetDescription(text, size, language);
    case TZRPROP_VERSIONCURRENT:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_VERSIONCURRENT)\r\n");
        return GetCurrentVersion(text, size);
    case TZRPROP_VERSIONNEW:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_VERSIONNEW)\r\n");
        return GetNewVersion(text, size);
    case TZRPROP_INSTALLSTATE:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_INSTALLSTATE)\r\n");
        return GetInstallState(buffer, size, language);
    case TZRPROP_SUPPORTSILENTINSTALL: {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_SUPPORTSILENTINSTALL)\r\n");
        const unsigned value = static_cast<unsigned>(SupportsSilentInstall());
        memcpy(buffer, &value, sizeof value);
        return 1;
    }
    case TZRPROP_SUPPORTSILENTUPDATE: {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_SUPPORTSILENTUPDATE)\r\n");
        const unsigned value = static_cast<unsigned>(SupportsSilentUpdate());
        memcpy(buffer, &value, sizeof value);
        return 1;
    }
    case TZRPROP_SUPPORTDOWNGRADE: {
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(TZRPROP_SUPPORTDOWNGRADE)\r\n");
        const unsigned value = static_cast<unsigned>(SupportsDowngrade());
        memcpy(buffer, &value, sizeof value);
        return 1;
    }
    default:
        BASECOMP_LOG(CCmpLog2::kVerboseHeader, L"GetProperty(0x%02X) - unknown type\r\n", id);
        return 0;
    }
}

// Name, description and the two versions come from the package definition
// and the target file's version record; neither is read yet, so each query
// answers "not known" (0, buffer untouched).
int CBaseComponent::GetName(wchar_t*, unsigned, const wchar_t*)
{
    return 0;
}

int CBaseComponent::GetDescription(wchar_t*, unsigned, const wchar_t*)
{
    return 0;
}

int CBaseComponent::GetCurrentVersion(wchar_t*, unsigned)
{
    return 0;
}

int CBaseComponent::GetNewVersion(wchar_t*, unsigned)
{
    return 0;
}

int CBaseComponent::SupportsSilentInstall()
{
    return m_bSilent;
}

int CBaseComponent::SupportsSilentUpdate()
{
    return m_bSilent;
}

int CBaseComponent::SupportsDowngrade()
{
    return 1;
}
