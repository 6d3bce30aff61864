// The host's exit code from Install's answer. A busy machine (another
// firmware installation holds it) is told apart from a failed one only by
// the line the flash engine appends, so a deployment engine retries the
// first and reports the second.
#include "host_decision.h"

#include <gtest/gtest.h>

TEST(HostDecision, ExitCodeFromInstallsAnswer)
{
    const std::wstring busy = L"Another firmware installation is running on this machine.\r\n";
    const struct {
        unsigned result;
        std::wstring message;
        unsigned exitCode;
    } cases[] = {
        {0, busy, 1618},
        {0, L"Host text: " + busy, 1618},
        {0, L"Error\r\n", 1603},
        {0, busy + L"Error\r\n", 1603},   // the engine's line must be the last one
        {0, busy.substr(0, busy.size() - 2), 1603},
        {0, L"", 1603},
        {1, L"", 0},
        {2, busy, 3010},                  // a success is a success, whatever the text
        {3, L"Discovery Successful\r\n", 0},
        {7, L"", 1603},
        {0, L"Controller 2: 2.4.9 when the state was read, 2.4.10 now; nothing is written. Ask the install state again.\r\n", 1618},
        {0, L"Controller 2: 2.4.9 when the state was read. Ask the install state again.\r\nError\r\n", 1603},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.exitCode, ExitCodeForInstall(c.result, c.message)) << c.result << " " << c.message.size();
}
