// CInf against real INF files through Wine's SetupAPI: directories, the file
// lists with their flags and files in use, services and registry, device
// nodes (through the CreateDeviceInfo seam where Wine cannot build a class
// driver list), and INF files that are too large or not INF files at all.
//
// Every destination lies below the test's own folder in the prefix (%24% is
// pointed there through SystemDrive), every service, key and file a test
// creates goes again, and each test checks that it left the machine's
// devices, services and device nodes as it found them.
#include "driver_api.h"
#include "driver_fixtures.h"
#include "driver_failure.h"
#include "inf.h"
#include "service.h"
#include "test_support.h"
#include "win_handle.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

const wchar_t kEnumRoot[] = L"System\\CurrentControlSet\\Enum\\Root\\";
const wchar_t kPendingKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring DataFile(const std::wstring& name)
{
    return WindowsPath(Widen(TZR_TEST_DATA)) + L"\\" + name;
}

// The pairs of PendingFileRenameOperations, as written.
std::vector<std::wstring> PendingOperations()
{
    std::vector<wchar_t> data(65536, L'\0');
    DWORD size = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    std::vector<std::wstring> entries;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kPendingKey, kPendingValue, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &size) != ERROR_SUCCESS)
        return entries;
    // Empty strings (a deletion's target) are entries too: read by pairs.
    const size_t count = size / sizeof(wchar_t);
    for (size_t at = 0; at < count;) {
        const std::wstring entry(&data[at]);
        if (entry.empty() && entries.size() % 2 == 0 && (at + 1 >= count || data[at + 1] == L'\0'))
            break;
        entries.push_back(entry);
        at += entry.size() + 1;
    }
    return entries;
}

// Takes the test's own entries out of the pending operations again.
void DropPendingUnder(const std::wstring& folder)
{
    const std::vector<std::wstring> entries = PendingOperations();
    std::wstring kept;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (entries[i].find(folder) != std::wstring::npos)
            continue;
        kept += entries[i] + L'\0' + entries[i + 1] + L'\0';
    }
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPendingKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    if (kept.empty()) {
        RegDeleteValueW(key.get(), kPendingValue);
    } else {
        kept += L'\0';
        RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
}

bool PendingMentions(const std::wstring& text)
{
    for (const std::wstring& entry : PendingOperations())
        if (entry.find(text) != std::wstring::npos)
            return true;
    return false;
}

// Each test works in a folder of its own that also serves as %SystemDrive%,
// so directory id 24 puts every destination there.
class InfTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        m_folder = std::wstring(cwd) + L"\\" + Widen(name);
        RemoveTree(m_folder);
        MakeDirs(m_folder);
        GetEnvironmentVariableW(L"SystemDrive", m_savedDrive, MAX_PATH);
        SetEnvironmentVariableW(L"SystemDrive", m_folder.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"SystemDrive", m_savedDrive);
        DropPendingUnder(m_folder);
        RemoveTree(m_folder);
        MachineTest::TearDown();
    }
    // The data INF copied into the test folder, which becomes its source root.
    std::wstring UseInf(const std::wstring& name)
    {
        const std::string bytes = ReadFileBytes(DataFile(name));
        EXPECT_FALSE(bytes.empty()) << Narrow(DataFile(name));
        return WriteInf(name, bytes);
    }
    std::wstring WriteInf(const std::wstring& name, const std::string& bytes)
    {
        const std::wstring path = m_folder + L"\\" + name;
        WriteFileBytes(path, bytes);
        return path;
    }
    std::wstring Here(const std::wstring& relative) const { return m_folder + L"\\" + relative; }
    std::string Read(const std::wstring& relative) const { return ReadFileBytes(Here(relative)); }
    void Write(const std::wstring& relative, const std::string& bytes) const { WriteFileBytes(Here(relative), bytes); }

    std::wstring m_folder;
    wchar_t m_savedDrive[MAX_PATH] = L"C:";
};

std::wstring Env(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = L"";
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return value;
}

TEST_F(InfTest, OneDestinationLineServesEveryList)
{
    Write(L"a.sys", "A");
    Write(L"b.sys", "B");
    CInf inf(UseInf(L"inf_dirs_one.inf").c_str());
    ASSERT_TRUE(inf.IsOpen());
    EXPECT_EQ(1, inf.ProcessCopyFiles(L"Install"));
    EXPECT_EQ("A", Read(L"one\\a.sys"));
    EXPECT_EQ("B", Read(L"one\\b.sys"));
}

TEST_F(InfTest, TwoLinesWithoutMatchOrDefaultFail)
{
    Write(L"a.sys", "A");
    CInf inf(UseInf(L"inf_dirs_two.inf").c_str());
    EXPECT_EQ(0, inf.ProcessCopyFiles(L"Install"));
    EXPECT_FALSE(FileExists(Here(L"one\\a.sys")));
    EXPECT_FALSE(FileExists(Here(L"two\\a.sys")));
}

