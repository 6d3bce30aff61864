// CInf's device node: the root-enumerated node a legacy or virtual driver
// is installed on, made, given the INF's driver and handed to the class
// installer.
#include "inf.h"

#include "driver_failure.h"
#include "service.h"

#include <cfgmgr32.h>

#include <cwchar>

int CInf::CreateDeviceInfo(UniqueDevInfoSet& set, SP_DEVINFO_DATA* device, const wchar_t* deviceName)
{
    if (!device || !deviceName || !GetClass())
        return driverfail::Refused(L"Device node refused: the INF names no class");
    GUID classGuid;
    DWORD count = 0;
    if (!driverapi::SetupDiClassGuidsFromNameW(GetClass(), &classGuid, 1, &count))
        return driverfail::Call(std::wstring(L"SetupDiClassGuidsFromNameW(") + GetClass() + L")");
    if (count == 0)
        return driverfail::Refused(std::wstring(L"Device node refused: the class ") + GetClass() +
                                   L" is not known to the system");
    set.reset(driverapi::SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!set)
        return driverfail::Call(L"SetupDiCreateDeviceInfoList");
    device->cbSize = sizeof *device;
    if (!driverapi::SetupDiCreateDeviceInfoW(set.get(), deviceName, &classGuid, nullptr, nullptr,
                                             DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS, device))
        return driverfail::Call(std::wstring(L"SetupDiCreateDeviceInfoW(") + deviceName + L")");
    if (!driverapi::SetupDiRegisterDeviceInfo(set.get(), device, SPRDI_FIND_DUPS, nullptr, nullptr, nullptr))
        return driverfail::Call(std::wstring(L"SetupDiRegisterDeviceInfo(") + deviceName + L")");
    // A failed installation takes the node away again, also one the class
    // installer went on to install.
    wchar_t instanceId[MAX_DEVICE_ID_LEN] = L"";
    if (!driverapi::SetupDiGetDeviceInstanceIdW(set.get(), device, instanceId, MAX_DEVICE_ID_LEN, nullptr) ||
        !m_journal.DeviceNode(CStr(instanceId))) {
        driverfail::Call(std::wstring(L"SetupDiGetDeviceInstanceIdW(") + deviceName + L")");
        driverapi::SetupDiRemoveDevice(set.get(), device);
        return 0;
    }

    // From here the node is registered: a failure must not leave it behind,
    // or the next installation would take the device as installed. The
    // reason is taken before the removal can change the last error.
    auto fail = [&](const wchar_t* call) {
        driverfail::Call(call);
        driverapi::SetupDiRemoveDevice(set.get(), device);
        return 0;
    };
    SP_DEVINSTALL_PARAMS_W params{};
    params.cbSize = sizeof params;
    if (!driverapi::SetupDiGetDeviceInstallParamsW(set.get(), device, &params))
        return fail(L"SetupDiGetDeviceInstallParamsW");
    if (m_sInfPath.size() >= sizeof params.DriverPath / sizeof params.DriverPath[0]) {
        driverfail::Refused(L"INF path refused for the device node: " + m_sInfPath + L" does not fit " +
                            std::to_wstring(sizeof params.DriverPath / sizeof params.DriverPath[0] - 1) +
                            L" characters");
        return fail(L"");
    }
    wmemcpy(params.DriverPath, m_sInfPath.c_str(), m_sInfPath.size() + 1);
    params.Flags |= DI_ENUMSINGLEINF | DI_DONOTCALLCONFIGMG | DI_NOFILECOPY;
    if (!driverapi::SetupDiSetDeviceInstallParamsW(set.get(), device, &params))
        return fail(L"SetupDiSetDeviceInstallParamsW");
    if (!driverapi::SetupDiBuildDriverInfoList(set.get(), device, SPDIT_CLASSDRIVER))
        return fail(L"SetupDiBuildDriverInfoList(SPDIT_CLASSDRIVER)");
    // Selecting every entry in turn leaves the last one selected.
    SP_DRVINFO_DATA_V1_W driver{};
    driver.cbSize = sizeof driver;
    for (DWORD i = 0;; ++i) {
        if (!driverapi::SetupDiEnumDriverInfoW(set.get(), device, SPDIT_CLASSDRIVER, i,
                                               reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver)))
            return GetLastError() == ERROR_NO_MORE_ITEMS ? 1 : fail(L"SetupDiEnumDriverInfoW(SPDIT_CLASSDRIVER)");
        if (!driverapi::SetupDiSetSelectedDriverW(set.get(), device, reinterpret_cast<SP_DRVINFO_DATA_W*>(&driver)))
            return fail(L"SetupDiSetSelectedDriverW");
    }
}

int CInf::InstallDevice(int* restart)
{
    if (restart)
        *restart = 0;
    const CStr service = FirstServiceName(kNodeServiceChars);
    if (service.empty())
        return driverfail::Refused(L"Device node refused: the INF names no service to name it after");
    CStr name(m_bVirtualDevice ? L"" : L"LEGACY_");
    name += DeviceNodeName(service.c_str());

    UniqueDevInfoSet set;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!CreateDeviceInfo(set, &device, name.c_str()))
        return 0;
    const bool classInstalled = driverapi::SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set.get(), &device) != FALSE;
    if (!classInstalled)
        driverfail::Call(L"SetupDiCallClassInstaller(DIF_INSTALLDEVICE)");
    int result = classInstalled ? 1 : 0;
    if (result && m_bVirtualDevice) {
        // A multi-string: room is kept for its two terminators.
        wchar_t ids[kNodeHardwareIdChars] = {};
        if (!driverapi::SetupDiGetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID, nullptr,
                                                          reinterpret_cast<BYTE*>(ids),
                                                          sizeof ids - 2 * sizeof(wchar_t), nullptr))
            result = driverfail::Call(L"SetupDiGetDeviceRegistryPropertyW(SPDRP_HARDWAREID)");
        else if (!driverapi::UpdateDriverForPlugAndPlayDevicesW(nullptr, ids, m_sInfPath.c_str(), 0, nullptr))
            result = driverfail::Call(std::wstring(L"UpdateDriverForPlugAndPlayDevicesW(") + ids + L")");
    }
    if (restart) {
        SP_DEVINSTALL_PARAMS_W params{};
        params.cbSize = sizeof params;
        if (driverapi::SetupDiGetDeviceInstallParamsW(set.get(), &device, &params) &&
            (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)))
            *restart = 1;
    }
    // The node was made by this call: one the class installer did not
    // install goes at once, so the next installation does not take the
    // device for installed. One it installed is in the journal and goes
    // with the rest of a failed installation.
    if (!classInstalled)
        driverapi::SetupDiRemoveDevice(set.get(), &device);
    return result;
}
