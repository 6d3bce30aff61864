// Things on the machine that driver tests make for real and take away again:
// root-enumerated devices, services, registry keys, files. Each holder
// removes what it made in its destructor, so a failed assertion leaves
// nothing behind; MachineTest checks that a test left the prefix as it
// found it.
#pragma once

#include "driver_api.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace tzrtest {

// A device ROOT\<name>\NNNN in the System class. hardwareIds are the bytes
// of SPDRP_HARDWAREID exactly as given (MultiString builds the usual form);
// with withIds false the device has no hardware-id property at all.
class TestDevice {
public:
    TestDevice(const std::wstring& name, const std::vector<std::wstring>& hardwareIds);
    TestDevice(const std::wstring& name, const std::string& rawHardwareIds, bool withIds = true);
    ~TestDevice();
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    bool Created() const { return m_bRegistered; }
    // ROOT\<NAME>\NNNN, as SetupAPI reports it.
    const std::wstring& InstanceId() const { return m_sInstanceId; }

private:
    void Create(const std::wstring& name, const std::string& rawHardwareIds, bool withIds);

    UniqueDevInfoSet m_set;
    SP_DEVINFO_DATA m_device{};
    bool m_bRegistered = false;
    std::wstring m_sInstanceId;
};

// The bytes of a double-terminated UTF-16 multi-string.
std::string MultiString(const std::vector<std::wstring>& strings);

// A service made with CreateServiceW; deleted with its key afterwards.
class TestService {
public:
    TestService(const std::wstring& name, const std::wstring& imagePath, DWORD type = SERVICE_KERNEL_DRIVER);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    bool Created() const { return m_bCreated; }
    const std::wstring& Name() const { return m_sName; }
    // HKLM\System\CurrentControlSet\Services\<name>
    std::wstring KeyPath() const;

private:
    std::wstring m_sName;
    bool m_bCreated = false;
};

// A key below HKLM made for the test, with the keys above it that did not
// exist yet; the topmost of those goes with everything below it.
class TestRegistryKey {
public:
    explicit TestRegistryKey(const std::wstring& path);
    ~TestRegistryKey();
    TestRegistryKey(const TestRegistryKey&) = delete;
    TestRegistryKey& operator=(const TestRegistryKey&) = delete;

    bool Created() const { return m_bCreated; }
    bool SetDword(const std::wstring& name, DWORD value) const;
    bool SetString(const std::wstring& name, const std::wstring& value, DWORD type = REG_SZ) const;
    bool SetBytes(const std::wstring& name, DWORD type, const std::string& bytes) const;
    bool DeleteValue(const std::wstring& name) const;

private:
    std::wstring m_sPath;
    std::wstring m_sRemoveFrom;  // the topmost key this holder made
    bool m_bCreated = false;
};

// What the code under test makes under names the test knows: services (with
// their keys), keys below HKLM (each with all below it) and files. They go
// when the holder is made, so a run that broke off is repaired by the next,
// and again when it goes; MachineTest then shows that nothing else was left.
class Leftovers {
public:
    Leftovers(std::vector<std::wstring> services, std::vector<std::wstring> keys,
              std::vector<std::wstring> files = {});
    ~Leftovers();
    Leftovers(const Leftovers&) = delete;
    Leftovers& operator=(const Leftovers&) = delete;
    void Remove() const;

private:
    std::vector<std::wstring> m_vServices;
    std::vector<std::wstring> m_vKeys;
    std::vector<std::wstring> m_vFiles;
};

// System\CurrentControlSet\Services\<name>, below HKLM.
std::wstring ServiceRegistryKey(const std::wstring& name);
// Deletes the service when there is one, and its key with all below it.
void RemoveService(const std::wstring& name);
// Whether the service exists; its type and start type when asked for.
bool ServiceExists(const std::wstring& name, DWORD* type = nullptr, DWORD* start = nullptr);

// Reading keys below HKLM: a missing DWORD reads as 0xFFFFFFFF, a missing
// string as empty (else as UTF-8).
bool RegistryKeyExists(const std::wstring& path);
DWORD RegistryDword(const std::wstring& path, const std::wstring& name);
std::string RegistryString(const std::wstring& path, const std::wstring& name);

// Sets values on an existing key below HKLM (a service's own key, say).
bool SetRegistryDword(const std::wstring& path, const std::wstring& name, DWORD value);
bool SetRegistryString(const std::wstring& path, const std::wstring& name, const std::wstring& value);
bool DeleteRegistryValue(const std::wstring& path, const std::wstring& name);

// A file the test writes (any path); removed afterwards.
class TestFile {
public:
    TestFile(const std::wstring& path, const std::string& bytes);
    ~TestFile();
    TestFile(const TestFile&) = delete;
    TestFile& operator=(const TestFile&) = delete;
    const std::wstring& Path() const { return m_sPath; }

private:
    std::wstring m_sPath;
};

// An INF in the system's INF folder whose one model matches hardwareId, so
// a device reporting that id has a compatible driver. Removed afterwards.
class TestDriverInf {
public:
    TestDriverInf(const std::wstring& name, const std::wstring& hardwareId);
    const std::wstring& Path() const { return m_file.Path(); }

private:
    static std::wstring PathOf(const std::wstring& name);
    static std::string Text(const std::wstring& hardwareId);
    TestFile m_file;
};

// %SystemRoot% (C:\windows), without a trailing backslash.
std::wstring SystemRoot();

// What the driver tests may touch: the devices, the services and the device
// nodes under Enum\Root.
struct MachineState {
    std::vector<std::wstring> devices;
    std::vector<std::wstring> services;
    std::vector<std::wstring> rootNodes;
};
MachineState CaptureMachineState();

// A test that leaves the machine as it found it, and checks that it did.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    MachineState m_before;
};

}  // namespace tzrtest