TEST_F(InfTest, DestinationDirectoriesFromIdsAndText)
{
    CInf inf(UseInf(L"inf_dirs_ids.inf").c_str());
    ASSERT_EQ(1, inf.ReadDestinationDirs());
    const std::wstring root = Env(L"SystemRoot");
    ASSERT_FALSE(root.empty());
    // Id 13 names no directory here: its lines stay, with none.
    const std::vector<std::wstring> expected = {
        L"Drivers", root + L"\\system32\\drivers", L"Nowhere", L"", L"UnknownWithSub", L"",
        L"Nested",  m_folder + L"\\a\\b",          L"Text",    L"C:\\abs\\sub",
        L"Joined",  m_folder + L"\\x",               L"DefaultDestDir", root + L"\\system32"};
    EXPECT_EQ(expected, std::vector<std::wstring>(inf.m_vDestinationDirs.begin(), inf.m_vDestinationDirs.end()));

    struct Case {
        const wchar_t* section;
        std::wstring dir;
    } cases[] = {
        {L"Drivers", root + L"\\system32\\drivers"},
        {L"Nowhere", L""},  // an unknown directory fails; the default does not serve it
        {L"drivers", root + L"\\system32"},  // names match in exact case only
        {L"Text", L"C:\\abs\\sub"},
    };
    for (const Case& c : cases) {
        CStr dir;
        EXPECT_EQ(c.dir.empty() ? 0 : 1, inf.GetDestinationDir(c.section, dir)) << Narrow(c.section);
        EXPECT_EQ(c.dir, dir) << Narrow(c.section);
    }
}

// Ids are decimal as SetupAPI reads them; a negative id names no directory
// and leaves its line out like an unknown one. Device names are no files.
TEST_F(InfTest, DecimalDirectoryIdsAndDeviceNames)
{
    CInf inf(WriteInf(L"ids.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[DestinationDirs]\r\n"
                                  "Octal=012\r\nMinusOne=-1\r\nMinus=-12,sub\r\nDefaultDestDir=24,dflt\r\n")
                 .c_str());
    ASSERT_EQ(1, inf.ReadDestinationDirs());
    const std::vector<std::wstring> expected = {L"Octal", Env(L"SystemRoot") + L"\\system32\\drivers",
                                                L"MinusOne", L"", L"Minus", L"",
                                                L"DefaultDestDir", m_folder + L"\\dflt"};
    EXPECT_EQ(expected, std::vector<std::wstring>(inf.m_vDestinationDirs.begin(), inf.m_vDestinationDirs.end()));

    const struct {
        const wchar_t* name;
        bool device;
    } names[] = {{L"NUL", true},        {L"con", true},       {L"Aux.sys", true},   {L"COM1", true},
                 {L"lpt9.dll", true},   {L"PRN .txt", true},  {L"COM0", false},     {L"COM10", false},
                 {L"CONSOLE.sys", false}, {L"nul_.sys", false}, {L"LPT", false},     {L"drv.sys", false}};
    for (const auto& n : names)
        EXPECT_EQ(n.device, IsDeviceFileName(n.name)) << Narrow(n.name);
}

// The real SetupAPI functions behind counting stand-ins.
using FindFirstLine = decltype(&SetupFindFirstLineW);
using EnumSections = decltype(&SetupEnumInfSectionsW);
FindFirstLine g_realFindFirstLine = nullptr;
EnumSections g_realEnumSections = nullptr;
size_t g_lookups = 0, g_enumerations = 0;

BOOL WINAPI CountedFindFirstLine(HINF inf, PCWSTR section, PCWSTR key, PINFCONTEXT context)
{
    ++g_lookups;
    return g_realFindFirstLine(inf, section, key, context);
}

BOOL WINAPI CountedEnumSections(HINF inf, UINT index, PWSTR buffer, UINT size, UINT* needed)
{
    ++g_enumerations;
    return g_realEnumSections(inf, index, buffer, size, needed);
}

