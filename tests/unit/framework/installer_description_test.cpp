// install.xml: the members it sets, the ones it must leave alone, and the
// INF element chosen by the system's version.
#include "base_component.h"
#include "package_fixture.h"
#include "test_support.h"
#include "wine_version.h"

#include <gtest/gtest.h>

#include <string>

using namespace tzrtest;

namespace {

const wchar_t kProbeFile[] = L"TZR_INSTALLXML_PROBE_FILE";

// Everything ReadInstallerXml may touch, so a test compares all of it.
struct Members {
    std::string infFile, section, service, shellFile, shellDir;
    int type;
    bool operator==(const Members& o) const
    {
        return infFile == o.infFile && section == o.section && service == o.service && shellFile == o.shellFile &&
               shellDir == o.shellDir && type == o.type;
    }
};
std::ostream& operator<<(std::ostream& os, const Members& m)
{
    return os << "{file '" << m.infFile << "' type " << m.type << " section '" << m.section << "' service '"
              << m.service << "' shell '" << m.shellFile << "' dir '" << m.shellDir << "'}";
}
Members Of(const CBaseComponent& c)
{
    return {Narrow(c.m_sInfFile), Narrow(c.m_sInfSection), Narrow(c.m_sServiceName), Narrow(c.m_szShellExecuteFile),
            Narrow(c.m_szShellExecuteDir), c.m_nInstallType};
}

// A component as SetInfFile and an earlier read may have left it.
void Preset(CBaseComponent& c)
{
    c.SetInfFile(L"old.inf", kInstallVirtual);
    c.m_sInfSection = L"OldSection";
    c.m_sServiceName = L"oldsvc";
    wcscpy(c.m_szShellExecuteFile, L"C:\\old\\readme.txt");
    wcscpy(c.m_szShellExecuteDir, L"C:\\old");
}
const Members kPreset = {"old.inf", "OldSection", "oldsvc", "C:\\old\\readme.txt", "C:\\old", kInstallVirtual};

std::string Install(const std::string& children)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<tzr_install>" + children + "</tzr_install>\r\n";
}
std::string Inf(const std::string& element, const std::string& attributes)
{
    return "<" + element + " " + attributes + "/>";
}

std::string Env(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = L"";
    GetEnvironmentVariableW(name, value, MAX_PATH);
    return Narrow(value);
}

class InstallerXml : public PackageTest {
protected:
    unsigned Read(CBaseComponent& c, const std::string& bytes)
    {
        AddFile(L"install.xml", bytes);
        return c.ReadInstallerXml(L"install.xml");
    }
};

struct XmlCase {
    const char* name;
    std::string bytes;
    unsigned code;
    Members expected;  // members after the read of a preset component
};

void PrintTo(const XmlCase& c, std::ostream* os)
{
    *os << c.name;
}

class InstallerXmlCases : public InstallerXml, public ::testing::WithParamInterface<XmlCase> {};

TEST_P(InstallerXmlCases, SetOnlyWhatTheFileGives)
{
    CBaseComponent c;
    Preset(c);
    EXPECT_EQ(GetParam().code, Read(c, GetParam().bytes));
    EXPECT_EQ(GetParam().expected, Of(c));
}

Members With(Members m, void (*change)(Members&))
{
    change(m);
    return m;
}

