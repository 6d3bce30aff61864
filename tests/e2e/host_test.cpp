// What depends on the host rather than the package: the COM apartment its
// thread lives in, the buffer sizes it passes, several hosts at once.
#include "scenario.h"

#include <gtest/gtest.h>

#include <string>

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
