// The package definition as a host sees it: name, description and new
// version in the host's language, the capability flags, the buffer bounds,
// the log lines, and a component that still loads on a broken package.
#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace tzrtest;

namespace {

const char kEnglishName[] = "Boot Controller Firmware";
const char kFrenchName[] = "Micrologiciel du contr\xC3\xB4leur";
// "Boot controller firmware" in Japanese, as UTF-8.
const char kJapaneseName[] = "\xE3\x83\x96\xE3\x83\xBC\xE3\x83\x88\xE3\x82\xB3\xE3\x83\xB3\xE3\x83\x88\xE3\x83\xAD"
                             "\xE3\x83\xBC\xE3\x83\xA9\xE3\x83\xBC \xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x83\xA0"
                             "\xE3\x82\xA6\xE3\x82\xA7\xE3\x82\xA2";
const char kDescription[] = "Updates the firmware of NVMe boot controllers.";

std::string PackageDefinition(const std::string& extra = "", const std::string& version = "2.5.0.1")
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                       "<tzr_package>\r\n"
                       "  <filename>kxdemo.xml</filename>\r\n"
                       "  <name>\r\n"
                       "    <name_xlate lang=\"en\">") +
           kEnglishName + "</name_xlate>\r\n    <name_xlate lang=\"fr\">" + kFrenchName +
           "</name_xlate>\r\n    <name_xlate lang=\"ja\">" + kJapaneseName +
           "</name_xlate>\r\n"
           "  </name>\r\n"
           "  <description>\r\n"
           "    <description_xlate lang=\"en\">\r\n"
           "      <![CDATA[" +
           kDescription +
           "]]>\r\n"
           "    </description_xlate>\r\n"
           "    <description_xlate lang=\"fr\">Texte sans section</description_xlate>\r\n"
           "  </description>\r\n"
           "  <version value=\"" +
           version + "\"/>\r\n" + extra + "</tzr_package>\r\n";
}

std::string TextLine(unsigned id, const char* name, const std::string& text)
{
    char head[64];
    snprintf(head, sizeof head, "[%u] %-16s result 1  \"", id, name);
    return head + text + "\"";
}

std::string Untouched(unsigned id, const char* name)
{
    char line[64];
    snprintf(line, sizeof line, "[%u] %-16s result 0  (buffer untouched)", id, name);
    return line;
}


}  // namespace

TEST(Package, NameInTheHostsLanguage)
{
    Scenario s("pkg_name_languages");
    s.AddFile(L"kxdemo.xml", PackageDefinition());
    struct Case {
        const wchar_t* language;
        const char* name;
    } cases[] = {
        {L"en", kEnglishName},    {L"FR", kFrenchName},    {L"fr", kFrenchName},
        {L"fr-FR", kEnglishName},  // a region part counts as English
        {L"de", kEnglishName},     // no German entry
        {L"ja", kJapaneseName},   {L"JA", kJapaneseName},
    };
    for (const Case& c : cases) {
        const HostResult r = s.Host({L"--lang", c.language, L"--property", L"1"});
        EXPECT_EQ(0u, r.exitCode) << r.output;
        EXPECT_EQ(TextLine(1, "name", c.name), r.PropertyLine(1)) << Narrow(c.language);
    }
}

TEST(Package, Utf16PackageDefinitionGivesTheSameTexts)
{
    Scenario s("pkg_utf16");
    // Its declaration names the encoding it is written in: one that says
    // UTF-8 beside a UTF-16 byte-order mark does not parse.
    std::string utf8 = PackageDefinition();
    utf8.replace(utf8.find("UTF-8"), 5, "UTF-16");
    s.AddFile(L"kxwide.xml", Utf16LeFile(utf8));
    const HostResult r = s.Host({L"--lang", L"ja", L"--property", L"1", L"--property", L"2"});
    EXPECT_EQ(TextLine(1, "name", kJapaneseName), r.PropertyLine(1)) << r.output;
    EXPECT_EQ(TextLine(2, "description", kDescription), r.PropertyLine(2)) << r.output;
}

TEST(Package, DescriptionOnlyFromACdataSection)
{
    Scenario s("pkg_description");
    s.AddFile(L"kxdemo.xml", PackageDefinition());
    const HostResult en = s.Host({L"--lang", L"en", L"--property", L"2"});
    EXPECT_EQ(TextLine(2, "description", kDescription), en.PropertyLine(2)) << en.output;
    // The French entry holds plain text: no description, and no fallback.
    const HostResult fr = s.Host({L"--lang", L"fr", L"--property", L"2"});
    EXPECT_EQ(Untouched(2, "description"), fr.PropertyLine(2)) << fr.output;
}