// The section list is one pass of SetupAPI's enumeration, and each section
// is looked up a fixed number of times, whatever the INF's size: the work is
// linear in the sections. (Wine finds a section by name by comparing it
// with each in turn, so its own part of a lookup grows with the file; on
// Windows a lookup does not.)
TEST_F(InfTest, SectionListIsOnePassAndEachSectionLookedUpAFixedNumberOfTimes)
{
    g_realFindFirstLine = reinterpret_cast<FindFirstLine>(driverapi::Resolve(driverapi::kSetupFindFirstLineW));
    g_realEnumSections = reinterpret_cast<EnumSections>(driverapi::Resolve(driverapi::kSetupEnumInfSectionsW));
    ASSERT_TRUE(g_realFindFirstLine && g_realEnumSections);
    auto perSection = [&](int count, size_t* lookups, size_t* enumerations) {
        std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
        for (int i = 0; i < count; ++i)
            text += "[S" + std::to_string(i) + ".Files]\r\nCopyFiles=List" + std::to_string(i) + "\r\n";
        const std::wstring path = WriteInf(L"many" + std::to_wstring(count) + L".inf", text);
        g_lookups = g_enumerations = 0;
        driverapi::OverrideForTest(driverapi::kSetupFindFirstLineW, reinterpret_cast<void*>(&CountedFindFirstLine));
        driverapi::OverrideForTest(driverapi::kSetupEnumInfSectionsW, reinterpret_cast<void*>(&CountedEnumSections));
        {
            CInf inf(path.c_str());
            wchar_t service[256];
            inf.GetServiceName(nullptr, service, 256);
            inf.InstallSection(L"S0.Files", nullptr);
            EXPECT_EQ(static_cast<size_t>(count), inf.m_vCopyFilesSections.size());
        }
        driverapi::OverrideForTest(driverapi::kSetupFindFirstLineW, nullptr);
        driverapi::OverrideForTest(driverapi::kSetupEnumInfSectionsW, nullptr);
        *lookups = g_lookups;
        *enumerations = g_enumerations;
    };
    size_t smallLookups = 0, smallEnumerations = 0, largeLookups = 0, largeEnumerations = 0;
    perSection(300, &smallLookups, &smallEnumerations);
    perSection(3000, &largeLookups, &largeEnumerations);
    // One call per section and the one that ends the list (sections plus
    // [Version]), once per INF.
    EXPECT_EQ(301u + 1, smallEnumerations);
    EXPECT_EQ(3001u + 1, largeEnumerations);
    EXPECT_LE(largeLookups, 10 * smallLookups + 100) << smallLookups << " lookups at 300, " << largeLookups
                                                      << " at 3000";
}

BOOL WINAPI EnumSectionsMissing(HINF, UINT, PWSTR, UINT, UINT*)
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

// Where the system has no section enumeration, the profile API gives the
// list, read whole however long it is.
TEST_F(InfTest, WithoutTheEnumerationTheProfileListIsReadWhole)
{
    std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
    for (int i = 0; i < 200; ++i)
        text += "[" + std::string(200, 'P') + std::to_string(i) + "]\r\nCopyFiles=x\r\n";
    const std::wstring path = WriteInf(L"profile.inf", text);
    driverapi::OverrideForTest(driverapi::kSetupEnumInfSectionsW, reinterpret_cast<void*>(&EnumSectionsMissing));
    CInf inf(path.c_str());
    driverapi::OverrideForTest(driverapi::kSetupEnumInfSectionsW, nullptr);
    ASSERT_EQ(200u, inf.m_vCopyFilesSections.size());
    EXPECT_EQ(std::string(200, 'P') + "199", Narrow(inf.m_vCopyFilesSections.back()));
}

// Ids come from the environment of the moment; a variable that is not set,
// or too long for a directory with its suffix, gives no directory.
TEST_F(InfTest, DirectoryIdsFromTheEnvironment)
{
    CInf inf(L"no-such.inf");
    const std::wstring programs = Env(L"ProgramFiles");
    const std::wstring root = Env(L"SystemRoot");
    const std::wstring tooLong(MAX_PATH, L'p'), nearly(MAX_PATH - 5, L'p');
    const struct {
        int id;
        const wchar_t* variable;  // set to value for this case
        const std::wstring* value;
        std::wstring dir;
    } cases[] = {
        {24, nullptr, nullptr, m_folder},
        {16427, nullptr, nullptr, Env(L"CommonProgramFiles")},
        {16425, nullptr, nullptr, root + L"\\SysWOW64"},
        {13, nullptr, nullptr, L""},
        {16431, nullptr, nullptr, L""},
        {24, L"SystemDrive", nullptr, L""},
        {24, L"SystemDrive", &tooLong, L""},
        {16422, L"ProgramFiles", &nearly, nearly},
        {16425, L"SystemRoot", &nearly, L""},  // fits alone, not with "\SysWOW64"
    };
    for (const auto& c : cases) {
        if (c.variable)
            SetEnvironmentVariableW(c.variable, c.value ? c.value->c_str() : nullptr);
        CStr dir(L"stale");
        inf.ResolveDirId(c.id, dir);
        EXPECT_EQ(c.dir, dir) << c.id;
        SetEnvironmentVariableW(L"SystemDrive", m_folder.c_str());
        SetEnvironmentVariableW(L"ProgramFiles", programs.c_str());
        SetEnvironmentVariableW(L"SystemRoot", root.c_str());
    }
}

