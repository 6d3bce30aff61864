// The base component: defaults, the initialisation sequence with its log
// lines, the setters and the property dispatch through the slot table.
#include "base_component.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

using namespace tzrtest;

namespace {

// Each test gets its own system drive folder and verbose file, so the log
// lines it reads are its own.
class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        m_cwd = cwd;
        m_verbose = m_drive + L"\\verbose.log";
        SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", m_verbose.c_str());
        DeleteFileW(L"install.xml");
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", nullptr);
        DeleteFileW(L"install.xml");
    }
    // The verbose log's lines with their "[time]::basecomp[line] " header
    // replaced by "> ", continuations left as they are.
    std::vector<std::string> VerboseLines() const
    {
        std::vector<std::string> lines;
        static const std::regex header(R"(^\[\d{1,2}:\d{2}:\d{2}\]::basecomp\[\d+\] )");
        for (const std::string& line : SplitCrLf(ReadFileBytes(m_verbose)))
            lines.push_back(std::regex_replace(line, header, "> "));
        return lines;
    }

    ScopedSystemDrive m_systemDrive{L"drive"};
    const std::wstring m_drive = m_systemDrive.Path();
    std::wstring m_cwd, m_verbose;
};

// Replaces the package-file slots, so that the initialisation sequence can
// be driven through each of its branches.
class SeamComponent : public CBaseComponent {
public:
    int found = 0;
    unsigned packageCode = 0;
    unsigned installerCode = 0;
    std::vector<std::wstring> calls;

    int LocatePackageDefinition(wchar_t* path, unsigned capacity) override
    {
        calls.push_back(L"locate");
        if (found)
            wcsncpy(path, L"kx0001.xml", capacity);
        return found;
    }
    unsigned ReadPackageDefinition(const wchar_t* path) override
    {
        calls.push_back(std::wstring(L"read ") + path);
        return packageCode;
    }
    unsigned ReadInstallerXml(const wchar_t* path) override
    {
        calls.push_back(std::wstring(L"installer ") + path);
        return installerCode;
    }
};

}  // namespace

TEST_F(ComponentTest, InitializeWithoutPackageFiles)
{
    SeamComponent c;
    EXPECT_EQ(1, c.Initialize());
    EXPECT_EQ(1, c.m_b64BitOS);
    // The run's header line first: this program carries no version resource.
    std::vector<std::string> lines = VerboseLines();
    ASSERT_FALSE(lines.empty());
    const std::regex header(R"(> Run \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC, process \d+, package (.*), plug-in version )"
                            R"(\(none\), command line: .*unit_framework\.exe.*)");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(lines.front(), m, header)) << lines.front();
    EXPECT_EQ(Narrow(m_cwd), m[1].str());
    lines.erase(lines.begin());
    const std::vector<std::string> expected = {
        "> Initializing installer DLL",
        "> /no_overwrite ABSENT",
        "> Detecting if 64-bit operating system... ",
        ">     - Operating system is 64-bit x64 based.",
        "> Locating package definition file ... Failed!",
        "> Checking for install.xml... Not found.",
    };
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(std::vector<std::wstring>{L"locate"}, c.calls);
}

struct InitCase {
    int found;
    unsigned packageCode;
    bool installXml;
    unsigned installerCode;
    int result;
    std::vector<std::string> tail;  // the lines after the 64-bit line
};

class InitializeBranches : public ComponentTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(InitializeBranches, LogEachStepAndDecideTheResult)
{
    const InitCase& p = GetParam();
    if (p.installXml)
        WriteFileBytes(L"install.xml", "<installer/>");
    SeamComponent c;
    c.found = p.found;
    c.packageCode = p.packageCode;
    c.installerCode = p.installerCode;
    EXPECT_EQ(p.result, c.Initialize());
    std::vector<std::string> lines = VerboseLines();
    // The header line and the four lines up to the 64-bit one.
    ASSERT_GE(lines.size(), 5u);
    lines.erase(lines.begin(), lines.begin() + 5);
    EXPECT_EQ(p.tail, lines);
}

