// The operating-system support check: the edition table, the matching rules
// with their trace, and the whole check on several Windows versions that
// Wine reports in fresh processes.
#include "package_fixture.h"
#include "wine_version.h"
#include "win_handle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

using namespace tzrtest;

namespace {

SupportedOS Entry(const wchar_t* platform, int major = -1, int minor = -1, int servicePack = -1,
                  WORD edition = 0xFFFF, DWORD minBuild = 0, DWORD maxBuild = 0xFFFFFFFF)
{
    SupportedOS e;
    wcscpy(e.szPlatform, platform);
    e.dwMajor = static_cast<DWORD>(major);
    e.dwMinor = static_cast<DWORD>(minor);
    e.dwServicePack = static_cast<DWORD>(servicePack);
    e.wEditionMask = edition;
    e.dwMinBuild = minBuild;
    e.dwMaxBuild = maxBuild;
    return e;
}

RunningOS Running(int major, int minor, int servicePack, WORD edition, DWORD build,
                  const wchar_t* platform = L"nt_x86-64")
{
    RunningOS r;
    wcscpy(r.szPlatform, platform);
    r.nMajor = major;
    r.nMinor = minor;
    r.nServicePack = servicePack;
    r.wEdition = edition;
    r.dwBuild = build;
    return r;
}

const std::string kTrace = "basecomp> IsOSSupported: ";

}  // namespace

TEST(OsCheck, EditionTable)
{
    struct Case {
        DWORD productType;
        WORD plain;
        WORD r2;
    } cases[] = {
        {PRODUCT_DATACENTER_SERVER, 0x0405, 0x0404},
        {PRODUCT_SMALLBUSINESS_SERVER, 0x0205, 0x0204},
        {PRODUCT_SMALLBUSINESS_SERVER_PREMIUM, 0x0205, 0x0204},
        {PRODUCT_DATACENTER_SERVER_CORE, 0x040A, 0x0408},
        {PRODUCT_STANDARD_SERVER_CORE, 0x0102, 0x0108},
        {PRODUCT_ENTERPRISE_SERVER_CORE, 0x0102, 0x0108},
        {PRODUCT_STANDARD_SERVER, 0xFF05, 0xFF04},
        {PRODUCT_ENTERPRISE, 0xFF05, 0xFF04},
        {0, 0xFF05, 0xFF04},
        {0xABCDEF, 0xFF05, 0xFF04},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.plain, CBaseComponent::EditionFromProductType(c.productType, 0)) << c.productType;
        EXPECT_EQ(c.r2, CBaseComponent::EditionFromProductType(c.productType, 1)) << c.productType;
    }
    // Wine is never an R2 server.
    CBaseComponent component;
    EXPECT_EQ(0xFF05, component.GetWindowsEditionFromSystemValue(0));
    EXPECT_EQ(0x0405, component.GetWindowsEditionFromSystemValue(PRODUCT_DATACENTER_SERVER));
}

struct MatchCase {
    const char* name;
    std::vector<SupportedOS> entries;
    RunningOS running;
    int result;
    std::vector<std::string> trace;  // after the kTrace prefix
};

class OsMatching : public PackageTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(OsMatching, TracesEveryTest)
{
    const MatchCase& k = GetParam();
    CBaseComponent c;
    OpenLog(c);
    for (const SupportedOS& e : k.entries)
        c.AddSupportedOS(e);
    EXPECT_EQ(k.result, c.MatchSupportedOS(k.running));
    std::vector<std::string> expected;
    for (const std::string& line : k.trace)
        expected.push_back(kTrace + line);
    EXPECT_EQ(expected, VerboseLines());
}