TEST_F(InfTest, CopyFlagsAndSourceNames)
{
    for (const wchar_t* name : {L"keep.sys", L"over.sys", L"src_renamed.sys", L"same.sys"})
        Write(name, "new " + Narrow(name));
    CreateDirectoryW(Here(L"dest").c_str(), nullptr);
    Write(L"dest\\keep.sys", "old");
    Write(L"dest\\over.sys", "old");
    CInf inf(UseInf(L"inf_copy.inf").c_str());
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        EXPECT_EQ(1, inf.ProcessCopyFiles(L"Install"));
        EXPECT_EQ("old", Read(L"dest\\keep.sys"));  // 16: keep an existing file
        EXPECT_EQ("new over.sys", Read(L"dest\\over.sys"));  // 24 is not 16
        EXPECT_EQ("new src_renamed.sys", Read(L"dest\\renamed.sys"));
        EXPECT_EQ("new same.sys", Read(L"dest\\same.sys"));  // empty field 2: field 1's name
        EXPECT_EQ(0, inf.m_bRestart);
    }
    // A missing source ends the list with failure.
    DeleteFileW(Here(L"over.sys").c_str());
    EXPECT_EQ(0, inf.ProcessCopyFiles(L"Install"));
}

TEST_F(InfTest, DestinationInUseIsReplacedAtRestart)
{
    Write(L"busy.sys", "new");
    CreateDirectoryW(Here(L"dest").c_str(), nullptr);
    Write(L"dest\\busy.sys", "old");
    // The temporary copy goes beside the file it replaces, wherever TMP
    // points (here: the source's folder).
    const std::wstring tmp = Env(L"TMP");
    SetEnvironmentVariableW(L"TMP", m_folder.c_str());
    CInf inf(UseInf(L"inf_inuse.inf").c_str());
    {
        UniqueHandle held(CreateFileW(Here(L"dest\\busy.sys").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_TRUE(held);
        int restart = -1;
        EXPECT_EQ(1, inf.Install(&restart));
        EXPECT_EQ(1, restart);
    }
    SetEnvironmentVariableW(L"TMP", tmp.c_str());
    EXPECT_EQ(1, inf.m_bRestart);
    EXPECT_EQ("old", Read(L"dest\\busy.sys"));

    // GetTempFileNameW keeps three characters of the prefix.
    std::vector<std::wstring> temporaries;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(Here(L"dest\\bus*.tmp").c_str(), &found));
    for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found) != FALSE)
        temporaries.push_back(L"dest\\" + std::wstring(found.cFileName));
    search.reset();
    ASSERT_EQ(1u, temporaries.size());
    EXPECT_EQ("new", Read(temporaries[0]));
    ASSERT_TRUE(PendingMentions(temporaries[0]));
    EXPECT_TRUE(PendingMentions(L"dest\\busy.sys"));

    // The restart carries the replacement out.
    const ProcessResult boot = RunProcess(L"wineboot.exe -r", m_folder);
    ASSERT_TRUE(boot.started) << boot.startError;
    EXPECT_EQ("new", Read(L"dest\\busy.sys"));
    EXPECT_FALSE(FileExists(Here(temporaries[0])));
    EXPECT_FALSE(PendingMentions(temporaries[0]));
}

TEST_F(InfTest, DeleteAndRenameLists)
{
    CreateDirectoryW(Here(L"dest").c_str(), nullptr);
    Write(L"dest\\gone.sys", "x");
    Write(L"dest\\later.sys", "x");
    Write(L"dest\\old.sys", "renamed");
    CInf inf(UseInf(L"inf_delren.inf").c_str());
    EXPECT_EQ(1, inf.ProcessDelFiles(L"Install"));
    EXPECT_FALSE(FileExists(Here(L"dest\\gone.sys")));
    // Flag 1 deletes at the next restart: the file stays for now.
    EXPECT_TRUE(FileExists(Here(L"dest\\later.sys")));
    EXPECT_TRUE(PendingMentions(L"dest\\later.sys"));
    EXPECT_EQ(1, inf.m_bRestart);
    EXPECT_EQ(1, inf.ProcessRenFiles(L"Install"));
    EXPECT_EQ("renamed", Read(L"dest\\new.sys"));
    EXPECT_FALSE(FileExists(Here(L"dest\\old.sys")));
    // Nothing left to rename: the move fails and so does the list.
    EXPECT_EQ(0, inf.ProcessRenFiles(L"Install"));
}

