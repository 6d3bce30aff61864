// The engine's pure rules: tool-output parsing, the model table, version
// comparison, the check summary and option matching.
#include "device_obj.h"
#include "flash_codes.h"
#include "inventory_parse.h"
#include "options.h"
#include "version_compare.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(Trim, BlanksFirstThenTabs)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"  0x2f6  ", "0x2f6"},
        {"\t0x2f6\t", "0x2f6"},
        {" \t0x2f6\t ", "0x2f6"},
        // Tabs outside blanks: the blanks inside the tab run stay.
        {"\t 0x2f6 \t", " 0x2f6 "},
        {"    ", ""},
        {"\t\t", ""},
        {"", ""},
        {"a b", "a b"},
        {"1.0\r", "1.0\r"},  // a carriage return is not trimmed
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.out, trim(c.in)) << '"' << c.in << '"';
}

TEST(FieldValue, AfterTheLastColonWithoutTheLineEndsCarriageReturn)
{
    const struct {
        const char* line;
        const char* value;
    } cases[] = {
        {"SDID:     0x2f6\r", "0x2f6"},
        {"SDID: 0x310", "0x310"},                       // LF line end: nothing lost
        {"Firmware Version: 1.2.3", "1.2.3"},           // last line without a line end
        {"Firmware Version: 1.2.3\r", "1.2.3"},
        {"SVID: 0x1234 SDID: 0x2f6\r", "0x2f6"},
        {"Firmware Version: 12:34:56\r", "56"},         // the last colon counts
        {"SDID: 0x2f6 \r", "0x2f6 "},                   // as the tool's CR LF lines always gave
        {"SDID:\r", ""},
        {"SDID:", ""},
        {"SDID:\t0x2f6\t\r", "0x2f6\t"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, fieldValue(c.line)) << c.line;
}

TEST(ControllerInfo, TakesEachKnownLine)
{
    const ControllerInfo crlf =
        parseControllerInfo("Controller 1\r\nSVID: 0x1590\r\nSDID:     0x2f6\r\nFirmware Version: 1.0.14\r\n");
    EXPECT_EQ("0x1590", crlf.subVendorId);
    EXPECT_EQ("0x2f6", crlf.subDeviceId);
    EXPECT_EQ("1.0.14", crlf.fwVersion);

    const ControllerInfo lf = parseControllerInfo("SVID: 0x1590\nSDID: 0x310\nFirmware Version: 1.2.3");
    EXPECT_EQ("0x1590", lf.subVendorId);
    EXPECT_EQ("0x310", lf.subDeviceId);
    EXPECT_EQ("1.2.3", lf.fwVersion);
}

TEST(ControllerInfo, FirmwareBeforeSvidBeforeSdidOnOneLine)
{
    // Both ids on one line: the SVID test wins, with the text after the last colon.
    const ControllerInfo both = parseControllerInfo("SVID: 0x1234 SDID: 0x2f6\r\n");
    EXPECT_EQ("0x2f6", both.subVendorId);
    EXPECT_EQ("", both.subDeviceId);

    const ControllerInfo all = parseControllerInfo("Firmware Version: 1.0 SVID: 2 SDID: 3\r\n");
    EXPECT_EQ("3", all.fwVersion);
    EXPECT_EQ("", all.subVendorId);
    EXPECT_EQ("", all.subDeviceId);
}

TEST(ControllerInfo, LaterLinesOverwriteAndOthersAreSkipped)
{
    const ControllerInfo info = parseControllerInfo(
        "SDID: 0x2f6\r\nnoise: 0x999\r\nSDID: 0x380\r\nFirmware Version: 1\r\nFirmware Version: 2\r\n");
    EXPECT_EQ("0x380", info.subDeviceId);
    EXPECT_EQ("2", info.fwVersion);
}

TEST(ControllerInfo, MissingLinesLeaveFieldsEmpty)
{
    const ControllerInfo none = parseControllerInfo("");
    EXPECT_EQ("", none.fwVersion);
    EXPECT_EQ("", none.subDeviceId);
    const ControllerInfo noFirmware = parseControllerInfo("SDID: 0x30e\r\n");
    EXPECT_EQ("0x30e", noFirmware.subDeviceId);
    EXPECT_EQ("", noFirmware.fwVersion);
    // Letter case of the keys matters.
    EXPECT_EQ("", parseControllerInfo("sdid: 0x30e\r\nFIRMWARE VERSION: 1\r\n").subDeviceId);
}

TEST(ControllerInfo, NulBytesDoNotEndTheText)
{
    const std::string output("garbage\0\0\r\nSDID: 0x2f6\r\nFirmware Version: 1.0\0x\r\n", 47);
    const ControllerInfo info = parseControllerInfo(output);
    EXPECT_EQ("0x2f6", info.subDeviceId);
    EXPECT_EQ(std::string("1.0\0x", 5), info.fwVersion);
}

TEST(ControllerCount, ExpressionAndNumber)
{
    const struct {
        const char* output;
        ControllerCount::Status status;
        int count;
    } cases[] = {
        {"Total number of NVMe Controllers: 2\r\n", ControllerCount::kFound, 2},
        {"Total Number Of NVMe Controllers: 2\r\n", ControllerCount::kFound, 2},
        {"TOTAL NUMBER OF NVME CONTROLLERS: 3", ControllerCount::kFound, 3},
        {"x Total number of NVMe Controllers: 12 adapters", ControllerCount::kFound, 12},
        {"Total number of NVMe Controllers: 007\n", ControllerCount::kFound, 7},
        // A colon right after the number ends it like any other character.
        {"Total number of NVMe Controllers: 2:\r\nController 1: 0x2f6\r\n", ControllerCount::kFound, 2},
        {"Total number of NVMe Controllers: 3:ok\r\nslot 12345678901\r\n", ControllerCount::kFound, 3},
        {"Total number of NVMe Controllers: 0\r\n", ControllerCount::kFound, 0},
        {"Total number of NVMe Controllers: 2147483647", ControllerCount::kFound, INT_MAX},
        // The first match counts.
        {"Total number of NVMe Controllers: 1\r\nTotal number of NVMe Controllers: 5\r\n", ControllerCount::kFound,
         1},
        {"Total number of NVMe Controllers: x\r\nTotal number of NVMe Controllers: 4", ControllerCount::kFound, 4},
        // Not the expression: one blank only, digits required.
        {"Total number of NVMe Controllers:  2\r\n", ControllerCount::kAbsent, 0},
        {"Total number of NVMe Controllers:2\r\n", ControllerCount::kAbsent, 0},
        {"Total number of NVMe Controllers: -2\r\n", ControllerCount::kAbsent, 0},
        {"Total number of controllers: 2\r\n", ControllerCount::kAbsent, 0},
        {"", ControllerCount::kAbsent, 0},
        // Lies: no exception, no count.
        {"Total number of NVMe Controllers: 2147483648", ControllerCount::kTooLarge, 0},
        {"Total number of NVMe Controllers: 99999999999\r\n", ControllerCount::kTooLarge, 0},
    };
    for (const auto& c : cases) {
        const ControllerCount r = parseControllerCount(c.output);
        EXPECT_EQ(c.status, r.status) << c.output;
        EXPECT_EQ(c.count, r.count) << c.output;
    }
    EXPECT_EQ("99999999999", parseControllerCount("Total number of NVMe Controllers: 99999999999\r\n").text);
}

TEST(ControllerCount, HugeOutputsAreReadWhole)
{
    // 200 KB of other text before the line, and a count of 100,000 digits.
    const std::string before(200000, 'x');
    EXPECT_EQ(8, parseControllerCount(before + "\r\nTotal number of NVMe Controllers: 8\r\n").count);
    const ControllerCount digits = parseControllerCount("Total number of NVMe Controllers: " + std::string(100000, '9'));
    EXPECT_EQ(ControllerCount::kTooLarge, digits.status);
    EXPECT_EQ(100000u, digits.text.size());
}

TEST(ModelTable, ExactLowerCaseIds)
{
    const struct {
        const char* id;
        const char* name;
    } cases[] = {
        {"0x2f6", "Veyra KB118m-p Mk3+ Boot Controller"}, {"0x30e", "Veyra KB118m-d Mk3+ Boot Controller"},
        {"0x310", "Veyra KB118m-t Mk3+ Boot Controller"}, {"0x30f", "Veyra KB118m-r Mk3+ Boot Controller"},
        {"0x379", "Veyra KB118m-u Boot Controller Kit"},  {"0x380", "Veyra KB118m-d Mk4 Boot Controller"},
        {"0x2F6", nullptr},  {"0X2f6", nullptr}, {"0x2f6 ", nullptr}, {"2f6", nullptr}, {"", nullptr},
    };
    for (const auto& c : cases) {
        const char* found = findModelName(c.id);
        if (c.name)
            EXPECT_STREQ(c.name, found) << c.id;
        else
            EXPECT_EQ(nullptr, found) << c.id;
    }
}

TEST(VersionCompare, NaturalOrder)
{
    const struct {
        const char* fw;
        const char* package;
        int state;
    } cases[] = {
        {"1.0.14", "1.0.15", kUpdateUpgrade}, {"1.0.14", "1.0.14", kUpdateRewrite},
        // Parts compare by value: 1.0.14 is newer than 1.0.2, 1.10 than 1.9.
        {"1.0.14", "1.0.2", kUpdateDowngrade}, {"1.0.2", "1.0.14", kUpdateUpgrade},
        {"1.10", "1.9", kUpdateDowngrade},     {"1.9", "1.10", kUpdateUpgrade},
        {"2.4.9", "2.4.10", kUpdateUpgrade},
        // Leading zeros do not count.
        {"1.01", "1.1", kUpdateRewrite},       {"1.010", "1.9", kUpdateDowngrade},
        {"1.2", "1.2.0", kUpdateUpgrade},      {"1.2.0", "1.2", kUpdateDowngrade},
        {"B", "a", kUpdateUpgrade},            {"", "1.0", kUpdateUpgrade},
        {"", "", kUpdateRewrite},              {"1.0", "", kUpdateDowngrade},
        {"1.0a", "1.0b", kUpdateUpgrade},      {"v9", "v10", kUpdateUpgrade},
        // Digit runs longer than any integer still compare by value.
        {"1.99999999999999999999999", "1.100000000000000000000000", kUpdateUpgrade},
        // Bytes compare unsigned: a high byte sorts after every ASCII one.
        {"1.\xe9", "1.z", kUpdateDowngrade},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.state, compareVersion(c.fw, c.package)) << c.fw << " vs " << c.package;
}

std::vector<DeviceObj> Devices(std::initializer_list<int> states)
{
    std::vector<DeviceObj> devices;
    for (int state : states) {
        DeviceObj d;
        d.setUpdateState(state);
        devices.push_back(d);
    }
    return devices;
}

TEST(CheckSummary, CountsAndTieBreaks)
{
    const int U = kUpdateUpgrade, R = kUpdateRewrite, D = kUpdateDowngrade, X = kUpdateUndetermined;
    const struct {
        std::vector<DeviceObj> devices;
        int u, r, d;
        unsigned code;
    } cases[] = {
        {Devices({U, U}), 2, 0, 0, kFlashUpgrade},
        {Devices({U, D, D}), 1, 0, 2, kFlashDowngrade},
        {Devices({R, R, R}), 0, 3, 0, kFlashRewrite},
        {Devices({U, U, D, D}), 2, 0, 2, kFlashUpgrade},     // upgrade wins a tie with downgrade
        {Devices({D, D, R, R}), 0, 2, 2, kFlashDowngrade},   // downgrade wins a tie with rewrite
        {Devices({D, R, R}), 0, 2, 1, kFlashRewrite},
        {Devices({U, D}), 1, 0, 1, kFlashUpgrade},
        {Devices({D, R}), 0, 1, 1, kFlashDowngrade},
        {Devices({X, X}), 0, 0, 0, kFlashRewrite},           // undetermined counts nowhere
        {Devices({X, D}), 0, 0, 1, kFlashDowngrade},
        {Devices({}), 0, 0, 0, kFlashRewrite},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const UpdateCounts counts = countUpdateStates(cases[i].devices);
        EXPECT_EQ(cases[i].u, counts.ucount) << i;
        EXPECT_EQ(cases[i].r, counts.rcount) << i;
        EXPECT_EQ(cases[i].d, counts.dcount) << i;
        EXPECT_EQ(cases[i].code, summaryCode(counts)) << i;
    }
}

TEST(DeviceObjRecord, StartsUndeterminedAndUnmarkedAndCopiesByValue)
{
    DeviceObj d;
    EXPECT_EQ(kUpdateUndetermined, d.getUpdateState());
    EXPECT_FALSE(d.isFlashNeed());
    d.setControllerId(3);
    d.setFwVersion("1.0");
    d.setFlashNeeded(true);
    const DeviceObj copy = d;
    d.setFwVersion("2.0");
    EXPECT_EQ(3, copy.getControllerId());
    EXPECT_EQ("1.0", copy.getFwVersion());
    EXPECT_TRUE(copy.isFlashNeed());
}

// Install compares the machine with the picture its install state was drawn
// from: any controller added, gone, re-identified or at other firmware
// (also firmware now waiting for a restart) is a change, named first.
TEST(MachineChange, TheFirstDifferenceInTheSystemsWords)
{
    const auto c = [](int id, const char* sdid, const char* fw, const char* running = "") {
        DeviceObj d;
        d.setControllerId(id);
        d.setSubVendorId("0x1590");
        d.setSubDeviceId(sdid);
        d.setFwVersion(fw);
        if (*running)
            d.setAwaitingRestart(running, fw);
        return d;
    };
    const std::vector<DeviceObj> then = {c(1, "0x2f6", "2.2.0"), c(2, "0x310", "2.2.0")};
    const struct {
        std::vector<DeviceObj> now;
        const char* change;
    } cases[] = {
        {{c(1, "0x2f6", "2.2.0"), c(2, "0x310", "2.2.0")}, ""},
        {{c(1, "0x2f6", "2.4.10"), c(2, "0x310", "2.2.0")},
         "Controller 1: 2.2.0 when the state was read, 2.4.10 now"},
        {{c(1, "0x2f6", "2.4.10"), c(2, "0x310", "2.4.10")},
         "Controller 1: 2.2.0 when the state was read, 2.4.10 now (and 1 more)"},
        {{c(1, "0x2f6", "2.4.10", "2.2.0"), c(2, "0x310", "2.2.0")},
         "Controller 1: 2.2.0 when the state was read, 2.4.10 (waiting for a restart) now"},
        {{c(1, "0x2f6", "2.2.0")}, "Controller 2: present when the state was read, gone now"},
        {{c(1, "0x2f6", "2.2.0"), c(2, "0x310", "2.2.0"), c(3, "0x310", "2.2.0")},
         "Controller 3: not there when the state was read, present now"},
        {{c(1, "0x2f6", "2.2.0"), c(2, "0x2f6", "2.2.0")},
         "Controller 2: ids 0x1590/0x310 when the state was read, 0x1590/0x2f6 now"},
    };
    for (const auto& k : cases)
        EXPECT_EQ(k.change, describeChange(then, k.now));
}

TEST(Options, WholeArgumentEitherPrefixCaseSensitive)
{
    const struct {
        const char* arg;
        EngineOption option;
    } cases[] = {
        {"-d", kOptionDiscovery},        {"/d", kOptionDiscovery},
        {"-f", kOptionForce},            {"/f", kOptionForce},
        {"-force", kOptionForce},        {"/force", kOptionForce},
        {"-s", kOptionSilent},           {"/s", kOptionSilent},
        {"-silent", kOptionSilent},      {"/silent", kOptionSilent},
        {"-log_level", kOptionLogLevel}, {"/log_level", kOptionLogLevel},
        {"-e", kOptionRewrite},          {"/e", kOptionRewrite},
        {"-g", kOptionDowngrade},        {"/g", kOptionDowngrade},
        {"-F", kOptionNone},             {"-Force", kOptionNone},
        {"--force", kOptionNone},        {"-f ", kOptionNone},
        {"-fo", kOptionNone},            {"f", kOptionNone},
        {"-", kOptionNone},              {"", kOptionNone},
        {"\\f", kOptionNone},            {"-D", kOptionNone},
        {"-log_level=1", kOptionNone},   {"-LOG_LEVEL", kOptionNone},
        {"/verbose_log", kOptionNone},   {"--property", kOptionNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.option, matchOption(c.arg)) << c.arg;
    EXPECT_EQ(kOptionNone, matchOption(nullptr));
}

TEST(Options, DecimalValue)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"1", 1},          {"  42", 42},      {"-3", -3},         {"+7", 7},
        {"12abc", 12},     {"abc", 0},        {"", 0},            {"- 1", 0},
        {"2147483647", INT_MAX}, {"99999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, parseDecimal(c.text)) << c.text;
}

TEST(Options, DefaultDiscoveryPath)
{
    EXPECT_EQ("\\tzrsystem\\log\\kx012345_disc.xml", defaultDiscoveryPath("kx012345.xml"));
    EXPECT_EQ("\\tzrsystem\\log\\install_disc.xml", defaultDiscoveryPath("install.xml"));
    EXPECT_EQ("\\tzrsystem\\log\\_disc.xml", defaultDiscoveryPath(""));
    // Only the last four characters go, whatever they are.
    EXPECT_EQ("\\tzrsystem\\log\\a.xml_disc.xml", defaultDiscoveryPath("a.xml.bak"));
    EXPECT_EQ("\\tzrsystem\\log\\kx.xml_disc.xml", defaultDiscoveryPath("kx.xml.xml"));
}

}  // namespace