INSTANTIATE_TEST_SUITE_P(
    OsCheck, OsMatching,
    ::testing::Values(
        MatchCase{"platform_only_matches_any_version",
                  {Entry(L"nt_x86-64")},
                  Running(10, 0, 0, 0xFF05, 17763),
                  1,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0xFFFF build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"platform_compares_without_case",
                  {Entry(L"NT_X86-64")},
                  Running(6, 1, 1, 0xFF05, 7601),
                  1,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0xFFFF build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"major_fails_alone_then_inclusive_minimum_matches",
                  {Entry(L"nt_x86-64", 6), Entry(L"nt_x86-64", 10, 0, -1, 0xFFFF, 17763)},
                  Running(10, 0, 0, 0xFF05, 17763),
                  1,
                  {"Supported OS entry 0 major 6 minor -1 SP -1 edition 0xFFFF build 0 to 4294967295",
                   "Major version does not match",
                   "Supported OS entry 1 major 10 minor 0 SP -1 edition 0xFFFF build 17763 to 4294967295",
                   "Match found"}},
        MatchCase{"inclusive_maximum_and_one_beyond",
                  {Entry(L"nt_x86-64", 10, 0, -1, 0xFFFF, 0, 17762), Entry(L"nt_x86-64", 10, 0, -1, 0xFFFF, 0, 17763)},
                  Running(10, 0, 0, 0xFF05, 17763),
                  1,
                  {"Supported OS entry 0 major 10 minor 0 SP -1 edition 0xFFFF build 0 to 17762",
                   "Build number out of range",
                   "Supported OS entry 1 major 10 minor 0 SP -1 edition 0xFFFF build 0 to 17763", "Match found"}},
        MatchCase{"every_failing_test_is_logged_and_the_next_entry_tried",
                  {Entry(L"nt", 10), Entry(L"nt_x86-64", 10, 1, 3, 0x0405, 20000),
                   Entry(L"nt_x86-64", 11)},
                  Running(10, 0, 2, 0xFF05, 17763),
                  0,
                  {"Supported OS entry 0 wrong architecture",
                   "Supported OS entry 1 major 10 minor 1 SP 3 edition 0x405 build 20000 to 4294967295",
                   "Minor version does not match", "Service Pack newer than installed Service Pack",
                   "Edition does not match", "Build number out of range",
                   "Supported OS entry 2 major 11 minor -1 SP -1 edition 0xFFFF build 0 to 4294967295",
                   "Major version does not match"}},
        MatchCase{"first_match_wins",
                  {Entry(L"nt_x86-64", 6, 1), Entry(L"nt_x86-64", 6)},
                  Running(6, 1, 1, 0xFF05, 7601),
                  1,
                  {"Supported OS entry 0 major 6 minor 1 SP -1 edition 0xFFFF build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"service_pack_zero_and_any_accept_none",
                  {Entry(L"nt_x86-64", -1, -1, 1), Entry(L"nt_x86-64", -1, -1, 0)},
                  Running(6, 0, 0, 0xFF05, 6002),
                  1,
                  {"Supported OS entry 0 major -1 minor -1 SP 1 edition 0xFFFF build 0 to 4294967295",
                   "Service Pack newer than installed Service Pack",
                   "Supported OS entry 1 major -1 minor -1 SP 0 edition 0xFFFF build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"standard_core_accepts_core_only",
                  {Entry(L"nt_x86-64", -1, -1, -1, 0xFF05), Entry(L"nt_x86-64", -1, -1, -1, 0xFF08),
                   Entry(L"nt_x86-64", -1, -1, -1, 0xFF0A)},
                  Running(6, 0, 2, 0x0102, 6002),
                  1,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0xFF05 build 0 to 4294967295",
                   "Edition does not match",
                   "Supported OS entry 1 major -1 minor -1 SP -1 edition 0xFF08 build 0 to 4294967295",
                   "Edition does not match",
                   "Supported OS entry 2 major -1 minor -1 SP -1 edition 0xFF0A build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"datacenter_refuses_sbs",
                  {Entry(L"nt_x86-64", -1, -1, -1, 0x0205)},
                  Running(6, 0, 0, 0x0405, 6002),
                  0,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0x205 build 0 to 4294967295",
                   "Edition does not match"}},
        MatchCase{"datacenter_accepts_dc",
                  {Entry(L"nt_x86-64", -1, -1, -1, 0x040F)},
                  Running(6, 0, 0, 0x0405, 6002),
                  1,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0x40F build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"unknown_keyword_matches_nothing",
                  {Entry(L"nt_x86-64", -1, -1, -1, 0)},
                  Running(10, 0, 0, 0xFF05, 17763),
                  0,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0x0 build 0 to 4294967295",
                   "Edition does not match"}},
        MatchCase{"empty_platform_matches_only_an_unknown_architecture",
                  {Entry(L""), Entry(L"nt")},
                  Running(10, 0, 0, 0xFF05, 17763, L""),
                  1,
                  {"Supported OS entry 0 major -1 minor -1 SP -1 edition 0xFFFF build 0 to 4294967295",
                   "Match found"}},
        MatchCase{"empty_platform_refused_on_amd64",
                  {Entry(L"")},
                  Running(10, 0, 0, 0xFF05, 17763),
                  0,
                  {"Supported OS entry 0 wrong architecture"}}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST_F(PackageTest, OsCheckWithoutEntriesAccepts)
{
    CBaseComponent c;
    OpenLog(c);
    EXPECT_EQ(1, c.IsOSSupported());
    EXPECT_EQ(std::vector<std::string>{kTrace + "No supported_operating_system entries in package definition"},
              VerboseLines());
}

TEST_F(PackageTest, OsCheckTracesTheRunningSystem)
{
    CBaseComponent c;
    OpenLog(c);
    c.AddSupportedOS(Entry(L"nt_x86-64", 999));
    EXPECT_EQ(0, c.IsOSSupported());

    typedef void(WINAPI * VersionFn)(DWORD*, DWORD*, DWORD*);
    auto version = reinterpret_cast<VersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetNtVersionNumbers")));
    ASSERT_NE(nullptr, version);
    DWORD major = 0, minor = 0, build = 0;
    version(&major, &minor, &build);
    build &= 0x0FFFFFFF;
    EXPECT_EQ(major, c.m_dwOsMajor);
    EXPECT_EQ(minor, c.m_dwOsMinor);
    EXPECT_EQ(build, c.m_dwOsBuild);

    const std::vector<std::string> lines = VerboseLines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(kTrace + "Calling GetVersionEx", lines[0]);
    EXPECT_EQ(0u, lines[1].find(kTrace + "GetVersionEx returned ")) << lines[1];
    EXPECT_EQ(kTrace + "sysinfo.wProcessorArchitecture: (nt_x86-64) PROCESSOR_ARCHITECTURE_AMD64", lines[2]);
    char runtime[128];
    snprintf(runtime, sizeof runtime, "Runtime library returned %lu.%lu build %lu", major, minor, build);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), kTrace + runtime));
    const std::string last = lines.back();
    EXPECT_EQ(kTrace + "Major version does not match", last);
}