TEST_F(InfTest, DeletingOrRenamingAFileInUseWaitsForTheRestart)
{
    const struct {
        const wchar_t* file;
        int (CInf::*list)(const wchar_t*);
        const wchar_t* section;
    } cases[] = {{L"dest\\gone.sys", &CInf::DeleteFileList, L"Gone"}, {L"dest\\old.sys", &CInf::RenameFileList, L"Moved"}};
    CreateDirectoryW(Here(L"dest").c_str(), nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.section));
        Write(c.file, "x");
        CInf inf(UseInf(L"inf_delren.inf").c_str());
        UniqueHandle held(CreateFileW(Here(c.file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(1, (inf.*c.list)(c.section));
        EXPECT_EQ(1, inf.m_bRestart);
        EXPECT_TRUE(PendingMentions(c.file));
        EXPECT_TRUE(FileExists(Here(c.file)));
    }
}

// What the legacy INFs of the data folder write below HKLM\Software.
const wchar_t kInfTestKey[] = L"Software\\TzrInfTest";

TEST_F(InfTest, LegacyServiceEndToEnd)
{
    const std::function<int(CInf&, int*)> installs[] = {
        [](CInf& inf, int* restart) { return inf.Install(restart); },
        [](CInf& inf, int* restart) { return inf.InstallSection(L"DefaultInstall", restart); },
    };
    for (const auto& install : installs) {
        const Leftovers leftovers({L"tzrlegacy"}, {kInfTestKey});
        Write(L"tzrlegacy.sys", "driver");
        CInf inf(UseInf(L"inf_legacy.inf").c_str());
        ASSERT_TRUE(inf.IsOpen());
        EXPECT_STREQ(L"$Windows NT$", inf.GetSignature());
        EXPECT_EQ(nullptr, inf.GetClass());
        wchar_t service[64];
        EXPECT_EQ(1, inf.GetServiceName(nullptr, service, 64));
        EXPECT_STREQ(L"tzrlegacy", service);
        DWORD start = 0;
        EXPECT_EQ(1, inf.GetServiceStartType(nullptr, &start));
        EXPECT_EQ(3u, start);

        int restart = -1;
        EXPECT_EQ(1, install(inf, &restart));
        EXPECT_EQ(0, restart);
        EXPECT_EQ("driver", Read(L"legacy\\tzrlegacy.sys"));
        EXPECT_EQ(1u, RegistryDword(L"Software\\TzrInfTest\\Legacy", L"Installed"));
        DWORD type = 0;
        ASSERT_TRUE(ServiceExists(L"tzrlegacy", &type, &start));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_KERNEL_DRIVER), type);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), start);
        EXPECT_EQ(5u, RegistryDword(L"System\\CurrentControlSet\\Services\\tzrlegacy\\Device0", L"Setting"));
        // A second installation over the first one succeeds too.
        EXPECT_EQ(1, install(inf, &restart));
    }
}

TEST_F(InfTest, InstallSectionRunsOnlyItsOwnServicesSection)
{
    const Leftovers leftovers({L"tzrinfsvca", L"tzrinfsvcb"}, {kInfTestKey});
    CInf inf(UseInf(L"inf_sections.inf").c_str());
    EXPECT_EQ(1, inf.InstallSection(L"DriverInstall", nullptr));
    EXPECT_EQ(1u, RegistryDword(L"Software\\TzrInfTest\\Sections", L"Ran"));
    DWORD type = 0, start = 0;
    EXPECT_TRUE(ServiceExists(L"tzrinfsvca", &type, &start));   // DRIVERINSTALL.services
    EXPECT_FALSE(ServiceExists(L"tzrinfsvcb", &type, &start));  // DriverInstall.Services.NT
}

TEST_F(InfTest, AnExistingLegacyNodeMeansNoSecondOne)
{
    const Leftovers leftovers({L"tzrlegcls"}, {});
    const std::wstring node = std::wstring(kEnumRoot) + L"LEGACY_TZRLEGCLS";
    const TestRegistryKey existing(node + L"\\0000");
    ASSERT_TRUE(existing.Created());
    Write(L"tzrlegcls.sys", "driver");
    CInf inf(UseInf(L"inf_legacy_class.inf").c_str());
    ASSERT_STREQ(L"LegacyDriver", inf.GetClass());
    EXPECT_EQ(1, inf.Install(nullptr));
    EXPECT_EQ(1, inf.InstallSection(L"DefaultInstall", nullptr));
    EXPECT_FALSE(RegistryKeyExists(node + L"\\0001"));
    DWORD type = 0, start = 0;
    EXPECT_TRUE(ServiceExists(L"tzrlegcls", &type, &start));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), start);
}

