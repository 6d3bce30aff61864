// The default INF installation path and the present-device table. The
// installation is not built yet: it answers failure (0) without touching the
// message.
#include "base_component.h"

#include "device_list.h"

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

namespace {
// Bytes read of each device's hardware-id list; a longer list leaves the
// device out of the table.
const DWORD kHardwareIdBytes = 2048;
}  // namespace

int CBaseComponent::BuildDeviceList(int firstIdOnly)
{
    m_vDevices.clear();
    CWin2000DeviceList list;
    list.Enumerate(nullptr);
    // Most devices give one kept id; a second growth is rare.
    m_vDevices.reserve(list.GetCount());
    for (size_t index = 0; index < list.GetCount(); ++index) {
        BYTE ids[kHardwareIdBytes] = {};
        DWORD size = kHardwareIdBytes;
        if (!list.GetHardwareIds(index, ids, &size))
            continue;
        const W2KDEVINST& record = *list.GetDevice(index);
        for (const std::wstring& id : KeptHardwareIds(SplitMultiString(ids, size), firstIdOnly != 0))
            m_vDevices.emplace_back(record, CStr(id.c_str()));
    }
    // The list gives its sets back here; the entries stay as snapshots.
    return 1;
}

int CBaseComponent::FindDevice(const wchar_t* hardwareId, W2KDEVINST** record)
{
    if (!hardwareId)
        return 0;
    if (m_vDevices.empty())
        BuildDeviceList(0);
    for (auto& entry : m_vDevices) {
        if (entry.second.CompareNoCase(hardwareId) == 0) {
            if (record)
                *record = &entry.first;
            return 1;
        }
    }
    return 0;
}