// ---------------------------------------------------------------------------
// The check on several Windows versions. Wine takes the version from the
// prefix's registry when a process starts, so each version is set there and
// the check runs in a fresh copy of this program (the probe below).

namespace {

const wchar_t kProbePackage[] = L"TZR_OS_PROBE_PACKAGE";

struct ProbeResult {
    int result = -1;
    std::vector<std::string> trace;  // the IsOSSupported lines, without kTrace
    std::string output;
};

std::wstring SelfPath()
{
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The value after "label " in a trace line, e.g. "major 6" -> 6.
long long TraceNumber(const std::string& line, const std::string& label)
{
    const size_t at = line.find(label + " ");
    return at == std::string::npos ? -1 : strtoll(line.c_str() + at + label.size() + 1, nullptr, 10);
}

struct Running3 {
    long long major = -1, minor = -1, servicePack = -1, build = -1;
};

Running3 CurrentOf(const ProbeResult& probe)
{
    Running3 r;
    for (const std::string& line : probe.trace) {
        if (line.compare(0, 10, "Current OS") == 0) {
            r.major = TraceNumber(line, "major");
            r.minor = TraceNumber(line, "minor");
            r.servicePack = TraceNumber(line, "SP");
            r.build = TraceNumber(line, "build");
        }
    }
    return r;
}

class OsVersions : public PackageTest {
protected:
    ProbeResult Probe(const std::string& systems)
    {
        AddFile(L"kxos.xml", Package("<prerequisites><supported_operating_systems>" + systems +
                                     "</supported_operating_systems></prerequisites>"));
        // Each probe writes a verbose file of its own, so its trace never
        // holds the lines of an earlier probe, whatever became of that one.
        m_verbose = m_drive + L"\\probe" + std::to_wstring(++m_probes) + L".log";
        const std::wstring command = QuoteArg(SelfPath()) +
                                     L" --gtest_also_run_disabled_tests --gtest_filter=OsCheckProbe.DISABLED_Run";
        ProbeResult probe;
        const ProcessResult run = RunProcess(
            command, m_folder, {{kProbePackage, m_folder + L"\\kxos.xml"}, {L"CMPLOG2_VERBOSE_FILENAME", m_verbose}});
        probe.output = run.output;
        const size_t at = run.output.find("probe result ");
        if (at != std::string::npos)
            probe.result = atoi(run.output.c_str() + at + 13);
        for (const std::string& line : VerboseLinesStartingWith(kTrace)) {
            probe.trace.push_back(line.substr(kTrace.size()));
            probe.output += "\n  trace: " + probe.trace.back();
        }
        return probe;
    }

private:
    int m_probes = 0;
};

std::string OsElement(const std::string& attributes)
{
    return "<supported_operating_system " + attributes + "/>\r\n";
}

}  // namespace

// Not run by itself: the probe the version test starts in a fresh process.
TEST(OsCheckProbe, DISABLED_Run)
{
    wchar_t package[MAX_PATH] = L"";
    ASSERT_GT(GetEnvironmentVariableW(kProbePackage, package, MAX_PATH), 0u);
    CBaseComponent c;
    c.m_pLog->Open();
    ASSERT_EQ(0u, c.ReadPackageDefinition(package));
    printf("probe result %d\n", c.IsOSSupported());
    fflush(stdout);
}

TEST_F(OsVersions, CheckMatchesTheVersionWineReports)
{
    // GetVersionEx reports 6.2 to a program without a compatibility manifest
    // on later systems; the runtime numbers are the real ones.
    struct Version {
        const wchar_t* name;
        long long major, minor, servicePack;
        const char* reported;  // GetVersionEx's major.minor
    } versions[] = {
        {L"win10", 10, 0, 0, "6.2"},
        {L"win7", 6, 1, 1, "6.1"},
        {L"win2008r2", 6, 1, 1, "6.1"},
        {L"win2003", 5, 2, 2, "5.2"},
    };
    tzrtest::ScopedWineVersion wine;
    for (const Version& v : versions) {
        SCOPED_TRACE(Narrow(v.name));
        ASSERT_TRUE(wine.Set(v.name));
        // A first run learns the numbers and refuses: no entry fits.
        const ProbeResult learn = Probe(OsElement("platform='nt_x86-64' major='999'"));
        ASSERT_EQ(0, learn.result) << learn.output;
        const Running3 r = CurrentOf(learn);
        EXPECT_EQ(v.major, r.major);
        EXPECT_EQ(v.minor, r.minor);
        EXPECT_EQ(v.servicePack, r.servicePack);
        ASSERT_GT(r.build, 0) << learn.output;
        // Product information is asked from version 6 on.
        const bool productInfo = v.major >= 6;
        ASSERT_EQ(productInfo ? 9u : 8u, learn.trace.size()) << learn.output;
        EXPECT_EQ("Calling GetVersionEx", learn.trace[0]);
        EXPECT_EQ(0u, learn.trace[1].find(std::string("GetVersionEx returned ") + v.reported + " Service Pack " +
                                          std::to_string(v.servicePack) + " build "))
            << learn.trace[1];
        EXPECT_EQ("sysinfo.wProcessorArchitecture: (nt_x86-64) PROCESSOR_ARCHITECTURE_AMD64", learn.trace[2]);
        EXPECT_EQ(productInfo, learn.trace[3].find("GetProductInfo returned dwEdition (0x") == 0) << learn.trace[3];
        const size_t next = productInfo ? 4 : 3;
        EXPECT_EQ(0u, learn.trace[next].find("GetWindowsEditionFromSystemValue returned Current.nEdition (0x"))
            << learn.trace[next];
        EXPECT_EQ("Runtime library returned " + std::to_string(r.major) + "." + std::to_string(r.minor) + " build " +
                      std::to_string(r.build),
                  learn.trace[next + 1]);
        EXPECT_EQ("Major version does not match", learn.trace.back());

        // In chain order: A (wrong architecture), B (minor, service pack and
        // build fail), C (exact, build bounds inclusive: match), D (never
        // looked at). Written in document order A, D, C, B.
        const std::string maj = std::to_string(r.major), min = std::to_string(r.minor);
        const std::string sp = std::to_string(r.servicePack), build = std::to_string(r.build);
        const ProbeResult probe =
            Probe(OsElement("platform='nt' major='" + maj + "'") + OsElement("platform='nt_x86-64'") +
                  OsElement("platform='nt_x86-64' major='" + maj + "' minor='" + min + "' sr='" + sp +
                            "' minimumbuild='" + build + "' maximumbuild='" + build + "'") +
                  OsElement("platform='nt_x86-64' major='" + maj + "' minor='" + std::to_string(r.minor + 1) +
                            "' sr='" + std::to_string(r.servicePack + 1) + "' minimumbuild='" +
                            std::to_string(r.build + 1) + "'"));
        EXPECT_EQ(1, probe.result) << probe.output;
        ASSERT_GE(probe.trace.size(), 7u) << probe.output;
        const std::vector<std::string> tail(probe.trace.end() - 7, probe.trace.end());
        const std::vector<std::string> expected = {
            "Supported OS entry 0 wrong architecture",
            "Supported OS entry 1 major " + maj + " minor " + std::to_string(r.minor + 1) + " SP " +
                std::to_string(r.servicePack + 1) + " edition 0xFFFF build " + std::to_string(r.build + 1) +
                " to 4294967295",
            "Minor version does not match",
            "Service Pack newer than installed Service Pack",
            "Build number out of range",
            "Supported OS entry 2 major " + maj + " minor " + min + " SP " + sp + " edition 0xFFFF build " + build +
                " to " + build,
            "Match found",
        };
        EXPECT_EQ(expected, tail) << probe.output;
    }
}