// Creates a real root node where the class driver list cannot be built, and
// records the name it was asked for.
class SeamInf : public CInf {
public:
    using CInf::CInf;
    std::vector<std::wstring> names;
    int CreateDeviceInfo(UniqueDevInfoSet& set, SP_DEVINFO_DATA* device, const wchar_t* deviceName) override
    {
        names.push_back(deviceName);
        GUID guid;
        DWORD count = 0;
        if (!driverapi::SetupDiClassGuidsFromNameW(L"System", &guid, 1, &count))
            return 0;
        set.reset(driverapi::SetupDiCreateDeviceInfoList(&guid, nullptr));
        device->cbSize = sizeof *device;
        return set && driverapi::SetupDiCreateDeviceInfoW(set.get(), deviceName, &guid, nullptr, nullptr,
                                                          DICD_GENERATE_ID, device) &&
               driverapi::SetupDiRegisterDeviceInfo(set.get(), device, 0, nullptr, nullptr, nullptr);
    }
};

BOOL WINAPI InstallerFails(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA)
{
    SetLastError(ERROR_DI_DO_DEFAULT);
    return FALSE;
}

BOOL WINAPI InstallerAsksForRestart(DI_FUNCTION, HDEVINFO set, PSP_DEVINFO_DATA device)
{
    SP_DEVINSTALL_PARAMS_W params{};
    params.cbSize = sizeof params;
    return driverapi::SetupDiGetDeviceInstallParamsW(set, device, &params) &&
           (params.Flags |= DI_NEEDREBOOT, driverapi::SetupDiSetDeviceInstallParamsW(set, device, &params));
}

const char kSeamInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=System\r\n"
    "ClassGUID={4D36E97D-E325-11CE-BFC1-08002BE10318}\r\n"
    "[DestinationDirs]\r\nDefaultDestDir=24,dest\r\n"
    "[Install]\r\nDelFiles=Nothing\r\n[Nothing]\r\nnone.sys\r\n"
    "[Install.Services]\r\nAddService=tzrseam,0x2,Seam.Service\r\n"
    "[Seam.Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\nServiceBinary=%12%\\tzrseam.sys\r\n";

// The real CreateDeviceInfo registers the node before it builds the class
// driver list; when a later step fails, the node must go again.
TEST_F(InfTest, ADeviceNodeThatCannotBeCompletedIsNotLeftBehind)
{
    const Leftovers leftovers({L"tzrseam"}, {});
    CInf inf(WriteInf(L"seam.inf", kSeamInf).c_str());
    UniqueDevInfoSet set;
    SP_DEVINFO_DATA device{};
    const int created = inf.CreateDeviceInfo(set, &device, L"LEGACY_TZRSEAM");
    if (!created) {
        EXPECT_FALSE(LegacyDeviceKeyExists(L"tzrseam"));
        // Nor does a whole installation leave one, and it fails.
        EXPECT_EQ(0, inf.Install(nullptr));
        EXPECT_FALSE(LegacyDeviceKeyExists(L"tzrseam"));
        GTEST_SKIP() << "wine: SetupDiBuildDriverInfoList fails with 120 for SPDIT_CLASSDRIVER";
    }
    driverapi::SetupDiRemoveDevice(set.get(), &device);
}

struct DeviceCase {
    const char* name;
    int virtualDevice;
    void* installer;  // stands in for the class installer
    int result, restart;
    const wchar_t* node;
    bool nodeStays;
    const wchar_t* reason;  // the line kept for the log, empty on success
};

class InstallDeviceCases : public InfTest, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(InstallDeviceCases, NodeKeptOnlyWhenInstalled)
{
    const DeviceCase& p = GetParam();
    const Leftovers leftovers({}, {std::wstring(kEnumRoot) + p.node});
    SeamInf inf(WriteInf(L"seam.inf", kSeamInf).c_str());
    inf.m_bVirtualDevice = p.virtualDevice;
    driverapi::OverrideForTest(driverapi::kSetupDiCallClassInstaller, p.installer);
    int restart = -1;
    driverfail::Reset();
    EXPECT_EQ(p.result, inf.InstallDevice(&restart));
    driverapi::OverrideForTest(driverapi::kSetupDiCallClassInstaller, nullptr);
    EXPECT_EQ(p.reason, driverfail::Line().substr(0, wcslen(p.reason))) << Narrow(driverfail::Line());
    EXPECT_EQ(p.restart, restart);
    EXPECT_EQ(std::vector<std::wstring>{p.node}, inf.names);
    EXPECT_EQ(p.nodeStays, RegistryKeyExists(std::wstring(kEnumRoot) + p.node + L"\\0000"));
}