TEST(Package, TextsFitTheCapacityWithTheirTerminator)
{
    Scenario s("pkg_capacity");
    s.AddFile(L"kxdemo.xml", PackageDefinition());
    const std::wstring nameFits = std::to_wstring(sizeof kEnglishName);  // length + 1
    const std::wstring nameShort = std::to_wstring(sizeof kEnglishName - 1);
    HostResult r = s.Host({L"--property", L"1", L"--property", L"4", L"--capacity", nameFits});
    EXPECT_EQ(TextLine(1, "name", kEnglishName), r.PropertyLine(1)) << r.output;
    r = s.Host({L"--property", L"1", L"--capacity", nameShort});
    EXPECT_EQ(Untouched(1, "name"), r.PropertyLine(1)) << r.output;
    // "2.5.0.1" is 7 characters.
    r = s.Host({L"--property", L"4", L"--capacity", L"8"});
    EXPECT_EQ(TextLine(4, "new version", "2.5.0.1"), r.PropertyLine(4)) << r.output;
    r = s.Host({L"--property", L"4", L"--capacity", L"7"});
    EXPECT_EQ(Untouched(4, "new version"), r.PropertyLine(4)) << r.output;
    r = s.Host({L"--property", L"2", L"--capacity", L"0"});
    EXPECT_EQ(Untouched(2, "description"), r.PropertyLine(2)) << r.output;
}

TEST(Package, EmptyVersionIsNoAnswer)
{
    Scenario s("pkg_empty_version");
    s.AddFile(L"kxdemo.xml", PackageDefinition("", ""));
    const HostResult r = s.Host({L"--property", L"4", L"--property", L"1"});
    EXPECT_EQ(Untouched(4, "new version"), r.PropertyLine(4)) << r.output;
    EXPECT_EQ(TextLine(1, "name", kEnglishName), r.PropertyLine(1)) << r.output;
}

TEST(Package, CapabilityFlagsFromThePackage)
{
    struct Case {
        const char* silent;
        unsigned value;
    } cases[] = {{"no", 0}, {"YES", 1}, {"maybe", 0}};
    for (const Case& c : cases) {
        Scenario s("pkg_flags");
        s.AddFile(L"kxdemo.xml", PackageDefinition(std::string("<installation><install><install_caps silent=\"") +
                                                   c.silent + "\"/></install></installation>\r\n"));
        const HostResult r = s.Host({L"--property", L"6", L"--property", L"7", L"--property", L"8"});
        const std::string value = "value " + std::to_string(c.value);
        EXPECT_EQ("[6] silent install   result 1  " + value, r.PropertyLine(6)) << c.silent;
        EXPECT_EQ("[7] silent update    result 1  " + value, r.PropertyLine(7)) << c.silent;
        EXPECT_EQ("[8] downgrade        result 1  value 1", r.PropertyLine(8)) << c.silent;
    }
}

