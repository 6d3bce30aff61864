// What depends on the host rather than the package: the COM apartment its
// thread lives in, the buffer sizes it passes, several hosts at once.
#include "scenario.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace tzrtest;

namespace {

std::wstring FrameworkPlugin()
{
    return BuildFile(L"src\\plugin\\framework_setup.dll");
}

}  // namespace

// A windowed host's thread already is a single-threaded apartment; a
// dependency list naming this machine's model (Wine's WMI says "Wine") is
// met there as it is from a host that leaves COM to the plug-in.
TEST(Host, ComputerModelIsReadFromASingleThreadedApartment)
{
    Scenario s("host_sta_model");
    s.CopyIn(FrameworkPlugin(), L"setup.dll");
    s.AddFile(L"kxframework.xml", "<tzr_package></tzr_package>");
    s.AddFile(L"dependency.xml", "<componentdependencies><dependent_hardware><platforms>"
                                 "<platform model='Wine'/></platforms></dependent_hardware></componentdependencies>");
    const HostResult plain = s.Host({L"--property", L"5"});
    const HostResult windowed = s.Host({L"--sta", L"--property", L"5"});
    EXPECT_EQ(5u, plain.State()) << plain.output;
    EXPECT_EQ(plain.State(), windowed.State()) << windowed.output;
    EXPECT_EQ(plain.PropertyLine(5), windowed.PropertyLine(5));
}

// A capability flag is four bytes: a smaller buffer is left alone and the
// answer is 0, in both plug-ins.
TEST(Host, CapabilityFlagsNeedFourBytes)
{
    const char* names[] = {"silent install", "silent update", "downgrade"};
    for (const bool framework : {false, true}) {
        Scenario s(framework ? "host_flag_sizes_framework" : "host_flag_sizes_flash");
        if (framework)
            s.CopyIn(FrameworkPlugin(), L"setup.dll");
        for (unsigned size = 0; size <= 4; ++size) {
            const HostResult r = s.Host({L"--flag-size", std::to_wstring(size), L"--property", L"6", L"--property",
                                         L"7", L"--property", L"8"});
            for (unsigned id = 6; id <= 8; ++id) {
                char head[64];
                snprintf(head, sizeof head, "[%u] %-16s result %d", id, names[id - 6], size < 4 ? 0 : 1);
                const std::string line = r.PropertyLine(id);
                EXPECT_EQ(head, line.substr(0, strlen(head))) << size << " " << line;
                EXPECT_EQ(size < 4, line.find("(buffer untouched)") != std::string::npos) << size << " " << line;
            }
        }
    }
}

// One component-log write is one line of at most 4095 bytes, line end
// kept: a package key named by a megabyte writes no megabyte lines.
TEST(Host, ComponentLogLinesAreBounded)
{
    Scenario s("host_log_line_bound");
    const std::string huge(1 << 20, 'k');
    std::string keys;
    for (int i = 0; i < 3; ++i)
        keys += "<sw_keys_and><sw_key name='" + huge + "'/></sw_keys_and>";
    s.AddFile(L"kxbound.xml", "<tzr_package><version value='1.0'/><sw_keys>" + keys + "</sw_keys></tzr_package>");
    s.Host({L"/verbose_log", L"--property", L"5"});
    const std::string verbose = Scenario::ComponentVerboseLog();
    // Header and text together, cut to the bound with the line end kept,
    // after a "::pkgdef[LINE] " header, whatever line that is. An entry
    // that follows an open progress line leaves with it in one write: the
    // bound is the whole line's.
    size_t found = 0;
    const std::string text = "]     - filename kkkk";
    for (size_t at = verbose.find(text); at != std::string::npos; at = verbose.find(text, at + 1)) {
        const size_t lineEnd = verbose.rfind("\r\n", at);
        const size_t begin = lineEnd == std::string::npos ? 0 : lineEnd + 2;
        const size_t end = verbose.find("\r\n", at);
        ASSERT_NE(std::string::npos, end);
        found += verbose.find_last_not_of("0123456789", at - 1) == verbose.rfind("::pkgdef[", at) + 8;
        EXPECT_EQ(4095u, end + 2 - begin);
    }
    EXPECT_EQ(3u, found);
    EXPECT_LT(verbose.size(), 64u * 1024);
}

// Hosts that run at once all keep their lines: each write lands at the end
// of the shared component log.
TEST(Host, ConcurrentHostsLoseNoLogLine)
{
    Scenario s("host_concurrent_logs");
    // Many writes each, so the hosts' writes overlap.
    std::vector<std::wstring> queries;
    for (int i = 0; i < 20; ++i)
        queries.insert(queries.end(), {L"--property", L"5"});
    s.Host(queries);
    const std::string one = Scenario::ComponentLog();
    ASSERT_FALSE(one.empty());
    Scenario::ClearLogs();
    std::vector<std::thread> hosts;
    for (int i = 0; i < 12; ++i)
        hosts.emplace_back([&s, &queries] { s.Host(queries); });
    for (std::thread& host : hosts)
        host.join();
    // Pieces of lines may interleave between hosts; no byte is lost. Each
    // run's header line names its own process: the ids are set aside.
    const std::regex pid("process \\d+");
    const std::string first = std::regex_replace(one, pid, "process N");
    const std::string all = std::regex_replace(Scenario::ComponentLog(), pid, "process N");
    EXPECT_EQ(12 * first.size(), all.size());
    EXPECT_EQ(12 * SplitCrLf(first).size(), SplitCrLf(all).size());
}