INSTANTIATE_TEST_SUITE_P(
    Seam, InstallDeviceCases,
    ::testing::Values(DeviceCase{"LegacyInstallerFails", 0, reinterpret_cast<void*>(&InstallerFails), 0, 0,
                                 L"LEGACY_TZRSEAM", false,
                                 L"    - SetupDiCallClassInstaller(DIF_INSTALLDEVICE) failed: error 0xE000020E (do the "
                                 L"default action)\r\n"},
                      DeviceCase{"VirtualInstallerFails", 1, reinterpret_cast<void*>(&InstallerFails), 0, 0,
                                 L"TZRSEAM", false, L"    - SetupDiCallClassInstaller(DIF_INSTALLDEVICE) failed: "},
                      DeviceCase{"LegacyInstalledAsksForRestart", 0,
                                 reinterpret_cast<void*>(&InstallerAsksForRestart), 1, 1, L"LEGACY_TZRSEAM", true,
                                 L""},
                      // The class installer did its part; only the step after
                      // it failed (a fresh root node has no hardware id to
                      // hand newdev): the node stays, the answer is failure.
                      DeviceCase{"VirtualInstalledButNewdevStepFails", 1,
                                 reinterpret_cast<void*>(&InstallerAsksForRestart), 0, 1, L"TZRSEAM", true,
                                 L"    - SetupDiGetDeviceRegistryPropertyW(SPDRP_HARDWAREID) failed: error 0x"}),
    [](const ::testing::TestParamInfo<DeviceCase>& info) { return std::string(info.param.name); });

