#include "device_list.h"

#include "text_util.h"

#include <cstring>

W2KDEVINST::W2KDEVINST()
{
    devInfoData.cbSize = sizeof devInfoData;
}

BOOL W2KDEVINST::GetRegistryProperty(DWORD property, DWORD* dataType, BYTE* buffer, DWORD size,
                                     DWORD* required) const
{
    if (!hDevInfo || hDevInfo == INVALID_HANDLE_VALUE)
        return FALSE;
    SP_DEVINFO_DATA device = devInfoData;
    return driverapi::SetupDiGetDeviceRegistryPropertyW(hDevInfo, &device, property, dataType, buffer, size, required);
}

DWORD W2KDEVINST::TestDriverFlags(DWORD mask) const
{
    if (!hDevInfo || hDevInfo == INVALID_HANDLE_VALUE)
        return 0;
    return mask & driverInstallParams.Flags;
}

std::wstring W2KDEVINST::InfFileName() const
{
    const wchar_t* name = DriverDetail()->InfFileName;
    const size_t capacity = sizeof DriverDetail()->InfFileName / sizeof name[0];
    size_t length = 0;
    while (length < capacity && name[length])
        ++length;
    return std::wstring(name, length);
}

void W2KDEVINST::ClearDriver()
{
    memset(&driverInfo, 0, sizeof driverInfo);
    memset(driverDetail, 0, sizeof driverDetail);
    memset(&driverInstallParams, 0, sizeof driverInstallParams);
}

CWin2000DeviceList::~CWin2000DeviceList()
{
    Clear();
}

void CWin2000DeviceList::Enumerate(const GUID* classGuid)
{
    Append(classGuid, true);
}

void CWin2000DeviceList::EnumerateWithoutDrivers(const GUID* classGuid)
{
    Append(classGuid, false);
}

void CWin2000DeviceList::Append(const GUID* classGuid, bool withDrivers)
{
    const DWORD flags = classGuid ? DIGCF_PRESENT : (DIGCF_PRESENT | DIGCF_ALLCLASSES);
    UniqueDevInfoSet set(driverapi::SetupDiGetClassDevsW(classGuid, nullptr, nullptr, flags));
    if (!set)
        return;
    const HDEVINFO handle = set.get();
    m_vSets.push_back(std::move(set));

    W2KDEVINST record;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; driverapi::SetupDiEnumDeviceInfo(handle, index, &device); ++index) {
        // Every device starts from an empty snapshot, so one without a
        // driver never shows the driver of the device before it.
        record.ClearDriver();
        if (withDrivers)
            ReadInstalledDriver(handle, device, record);
        record.hDevInfo = handle;
        record.devInfoData = device;
        m_vDevices.push_back(record);
        m_vDriverRead.push_back(withDrivers);
    }
}

void CWin2000DeviceList::ReadInstalledDriver(HDEVINFO handle, SP_DEVINFO_DATA device, W2KDEVINST& record)
{
    SP_DEVINSTALL_PARAMS_W install{};
    install.cbSize = sizeof install;
    SP_DRVINFO_DATA_V2_W driver{};
    driver.cbSize = sizeof driver;
    bool haveDriver = false;
    if (driverapi::SetupDiGetDeviceInstallParamsW(handle, &device, &install)) {
        // With this flag the compatible list holds only the installed driver.
        install.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER;
        haveDriver = driverapi::SetupDiSetDeviceInstallParamsW(handle, &device, &install) &&
                     driverapi::SetupDiBuildDriverInfoList(handle, &device, SPDIT_COMPATDRIVER) &&
                     driverapi::SetupDiEnumDriverInfoW(handle, &device, SPDIT_COMPATDRIVER, 0,
                                                       reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver));
    }
    if (!haveDriver)
        return;
    record.driverInfo = driver;
    SP_DRVINSTALL_PARAMS params{};
    params.cbSize = sizeof params;
    if (driverapi::SetupDiGetDriverInstallParamsW(handle, &device, reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver),
                                                  &params))
        record.driverInstallParams = params;
    // Filled in place: the record's buffer is aligned for the detail
    // structure and its size field says the fixed part.
    alignas(SP_DRVINFO_DETAIL_DATA_W) unsigned char detail[kDriverDetailBytes] = {};
    reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detail)->cbSize = sizeof(SP_DRVINFO_DETAIL_DATA_W);
    DWORD required = 0;
    if (driverapi::SetupDiGetDriverInfoDetailW(handle, &device, reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver),
                                               reinterpret_cast<SP_DRVINFO_DETAIL_DATA_W*>(detail),
                                               static_cast<DWORD>(sizeof detail), &required) ||
        GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        memcpy(record.driverDetail, detail, sizeof detail);
}