TEST(Package, ReadingAndQueriesAreLogged)
{
    Scenario s("pkg_log");
    s.AddFile(L"kxother.xml", "<tzr_install/>");
    s.AddFile(L"kxdemo.xml",
              PackageDefinition("<sw_keys><sw_keys_and><sw_key name=\"tzrfw.sys\">"
                                "<sw_key_expectedpath>%SystemDrive%\\tzr-e2e\\none</sw_key_expectedpath>"
                                "</sw_key></sw_keys_and></sw_keys>\r\n"));
    s.Host({L"/verbose_log", L"--property", L"1", L"--property", L"1", L"--property", L"2", L"--property", L"4"});
    const std::vector<std::string> basecomp = VerboseEntries("basecomp");
    EXPECT_EQ(2u, Count(basecomp, "GetProperty(TZRPROP_NAME)"));
    EXPECT_EQ(1u, Count(basecomp, "GetProperty(TZRPROP_DESCRIPTION)"));
    EXPECT_EQ(1u, Count(basecomp, "GetProperty(TZRPROP_VERSIONNEW)"));
    EXPECT_EQ(std::string::npos, Scenario::ComponentVerboseLog().find("service control manager"));
    // The reader's own entries come between the reading header and its
    // continuation, the first one on the header's line. The service database
    // is not asked at load (under the loader lock), and these questions do
    // not need the installed file.
    std::vector<std::string> lines;
    static const std::regex header(R"(\[\d{1,2}:\d{2}:\d{2}\]::(\w+)\[\d+\] )");
    for (const std::string& line : SplitCrLf(Scenario::ComponentVerboseLog()))
        lines.push_back(std::regex_replace(line, header, "<$1> "));
    const auto at = std::find(lines.begin(), lines.end(), "<basecomp> Locating package definition file ... Done.");
    ASSERT_NE(lines.end(), at) << Scenario::ComponentVerboseLog();
    const std::vector<std::string> expected = {
        "<basecomp> Locating package definition file ... Done.",
        "<basecomp>     - Reading package definition file kxdemo.xml... <pkgdef>     - filename tzrfw.sys",
        "<pkgdef>     - sw_key_expectedpath C:\\tzr-e2e\\none\\tzrfw.sys",
        "<pkgdef>     - Driver path from component xml C:\\tzr-e2e\\none\\tzrfw.sys",
        "    - Reading package definition file... Done.",
    };
    ASSERT_GE(static_cast<size_t>(lines.end() - at), expected.size());
    EXPECT_EQ(expected, std::vector<std::string>(at, at + expected.size()));
}

TEST(Package, BrokenPackageDefinitionsLeaveTheComponentAnswering)
{
    const std::string good = PackageDefinition();
    std::string manyDevices = "<prerequisites><supported_devices>\r\n";
    for (int i = 0; i < 10000; ++i)
        manyDevices += "<supported_devices_and><supported_device type=\"pci\">"
                       "<supported_device_data name=\"ven\">1000</supported_device_data>"
                       "<supported_device_data name=\"dev\">00" +
                       std::to_string(10 + i % 90) + "</supported_device_data></supported_device>"
                                                     "</supported_devices_and>\r\n";
    manyDevices += "</supported_devices></prerequisites>\r\n";
    const std::string longValues =
        "<sw_keys><sw_keys_and><sw_key name=\"" + std::string(400, 'k') + "\"><sw_key_expectedpath>" +
        std::string(400, 'p') + "</sw_key_expectedpath></sw_key></sw_keys_and></sw_keys>"
        "<prerequisites><supported_operating_systems><supported_operating_system platform=\"" +
        std::string(500, 'x') + "\"/></supported_operating_systems></prerequisites>\r\n";
    std::string longFileName = good;
    longFileName.replace(longFileName.find("kxdemo.xml</filename>"), 6, std::string(5000, 'f'));
    struct Case {
        const char* name;
        std::string bytes;
        bool loads;
    } cases[] = {
        {"truncated", good.substr(0, good.size() - 20), false},
        {"not_xml", "PK\x03\x04 an archive, not a package definition", false},
        {"utf16_declared_as_utf8", std::string("<\0?\0x\0m\0l\0 \0", 12) + "encoding='UTF-8'", false},
        {"ten_thousand_devices", PackageDefinition(manyDevices), true},
        {"long_values", PackageDefinition(longValues), true},
        {"long_file_name", longFileName, true},
    };
    for (const Case& c : cases) {
        Scenario s(std::string("pkg_broken_") + c.name);
        s.AddFile(L"kxbroken.xml", c.bytes);
        const HostResult r = s.Host({L"/verbose_log", L"--property", L"1", L"--property", L"6"});
        EXPECT_EQ(0u, r.exitCode) << c.name << r.output;
        EXPECT_NE(std::string::npos, r.output.find("interface 100 (result 1)")) << c.name << r.output;
        EXPECT_EQ("[6] silent install   result 1  value 1", r.PropertyLine(6)) << c.name;
        const std::vector<std::string> basecomp = VerboseEntries("basecomp");
        if (c.loads) {
            EXPECT_EQ(TextLine(1, "name", kEnglishName), r.PropertyLine(1)) << c.name;
            EXPECT_EQ(1u, Count(basecomp, "Locating package definition file ... Done.")) << c.name;
        } else {
            // The search passes over a file that does not load.
            EXPECT_EQ(Untouched(1, "name"), r.PropertyLine(1)) << c.name;
            EXPECT_EQ(1u, Count(basecomp, "Locating package definition file ... Failed!")) << c.name;
        }
    }
}