// The test processes run with the prefix's default version, major 6 or 10
// (GetVersionEx answers 6.2 to a program without a manifest).
INSTANTIATE_TEST_SUITE_P(
    Files, InstallerXmlCases,
    ::testing::Values(
        XmlCase{"AllAttributesAndLowerCaseType",
                Install("<inf_information>" +
                        Inf("inf_file", "filename='drv.inf' type='pnp' section='Install.NT' service_name='mydrv'") +
                        "</inf_information>"),
                0, With(kPreset, [](Members& m) {
                    m.infFile = "drv.inf", m.type = kInstallPnP, m.section = "Install.NT", m.service = "mydrv";
                })},
        XmlCase{"Nt5ElementIgnoredOnLaterSystems",
                Install("<inf_information>" + Inf("inf_file_nt5", "filename='nt5.inf' type='LEGACY'") +
                        Inf("inf_file", "filename='any.inf'") + "</inf_information>"),
                0, With(kPreset, [](Members& m) { m.infFile = "any.inf"; })},
        XmlCase{"TypeWithTrailingBlankMatchesNothing",
                Install("<inf_information>" + Inf("inf_file", "type='LEGACY '") + "</inf_information>"), 0, kPreset},
        XmlCase{"EveryTypeWordInAnyCase",
                Install("<inf_information>" + Inf("inf_file", "type='Legacy'") + "</inf_information>"), 0,
                With(kPreset, [](Members& m) { m.type = kInstallLegacy; })},
        XmlCase{"InformationInOtherCaseNotRecognised",
                Install("<inf_Information>" + Inf("inf_file", "filename='x.inf' type='PNP'") + "</inf_Information>"),
                0, kPreset},
        // The sibling chain: the first child when it is the first, else the
        // last in document order.
        XmlCase{"FirstChildWins",
                Install("<inf_information>" + Inf("inf_file", "filename='a.inf'") + Inf("inf_file", "filename='b.inf'") +
                        Inf("inf_file", "filename='c.inf'") + "</inf_information>"),
                0, With(kPreset, [](Members& m) { m.infFile = "a.inf"; })},
        XmlCase{"OtherwiseTheLastInDocumentOrder",
                Install("<inf_information><note/>" + Inf("inf_file", "filename='a.inf'") +
                        Inf("inf_file", "filename='b.inf'") + "</inf_information>"),
                0, With(kPreset, [](Members& m) { m.infFile = "b.inf"; })},
        XmlCase{"OnlyShellExecuteFileExpanded",
                Install("<ShellExecute><ShellExecute_Info file='%SystemRoot%\\notepad.exe'/></ShellExecute>"), 0,
                With(kPreset, [](Members& m) { m.shellFile = Env(L"SystemRoot") + "\\notepad.exe"; })},
        XmlCase{"ShellExecuteWithoutInfInformation",
                Install("<ShellExecute><ShellExecute_Info file='a.txt' DefaultDir='%ProgramFiles%\\docs'/>"
                        "</ShellExecute>"),
                0, With(kPreset, [](Members& m) { m.shellFile = "a.txt", m.shellDir = Env(L"ProgramFiles") + "\\docs"; })},
        XmlCase{"AnotherRootChangesNothing",
                "<tzr_package><inf_information><inf_file filename='x.inf'/></inf_information></tzr_package>", 0,
                kPreset},
        XmlCase{"BrokenFilePassesTheReaderCode",
                Install("<inf_information>" + Inf("inf_file", "filename='x.inf'")).substr(0, 80),
                CTzrXMLReader::kParseError, kPreset},
        XmlCase{"EmptyFile", "", CTzrXMLReader::kParseError, kPreset},
        XmlCase{"Utf16File",
                Utf16LeFile("<?xml version=\"1.0\" encoding=\"UTF-16\"?><tzr_install><inf_information>"
                            "<inf_file filename='w.inf' type='VIRTUAL' service_name='\xc3\xa9svc'/>"
                            "</inf_information></tzr_install>"),
                0, With(kPreset, [](Members& m) { m.infFile = "w.inf", m.type = kInstallVirtual, m.service = "\xc3\xa9svc"; })}),
    [](const ::testing::TestParamInfo<XmlCase>& info) { return std::string(info.param.name); });

TEST_F(InstallerXml, NullPathAndMissingFileChangeNothing)
{
    CBaseComponent c;
    Preset(c);
    EXPECT_EQ(4u, c.ReadInstallerXml(nullptr));
    EXPECT_EQ(unsigned(CTzrXMLReader::kCannotOpen), c.ReadInstallerXml(L"no-such-install.xml"));
    EXPECT_EQ(kPreset, Of(c));
}

