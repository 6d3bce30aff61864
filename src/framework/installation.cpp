// The default INF installation path and the present-device table. Neither is
// built yet: an installation answers failure (0) without touching the
// message, and the device table stays empty (BuildDeviceList answers 0).
#include "base_component.h"

unsigned CBaseComponent::Installation(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return 0;
}

unsigned CBaseComponent::InstallLegacy(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return 0;
}

unsigned CBaseComponent::InstallPnP(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return 0;
}

unsigned CBaseComponent::InstallVirtual(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return 0;
}

int CBaseComponent::BuildDeviceList(int)
{
    m_vDevices.clear();
    return 0;
}

int CBaseComponent::FindDevice(const wchar_t* hardwareId, W2KDEVINST** record)
{
    for (auto& entry : m_vDevices) {
        if (hardwareId && entry.second == hardwareId) {
            if (record)
                *record = &entry.first;
            return 1;
        }
    }
    return 0;
}