INSTANTIATE_TEST_SUITE_P(
    CBaseComponent, InitializeBranches,
    ::testing::Values(
        InitCase{1, 0, false, 0, 1,
                 {"> Locating package definition file ... Done.",
                  ">     - Reading package definition file kx0001.xml... "
                  "    - Reading package definition file... Done.",
                  "> Checking for install.xml... Not found."}},
        // A package definition that fails to read: "Failed!", result 0, and
        // install.xml is still looked for.
        InitCase{1, 7, true, 0, 0,
                 {"> Locating package definition file ... Done.",
                  ">     - Reading package definition file kx0001.xml... Failed!",
                  "> Checking for install.xml... Found.",
                  ">     - Reading installer XML install.xml... Done."}},
        InitCase{0, 0, true, 4, 0,
                 {"> Locating package definition file ... Failed!", "> Checking for install.xml... Found.",
                  ">     - Reading installer XML install.xml... Failed!"}}));

// The table of present devices waits for the first question about a device:
// Initialize runs under the loader lock.
TEST_F(ComponentTest, SupportedDevicesBuildTheDeviceListOnFirstUse)
{
    class WithDevices : public SeamComponent {
    public:
        int LocatePackageDefinition(wchar_t*, unsigned) override
        {
            AddSupportedDevice(L"PCI\\VEN_1000&DEV_0001");
            return 0;
        }
    } c;
    c.Initialize();
    ASSERT_FALSE(VerboseLines().empty());
    EXPECT_EQ("> Checking for install.xml... Not found.", VerboseLines().back());
    c.FindDevice(L"PCI\\VEN_1000&DEV_0001", nullptr);
    EXPECT_EQ("> Building PnP device list... Done.", VerboseLines().back());
}

// A component that has read nothing answers as a package that asks for
// nothing and installs by no road; what a product sets instead of a package
// file changes those answers.
TEST_F(ComponentTest, TheDefaultsAndTheSettersShowInTheAnswers)
{
    CBaseComponent c;
    c.m_pLog->Open();
    const auto flags = [&c] {
        std::vector<unsigned> values;
        for (unsigned id : {TZRPROP_SUPPORTSILENTINSTALL, TZRPROP_SUPPORTSILENTUPDATE, TZRPROP_SUPPORTDOWNGRADE}) {
            unsigned value = 0xDEADBEEF;
            c.GetProperty(id, &value, sizeof value, nullptr);
            values.push_back(value);
        }
        return values;
    };
    wchar_t message[256] = L"";
    EXPECT_EQ((std::vector<unsigned>{1, 1, 1}), flags());
    EXPECT_EQ(0u, c.Installation(0, 0, message, 0, L"en"));
    EXPECT_STREQ(g_aszUnknownInfType[kLangEnglish], message) << "no installation type";

    c.SetSilentSupport(0);
    c.SetInfFile(L"C:\\tzr-no-such-folder\\driver.inf", kInstallLegacy);
    EXPECT_EQ((std::vector<unsigned>{0, 0, 1}), flags());
    EXPECT_STREQ(L"C:\\tzr-no-such-folder\\driver.inf", c.GetInfFile());
    EXPECT_EQ(0u, c.Installation(0, 0, message, 0, L"en")) << "the legacy road, to an INF that is not there";
    EXPECT_NE(std::string::npos, ReadFileBytes(m_verbose).find("Initiating installation... Type=LEGACY\r\n"));
}

namespace {

// Answers every text slot with a mark of its own, so the dispatch can be
// seen to reach the product's replacement.
class DispatchComponent : public CBaseComponent {
public:
    int GetName(wchar_t* m, unsigned, const wchar_t* lang) override { return Mark(m, L"name", lang); }
    int GetDescription(wchar_t* m, unsigned, const wchar_t* lang) override { return Mark(m, L"desc", lang); }
    int GetCurrentVersion(wchar_t* m, unsigned) override { return Mark(m, L"current", nullptr); }
    int GetNewVersion(wchar_t* m, unsigned) override { return Mark(m, L"new", nullptr); }
    int SupportsSilentInstall() override { return 5; }
    int SupportsSilentUpdate() override { return 0; }

private:
    static int Mark(wchar_t* m, const wchar_t* what, const wchar_t* lang)
    {
        wcscpy(m, what);
        if (lang) {
            wcscat(m, L":");
            wcscat(m, lang);
        }
        return 9;
    }
};

}  // namespace