// The shell members hold 260 characters with the terminator: an expansion of
// 259 fits, one more leaves the member as it was.
TEST_F(InstallerXml, ExpansionBoundedByTheMemberArrays)
{
    for (size_t length : {size_t(259), size_t(260), size_t(300), size_t(5000)}) {
        SCOPED_TRACE(length);
        const std::wstring value(length - 3, L'v');
        SetEnvironmentVariableW(L"TZR_LONG", value.c_str());
        CBaseComponent c;
        Preset(c);
        // 300-character attributes everywhere: the strings take them whole.
        const std::string name(300, 'n');
        ASSERT_EQ(0u, Read(c, Install("<inf_information>" + Inf("inf_file", "filename='" + name + "' section='" + name +
                                                                               "' service_name='" + name + "'") +
                                      "</inf_information><ShellExecute><ShellExecute_Info file='C:\\%TZR_LONG%' "
                                      "DefaultDir='%TZR_LONG%'/></ShellExecute>")));
        Members expected = kPreset;
        expected.infFile = expected.section = expected.service = name;
        if (length <= 259) {
            expected.shellFile = "C:\\" + Narrow(value);
            expected.shellDir = Narrow(value);
        } else if (length - 3 <= 259) {
            expected.shellDir = Narrow(value);
        }
        EXPECT_EQ(expected, Of(c));
    }
    SetEnvironmentVariableW(L"TZR_LONG", nullptr);
}

TEST_F(InstallerXml, InitializeReadsIt)
{
    AddFile(L"install.xml", Install("<inf_information>" + Inf("inf_file", "filename='drv.inf' type='LEGACY'") +
                                    "</inf_information>"));
    CBaseComponent c;
    EXPECT_EQ(1, c.Initialize());
    EXPECT_EQ("drv.inf", Narrow(c.m_sInfFile));
    EXPECT_EQ(kInstallLegacy, c.m_nInstallType);
    const std::vector<std::string> lines = VerboseLinesStartingWith("basecomp>     - Reading installer XML");
    EXPECT_EQ(std::vector<std::string>{"basecomp>     - Reading installer XML install.xml... Done."}, lines);
}

TEST_F(InstallerXml, InitializeLogsABrokenOneAsFailed)
{
    AddFile(L"install.xml", "<tzr_install>");
    CBaseComponent c;
    EXPECT_EQ(0, c.Initialize());
    // The reader's reason comes before the "Failed!".
    EXPECT_EQ(std::vector<std::string>{"basecomp>     - Reading installer XML install.xml... no element found at line 1; "
                                       "Failed!"},
              VerboseLinesStartingWith("basecomp>     - Reading installer XML"));
}

// Not run by itself: reads the file named by the environment in a process
// that started with the prefix's version of the moment.
TEST(InstallerXmlProbe, DISABLED_Run)
{
    wchar_t file[MAX_PATH] = L"";
    ASSERT_GT(GetEnvironmentVariableW(kProbeFile, file, MAX_PATH), 0u);
    CBaseComponent c;
    const unsigned code = c.ReadInstallerXml(file);
    printf("probe code %u file '%s'\n", code, Narrow(c.m_sInfFile).c_str());
    fflush(stdout);
}

TEST_F(InstallerXml, PreferredElementFollowsTheMajorVersion)
{
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring command =
        QuoteArg(self) + L" --gtest_also_run_disabled_tests --gtest_filter=InstallerXmlProbe.DISABLED_Run";
    const std::string both = Install("<inf_information>" + Inf("inf_file_nt4", "filename='nt4.inf'") +
                                     Inf("inf_file_nt5", "filename='nt5.inf'") + Inf("inf_file", "filename='any.inf'") +
                                     "</inf_information>");
    const std::string anyOnly =
        Install("<inf_information>" + Inf("inf_file", "filename='any.inf'") + "</inf_information>");
    struct Case {
        const wchar_t* version;
        const std::string* bytes;
        const char* chosen;
    } cases[] = {
        {L"win2003", &both, "nt5.inf"},  // major 5
        {L"win2003", &anyOnly, "any.inf"},
        {L"win7", &both, "any.inf"},  // major 6
        {L"win10", &both, "any.inf"},
    };
    ScopedWineVersion wine;
    for (const Case& k : cases) {
        SCOPED_TRACE(Narrow(k.version));
        ASSERT_TRUE(wine.Set(k.version));
        AddFile(L"probe.xml", *k.bytes);
        const ProcessResult run = RunProcess(command, m_folder, {{kProbeFile, m_folder + L"\\probe.xml"}});
        EXPECT_NE(std::string::npos, run.output.find(std::string("probe code 0 file '") + k.chosen + "'"))
            << run.output;
    }
}

}  // namespace
