// Services, their registry keys and the legacy device nodes, on the real
// service control manager and registry of the prefix.
#include "driver_fixtures.h"
#include "reg_key.h"
#include "service.h"
#include "service_manager.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace tzrtest;

namespace {

const wchar_t kTestKey[] = L"Software\\TzrTest\\RegKey";
const std::wstring kServices = L"System\\CurrentControlSet\\Services\\";
const std::wstring kRootEnum = L"System\\CurrentControlSet\\Enum\\Root\\";

class Services : public MachineTest {};

TEST_F(Services, RegKeyAnswersOnlyValuesOfTheRightTypeAndSize)
{
    TestRegistryKey key(kTestKey);
    ASSERT_TRUE(key.Created());
    ASSERT_TRUE(key.SetString(L"s259", std::wstring(259, L'a')));
    ASSERT_TRUE(key.SetString(L"s260", std::wstring(260, L'b')));
    ASSERT_TRUE(key.SetString(L"s300", std::wstring(300, L'c')));
    ASSERT_TRUE(key.SetString(L"expand", L"%windir%", REG_EXPAND_SZ));
    ASSERT_TRUE(key.SetDword(L"dword", 7));
    ASSERT_TRUE(key.SetString(L"dwordAsText", L"4"));
    ASSERT_TRUE(key.SetBytes(L"wide", REG_BINARY, std::string(8, '\1')));
    // Eight characters stored without their terminator.
    ASSERT_TRUE(key.SetBytes(L"unterminated", REG_SZ, std::string("a\0b\0c\0d\0e\0f\0g\0h\0", 16)));

    struct Case {
        const wchar_t* value;
        int result;
        const wchar_t* text;
    } strings[] = {
        {L"s259", 1, nullptr}, {L"s260", 0, nullptr}, {L"s300", 0, nullptr}, {L"expand", 0, nullptr},
        {L"dword", 0, nullptr}, {L"missing", 0, nullptr}, {L"unterminated", 1, L"abcdefgh"},
    };
    for (const Case& c : strings) {
        CRegKey reg(kTestKey);
        CStr out(L"unchanged");
        EXPECT_EQ(c.result, reg.QueryString(c.value, out)) << Narrow(c.value);
        if (!c.result)
            EXPECT_EQ(CStr(L"unchanged"), out) << Narrow(c.value);
        else if (c.text)
            EXPECT_EQ(CStr(c.text), out);
        else
            EXPECT_EQ(259u, out.size());
        EXPECT_FALSE(reg.m_hKey) << "no handle stays open between queries";
    }
    struct DwordCase {
        const wchar_t* value;
        int result;
        DWORD out;
    } dwords[] = {{L"dword", 1, 7}, {L"dwordAsText", 0, 99}, {L"wide", 0, 99}, {L"missing", 0, 99}};
    for (const DwordCase& c : dwords) {
        CRegKey reg(HKEY_LOCAL_MACHINE, kTestKey);
        DWORD out = 99;
        EXPECT_EQ(c.result, reg.QueryDword(c.value, &out)) << Narrow(c.value);
        EXPECT_EQ(c.out, out) << Narrow(c.value);
    }
    CRegKey empty(L"");
    EXPECT_EQ(0, empty.Exists());
    CRegKey missing(L"Software\\TzrTest\\RegKey\\NoSuchKey");
    EXPECT_EQ(0, missing.Exists());
    EXPECT_FALSE(missing.m_hConnectedRoot) << "a failed open closes the connected root";
}

TEST_F(Services, DisabledOnlyWhenStartReadsFour)
{
    TestService service(L"TzrSvcStart", L"\\SystemRoot\\System32\\drivers\\tzrsvcstart.sys");
    ASSERT_TRUE(service.Created());
    const std::wstring key = kServices + L"TzrSvcStart";
    struct Case {
        const char* what;
        bool remove;
        bool asText;
        DWORD start;
        int disabled;
    } cases[] = {
        {"4", false, false, 4, 1},
        {"3", false, false, 3, 0},
        {"missing", true, false, 0, 0},
        {"\"4\" as a string", false, true, 4, 0},
    };
    for (const Case& c : cases) {
        if (c.remove)
            ASSERT_TRUE(DeleteRegistryValue(key, L"Start"));
        else if (c.asText)
            ASSERT_TRUE(SetRegistryString(key, L"Start", std::to_wstring(c.start)));
        else
            ASSERT_TRUE(SetRegistryDword(key, L"Start", c.start));
        CService svc(L"TzrSvcStart");
        EXPECT_EQ(1, svc.Exists()) << c.what;
        EXPECT_EQ(c.disabled, svc.IsDisabled()) << c.what;
        // Asked again on the same object: the connection is opened anew.
        EXPECT_EQ(c.disabled, svc.IsDisabled()) << c.what;
    }
    CService absent(L"TzrSvcNoSuchService");
    EXPECT_EQ(0, absent.Exists());
    EXPECT_EQ(0, absent.IsDisabled());
}

TEST_F(Services, MarkedForDeletionByDeleteFlagOrLegacyStatusFlags)
{
    // Wine's DeleteService never writes DeleteFlag, and nothing there writes
    // a legacy node's StatusFlags: the test writes what Windows would.
    TestService service(L"TzrSvcDel", L"\\SystemRoot\\System32\\drivers\\tzrsvcdel.sys");
    ASSERT_TRUE(service.Created());
    const std::wstring key = kServices + L"TzrSvcDel";
    struct FlagCase {
        DWORD deleteFlag;
        int marked;
    } flags[] = {{1, 1}, {0, 0}, {2, 0}};
    for (const FlagCase& c : flags) {
        ASSERT_TRUE(SetRegistryDword(key, L"DeleteFlag", c.deleteFlag));
        EXPECT_EQ(c.marked, CService(L"TzrSvcDel").IsMarkedForDeletion()) << c.deleteFlag;
    }

    // A service that is gone but whose legacy node waits for the restart.
    TestRegistryKey node(kRootEnum + L"LEGACY_TZRSVCGONE\\0000");
    ASSERT_TRUE(node.Created());
    struct StatusCase {
        DWORD status;
        int marked;
    } statuses[] = {{0x40008, 1}, {0x40009, 0}, {0x8, 0}, {0x40000, 0}, {0, 0}};
    for (const StatusCase& c : statuses) {
        ASSERT_TRUE(node.SetDword(L"StatusFlags", c.status));
        EXPECT_EQ(c.marked, CService(L"TzrSvcGone").IsMarkedForDeletion()) << std::hex << c.status;
    }
    ASSERT_TRUE(node.SetString(L"StatusFlags", L"262152"));
    EXPECT_EQ(0, CService(L"TzrSvcGone").IsMarkedForDeletion()) << "a string is not a status";
    EXPECT_EQ(0, CService(L"TzrSvcNeverThere").IsMarkedForDeletion());
}

TEST_F(Services, DeviceNodesOfLegacyAndVirtualDrivers)
{
    EXPECT_EQ(0, LegacyDeviceKeyExists(L"tzrmydrv"));
    TestRegistryKey legacy(kRootEnum + L"LEGACY_TZRMYDRV\\0000");
    ASSERT_TRUE(legacy.Created());
    EXPECT_EQ(1, LegacyDeviceKeyExists(L"tzrmydrv"));
    EXPECT_EQ(0, RootDeviceKeyExists(L"tzrmydrv")) << "the legacy node is not the virtual one";
    {
        // A node without its instance key is not a device node.
        TestRegistryKey bare(kRootEnum + L"TZRMYDRV");
        ASSERT_TRUE(bare.Created());
        EXPECT_EQ(0, RootDeviceKeyExists(L"TzrMyDrv"));
    }
    TestRegistryKey virtualNode(kRootEnum + L"TZRMYDRV\\0000");
    ASSERT_TRUE(virtualNode.Created());
    EXPECT_EQ(1, RootDeviceKeyExists(L"TzrMyDrv"));
}

TEST_F(Services, FindDriverFileExpandsOnlyTheSystemRootForm)
{
    const std::wstring drivers = SystemRoot() + L"\\System32\\drivers\\";
    struct Case {
        const wchar_t* service;
        const wchar_t* file;
        std::wstring imagePath;
        bool found;
    } cases[] = {
        {L"TzrFind1", L"tzrfind1.sys", L"\\SystemRoot\\System32\\drivers\\tzrfind1.sys", true},
        {L"TzrFind2", L"tzrfind2.sys", L"\\SYSTEMROOT\\System32\\drivers\\tzrfind2.sys", true},
        // An absolute path stands as it is.
        {L"TzrFind3", L"tzrfind3.sys", drivers + L"tzrfind3.sys", true},
        // Relative to nothing the search knows: not found, though the file exists.
        {L"TzrFind4", L"tzrfind4.sys", L"System32\\drivers\\tzrfind4.sys", false},
        // The object-manager form Windows writes.
        {L"TzrFind7", L"tzrfind7.sys", L"\\??\\" + drivers + L"tzrfind7.sys", true},
        {L"TzrFind8", L"tzrfind8.sys", L"\\??\\System32\\drivers\\tzrfind8.sys", false},
        // Expands beyond a path's 260 characters.
        {L"TzrFind5", L"tzrfind5.sys", L"%TZR_LONG_FOLDER%\\tzrfind5.sys", false},
    };
    SetEnvironmentVariableW(L"TZR_LONG_FOLDER", (L"C:\\" + std::wstring(300, L'x')).c_str());
    for (const Case& c : cases) {
        TestFile file(drivers + c.file, "driver");
        TestService service(c.service, c.imagePath);
        ASSERT_TRUE(service.Created()) << Narrow(c.service);
        CServiceManager manager;
        CStr path(L"unchanged");
        EXPECT_EQ(c.found ? 1 : 0, manager.FindDriverFile(c.file, path)) << Narrow(c.imagePath);
        EXPECT_EQ(c.found ? CStr((drivers + c.file).c_str()) : CStr(L"unchanged"), CStr(path.c_str()))
            << Narrow(c.imagePath);
    }
    SetEnvironmentVariableW(L"TZR_LONG_FOLDER", nullptr);
    // A bare name is never looked up in the current directory, though the
    // file is there.
    {
        wchar_t current[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, current);
        TestFile here(std::wstring(current) + L"\\tzrfind9.sys", "driver");
        TestService bare(L"TzrFind9", L"tzrfind9.sys");
        CStr found;
        EXPECT_EQ(0, CServiceManager().FindDriverFile(L"tzrfind9.sys", found)) << Narrow(found.c_str());
    }
    // The text is matched case-sensitively against the image path.
    TestFile file(drivers + L"tzrfind6.sys", "driver");
    TestService service(L"TzrFind6", L"\\SystemRoot\\System32\\drivers\\tzrfind6.sys");
    CStr path;
    EXPECT_EQ(0, CServiceManager().FindDriverFile(L"TZRFIND6.SYS", path));
    EXPECT_EQ(0, CServiceManager().FindDriverFile(L"tzrfind-none.sys", path));
}

TEST_F(Services, ImagePathKeepsEveryFormButTheSystemRootOne)
{
    struct Case {
        const wchar_t* given;
        const wchar_t* expected;
    } cases[] = {
        {L"\\SystemRoot\\System32\\drivers\\x.sys", L"%systemroot%\\System32\\drivers\\x.sys"},
        {L"\\systemroot\\x.sys", L"%systemroot%\\x.sys"},
        {L"C:\\Windows\\System32\\drivers\\x.sys", L"C:\\Windows\\System32\\drivers\\x.sys"},
        {L"System32\\drivers\\x.sys", L"System32\\drivers\\x.sys"},
        {L"\\SystemRootX", L"%systemroot%X"},
        {L"\\System", L"\\System"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CStr(c.expected), SystemRootImagePath(c.given)) << Narrow(c.given);
}

TEST_F(Services, NamesLongerThanTheSystemTakesAreNotFound)
{
    const std::wstring name(300, L's');
    CService service(name.c_str());
    EXPECT_EQ(0, service.Exists());
    EXPECT_EQ(0, service.IsDisabled());
    EXPECT_EQ(0, service.IsMarkedForDeletion());
    EXPECT_EQ(0, LegacyDeviceKeyExists(name.c_str()));
    CServiceManager manager;
    ASSERT_EQ(1, manager.Open());
    CStr path(L"unchanged");
    EXPECT_EQ(0, manager.GetServiceImagePath(name.c_str(), path));
    EXPECT_EQ(CStr(L"unchanged"), path);
    CService empty(L"");
    EXPECT_EQ(0, empty.OpenService());
}

}  // namespace

namespace {

// A host that is not elevated: the service manager and the registry refuse
// every right beyond reading.
DWORD g_refused = 0;
bool Refused(DWORD access, DWORD allowed)
{
    g_refused += (access & ~allowed) ? 1 : 0;
    return (access & ~allowed) != 0;
}
SC_HANDLE WINAPI ReadOnlyScManager(LPCWSTR machine, LPCWSTR database, DWORD access)
{
    return Refused(access, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | STANDARD_RIGHTS_READ)
               ? nullptr
               : OpenSCManagerW(machine, database, access);
}
SC_HANDLE WINAPI ReadOnlyService(SC_HANDLE manager, LPCWSTR name, DWORD access)
{
    return Refused(access, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | STANDARD_RIGHTS_READ)
               ? nullptr
               : OpenServiceW(manager, name, access);
}
LSTATUS WINAPI ReadOnlyKey(HKEY root, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY key)
{
    return Refused(access, KEY_READ | KEY_WOW64_64KEY) ? ERROR_ACCESS_DENIED
                                                        : RegOpenKeyExW(root, subkey, options, access, key);
}

struct ReadOnlyHost {
    ReadOnlyHost()
    {
        driverapi::OverrideForTest(driverapi::kOpenSCManagerW, reinterpret_cast<void*>(&ReadOnlyScManager));
        driverapi::OverrideForTest(driverapi::kOpenServiceW, reinterpret_cast<void*>(&ReadOnlyService));
        driverapi::OverrideForTest(driverapi::kRegOpenKeyExW, reinterpret_cast<void*>(&ReadOnlyKey));
    }
    ~ReadOnlyHost()
    {
        for (const auto f : {driverapi::kOpenSCManagerW, driverapi::kOpenServiceW, driverapi::kRegOpenKeyExW})
            driverapi::OverrideForTest(f, nullptr);
    }
};

}  // namespace

// Every query reads what it reads with read rights alone: a host that may
// only read learns the same as one that may do anything.
TEST_F(Services, QueriesNeedOnlyReadRights)
{
    const std::wstring drivers = SystemRoot() + L"\\System32\\drivers\\";
    TestFile file(drivers + L"tzrread.sys", "driver");
    TestService service(L"TzrRead", L"\\SystemRoot\\System32\\drivers\\tzrread.sys");
    ASSERT_TRUE(service.Created());
    ASSERT_TRUE(SetRegistryDword(kServices + L"TzrRead", L"Start", 4));
    ASSERT_TRUE(SetRegistryDword(kServices + L"TzrRead", L"DeleteFlag", 1));
    ReadOnlyHost host;
    CService svc(L"TzrRead");
    EXPECT_EQ(1, svc.Exists());
    EXPECT_EQ(1, svc.IsDisabled());
    EXPECT_EQ(1, svc.IsMarkedForDeletion());
    CStr path;
    EXPECT_EQ(1, CServiceManager().FindDriverFile(L"tzrread.sys", path));
    EXPECT_EQ(CStr((drivers + L"tzrread.sys").c_str()), path);
    EXPECT_EQ(0u, g_refused);
}