TEST_F(ComponentTest, GetPropertyDispatchesThroughTheSlots)
{
    DispatchComponent c;
    c.m_pLog->Open();
    struct Case {
        unsigned id;
        int result;
        const wchar_t* text;
    } cases[] = {
        {1, 9, L"name:ja"}, {2, 9, L"desc:ja"}, {3, 9, L"current"}, {4, 9, L"new"},
    };
    for (const Case& k : cases) {
        wchar_t buffer[64] = L"";
        EXPECT_EQ(k.result, c.GetProperty(k.id, buffer, 64, L"ja"));
        EXPECT_STREQ(k.text, buffer);
    }
    struct Flag {
        unsigned id;
        unsigned value;
    } flags[] = {{6, 5}, {7, 0}, {8, 1}};
    for (const Flag& f : flags) {
        unsigned value = 0xDEADBEEF;
        EXPECT_EQ(1, c.GetProperty(f.id, &value, sizeof value, nullptr));
        EXPECT_EQ(f.value, value) << f.id;
    }
}

TEST_F(ComponentTest, UnknownPropertyIsLoggedAndLeavesTheBufferAlone)
{
    CBaseComponent c;
    c.m_pLog->Open();
    for (unsigned id : {0u, 9u, 255u, 0x1234u}) {
        unsigned char buffer[16];
        memset(buffer, 0x5A, sizeof buffer);
        EXPECT_EQ(0, c.GetProperty(id, buffer, sizeof buffer, L"en"));
        for (unsigned char b : buffer)
            ASSERT_EQ(0x5A, b);
    }
    const std::vector<std::string> expected = {
        "> GetProperty(0x00) - unknown type",
        "> GetProperty(0x09) - unknown type",
        "> GetProperty(0xFF) - unknown type",
        "> GetProperty(0x1234) - unknown type",
    };
    EXPECT_EQ(expected, VerboseLines());
}

TEST_F(ComponentTest, InstallStateRecordHasAMinimumSize)
{
    CBaseComponent c;
    std::vector<unsigned char> record(4096, 0x5A);
    EXPECT_EQ(0, c.GetInstallState(record.data(), 2051, L"en"));
    EXPECT_EQ(0x5A, record[0]);
    EXPECT_EQ(1, c.GetInstallState(record.data(), 2052, L"en"));
    unsigned state = 0;
    memcpy(&state, record.data(), 4);
    // A package that asks for nothing can be installed.
    EXPECT_EQ(static_cast<unsigned>(kStateNotInstalled), state);
    EXPECT_EQ(0, record[4]);
    EXPECT_EQ(0, record[5]);
}

TEST_F(ComponentTest, ALogThatIsNotOwnedOutlivesTheComponent)
{
    CCmpLog2* log = nullptr;
    {
        CBaseComponent c;
        c.m_bOwnsLog = 0;
        log = c.m_pLog;
    }
    ASSERT_EQ(0u, log->Open());
    log->Write(CCmpLog2::kMainOnly, CCmpLog2::kPlain, nullptr, 0, L"still here\r\n");
    log->Close();
    EXPECT_NE(std::string::npos, ReadFileBytes(log->MainPath()).find("still here\r\n"));
    delete log;
}

TEST_F(ComponentTest, UninitializeTwiceDeletesOnce)
{
    CBaseComponent c;
    c.m_pPackageReader = new CTzrXMLReader();
    c.Uninitialize();
    EXPECT_EQ(nullptr, c.m_pLog);
    EXPECT_EQ(nullptr, c.m_pPackageReader);
    c.Uninitialize();
}  // and the destructor runs it a third time