const W2KDEVINST* CWin2000DeviceList::DriverSnapshotOf(const W2KDEVINST& copy)
{
    if (!copy.hDevInfo || copy.hDevInfo == INVALID_HANDLE_VALUE)
        return nullptr;
    for (size_t i = 0; i < m_vDevices.size(); ++i) {
        W2KDEVINST& record = m_vDevices[i];
        if (record.hDevInfo != copy.hDevInfo ||
            memcmp(&record.devInfoData, &copy.devInfoData, sizeof record.devInfoData) != 0)
            continue;
        if (!m_vDriverRead[i]) {
            m_vDriverRead[i] = true;
            ReadInstalledDriver(record.hDevInfo, record.devInfoData, record);
        }
        return &record;
    }
    return nullptr;
}

W2KDEVINST* CWin2000DeviceList::GetDevice(size_t index)
{
    return index < m_vDevices.size() ? &m_vDevices[index] : nullptr;
}

int CWin2000DeviceList::GetHardwareIds(size_t index, BYTE* buffer, DWORD* size)
{
    if (!size || index >= m_vDevices.size())
        return 0;
    const W2KDEVINST& record = m_vDevices[index];
    DWORD type = REG_NONE;
    DWORD required = 0;
    // One read when the list fits the buffer, as it nearly always does (the
    // table reads every device's); a list that does not fit says its size.
    if (record.GetRegistryProperty(SPDRP_HARDWAREID, &type, buffer, buffer ? *size : 0, &required)) {
        if (required == 0)
            return 0;
        // The bytes written, never more than the buffer holds.
        if (required < *size)
            *size = required;
        return 1;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0)
        return 0;
    *size = required;
    return 0;
}

void CWin2000DeviceList::Clear()
{
    // Only a device whose snapshot was taken can have a driver list.
    for (size_t i = 0; i < m_vDevices.size(); ++i) {
        if (!m_vDriverRead[i])
            continue;
        SP_DEVINFO_DATA device = m_vDevices[i].devInfoData;
        driverapi::SetupDiDestroyDriverInfoList(m_vDevices[i].hDevInfo, &device, SPDIT_COMPATDRIVER);
    }
    m_vDevices.clear();
    m_vDriverRead.clear();
    m_vSets.clear();
}

std::vector<std::wstring> SplitMultiString(const void* data, size_t bytes)
{
    std::vector<std::wstring> strings;
    if (!data)
        return strings;
    // Byte by byte: the data need not be aligned for wchar_t.
    const unsigned char* p = static_cast<const unsigned char*>(data);
    const size_t characters = bytes / sizeof(wchar_t);
    std::wstring current;
    for (size_t i = 0; i < characters; ++i) {
        wchar_t c;
        memcpy(&c, p + i * sizeof c, sizeof c);
        if (c != L'\0') {
            current += c;
            continue;
        }
        if (current.empty())
            return strings;  // the double terminator
        strings.push_back(current);
        current.clear();
    }
    if (!current.empty())
        strings.push_back(current);
    return strings;
}

std::vector<std::wstring> KeptHardwareIds(std::vector<std::wstring> ids, bool firstOnly)
{
    std::vector<std::wstring> kept;
    if (ids.empty())
        return kept;
    if (firstOnly) {
        kept.push_back(ids.front());
        return kept;
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        std::wstring& id = ids[i];
        if (i > 0)
            for (wchar_t& c : id)
                c = AsciiUpper(c);
        // A class code names a kind of device, never one package's. An id
        // with a revision is kept: it only ever equals a package's id that
        // names the same revision, so a package naming no revision finds
        // what it found before, and one whose device reports nothing but
        // revision ids (a hypervisor's bus children) can name it.
        if (id.find(L"&CC") != std::wstring::npos)
            continue;
        kept.push_back(id);
    }
    return kept;
}