TEST_F(InfTest, DirectoryTreesAreCreatedLevelByLevel)
{
    CInf inf(L"no-such.inf");
    std::wstring path = Here(L"t");
    for (int level = 0; level < 20; ++level)
        path += L"\\d";
    EXPECT_EQ(1, inf.CreateDirectoryTree((path + L"\\").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
    EXPECT_EQ(1, inf.CreateDirectoryTree(path.c_str()));  // already there
    EXPECT_EQ(1, inf.CreateFileDirectory((Here(L"u\\v") + L"\\file.sys").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Here(L"u\\v").c_str()));
    // A file where a directory should be.
    Write(L"plain", "x");
    EXPECT_EQ(0, inf.CreateDirectoryTree(Here(L"plain\\sub").c_str()));
}

// Counts the device installations it is asked for.
class CountingInf : public CInf {
public:
    using CInf::CInf;
    int devices = 0, ends = 0;
    int InstallDevice(int* restart) override
    {
        ++devices;
        if (restart)
            *restart = 1;
        return 1;
    }
    void EndInstall() override { ++ends; }
};

// Install asks for the node that fits the driver's kind; InstallSection
// always for the legacy node.
TEST_F(InfTest, DeviceStepAskedOnlyWhenItsNodeIsMissing)
{
    const struct {
        bool section;
        int virtualDevice;
        const wchar_t* node;  // created before, or null
        int devices;
    } cases[] = {
        {false, 0, nullptr, 1},           {false, 0, L"LEGACY_TZRSEAM", 0}, {false, 1, L"LEGACY_TZRSEAM", 1},
        {false, 1, L"TZRSEAM", 0},        {true, 0, L"LEGACY_TZRSEAM", 0},  {true, 1, L"LEGACY_TZRSEAM", 0},
        {true, 1, L"TZRSEAM", 1},         {true, 0, nullptr, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.section << c.virtualDevice << (c.node ? Narrow(c.node) : ""));
        const Leftovers leftovers({L"tzrseam"}, {});
        std::unique_ptr<TestRegistryKey> node;
        if (c.node) {
            node.reset(new TestRegistryKey(std::wstring(kEnumRoot) + c.node + L"\\0000"));
            ASSERT_TRUE(node->Created());
        }
        CountingInf inf(WriteInf(L"seam.inf", kSeamInf).c_str());
        inf.m_bVirtualDevice = c.virtualDevice;
        int restart = -1;
        EXPECT_EQ(1, c.section ? inf.InstallSection(L"Install", &restart) : inf.Install(&restart));
        EXPECT_EQ(c.devices, inf.devices);
        EXPECT_EQ(c.devices, restart);  // the device's restart request reaches the caller
        EXPECT_EQ(1, inf.ends);
    }
}

TEST_F(InfTest, InstallingWithoutAnOpenInfDoesNothing)
{
    CInf inf(Here(L"missing.inf").c_str());
    EXPECT_EQ(0, inf.IsOpen());
    int restart = -1;
    EXPECT_EQ(0, inf.Install(&restart));
    EXPECT_EQ(0, inf.InstallSection(L"DefaultInstall", &restart));
    EXPECT_EQ(0, inf.InstallServices(L"DefaultInstall.Services"));
    EXPECT_EQ(0, inf.ProcessSection(nullptr, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(nullptr, inf.GetSignature());
}

// Bad input: each INF is written by the test and asked one question.
struct BadCase {
    const char* name;
    std::string inf;
    std::function<int(CInf&)> ask;
    int expected;
};

std::string Header()
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
}
std::string Lines(int count, const std::string& prefix, const std::string& suffix = "")
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += prefix + std::to_string(i) + suffix + "\r\n";
    return lines;
}
std::string ManySections()
{
    std::string text = Header();
    for (int i = 0; i < 100; ++i)
        text += "[" + std::string(200, 'S') + std::to_string(i) + "]\r\nCopyFiles=x\r\n";
    return text;
}

class BadInfCases : public InfTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadInfCases, BoundedAndAnsweredWithFailure)
{
    CInf inf(WriteInf(L"bad.inf", GetParam().inf).c_str());
    EXPECT_EQ(GetParam().expected, GetParam().ask(inf));
}

const std::string kDest = "[DestinationDirs]\r\nDefaultDestDir=24,dest\r\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInfCases,
    ::testing::Values(
        BadCase{"NotAnInf", "<?xml version='1.0'?><tzr_install/>", [](CInf& i) { return i.Install(nullptr); }, 0},
        BadCase{"BinaryBytes", std::string("\x00\xff\xfe[\x01\x02", 6) + std::string(3000, '\x7f'),
                [](CInf& i) { return i.InstallSection(L"Install", nullptr) + i.IsOpen(); }, 0},
        // 10,000 files to delete, none there: all count as deleted.
        BadCase{"TenThousandLines", Header() + kDest + "[Install]\r\nDelFiles=Gone\r\n[Gone]\r\n" + Lines(10000, "f", ".sys"),
                [](CInf& i) { return i.ProcessDelFiles(L"Install"); }, 1},
        BadCase{"TenThousandDestinations", Header() + "[DestinationDirs]\r\n" + Lines(10000, "E", "=24,d"),
                [](CInf& i) { return i.ReadDestinationDirs() && i.m_vDestinationDirs.size() == 20000; }, 1},
        BadCase{"FileNameLongerThan256", Header() + kDest + "[Install]\r\nCopyFiles=L\r\n[L]\r\n" + std::string(300, 'f') + "\r\n",
                [](CInf& i) { return i.ProcessCopyFiles(L"Install"); }, 0},
        BadCase{"SourceNameLongerThan256",
                Header() + kDest + "[Install]\r\nCopyFiles=L\r\n[L]\r\nf.sys," + std::string(300, 's') + "\r\n",
                [](CInf& i) { return i.ProcessCopyFiles(L"Install"); }, 0},
        // Wine's parser cuts a field at 511 characters; the cut name names
        // no section, and a list that is not there is not taken as empty.
        BadCase{"ListNameLongerThan512", Header() + kDest + "[Install]\r\nCopyFiles=" + std::string(600, 'L') + "\r\n",
                [](CInf& i) { return i.ProcessCopyFiles(L"Install"); }, 0},
        BadCase{"DestinationPieceLongerThan260", Header() + "[DestinationDirs]\r\nDefaultDestDir=24," + std::string(300, 'd') + "\r\n",
                [](CInf& i) { return i.ReadDestinationDirs(); }, 0},
        BadCase{"DestinationNowhere", Header() + "[DestinationDirs]\r\nDefaultDestDir=99\r\n[Install]\r\nCopyFiles=F\r\n[F]\r\nf.sys\r\n",
                [](CInf& i) { return i.ProcessCopyFiles(L"Install"); }, 0},
        BadCase{"CopyFilesNamingItself", Header() + kDest + "[Install]\r\nCopyFiles=Install\r\n",
                [](CInf& i) { return i.ProcessCopyFiles(L"Install"); }, 0},
        BadCase{"ClassLongerThan4096", Header() + "Class=" + std::string(5000, 'C') + "\r\n",
                [](CInf& i) {
                    // Refused, or cut by the parser: never more than the buffer.
                    return i.GetSignature() != nullptr &&
                           (i.GetClass() == nullptr || wcslen(i.GetClass()) < CInf::kLineTextChars);
                }, 1},
        BadCase{"ServiceNameLongerThanTheBuffer",
                Header() + "[Install.Services]\r\nAddService=" + std::string(300, 'n') + ",2,S\r\n",
                [](CInf& i) {
                    wchar_t name[CInf::kNodeServiceChars] = L"x";
                    return i.GetServiceName(nullptr, name, CInf::kNodeServiceChars) + name[0];
                }, 0},
        BadCase{"SectionNamesBeyond16384", ManySections(),
                [](CInf& i) {
                    // The whole list, beyond the profile API's first buffer.
                    for (const CStr& s : i.m_vCopyFilesSections)
                        if (s.size() < 201)
                            return -1;
                    return static_cast<int>(i.m_vCopyFilesSections.size() == 100);
                }, 1},
        BadCase{"DirectoryTreeLongerThan16384", Header(),
                [](CInf& i) { return i.CreateDirectoryTree((L"C:\\" + std::wstring(16384, L'd')).c_str()); }, 0}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

}  // namespace
