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
        // The machine changed since the state was read: nothing written, ask again.
        {0, L"Controller 1: 2.2.0 when the state was read, 2.4.10 now; nothing is written. Ask the install state "
            L"again.\r\n", 1618},
        {0, L"Ask the install state again.\r\nError\r\n", 1603},
        {0, L"The machine-wide firmware lock cannot be taken: the name is held by an object that is not a section "
            L"(error 6); nothing is written.\r\n", 1603},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.exitCode, ExitCodeForInstall(c.result, c.message)) << c.result << " " << c.message.size();
}

// The install state alone decides for the busy machine and for firmware
// that waits for its restart; the message's first words tell them apart.
TEST(HostDecision, InstallStateWithItsMessage)
{
    const struct {
        unsigned state;
        std::wstring message;
        bool install;
        unsigned exitCode;
    } cases[] = {
        {7, L"Another firmware installation is running on this machine.", false, 1618},
        {7, L"The machine-wide firmware lock cannot be taken: ...", false, 1603},
        {7, L"", false, 1603},
        {1, L"A restart is needed: the firmware written to the controllers runs after the next restart.", true, 0},
        {1, L"", false, 0},
        {2, L"", true, 0},
    };
    for (const auto& c : cases) {
        const InstallDecision d = DecideInstall(true, c.state, c.message);
        EXPECT_EQ(c.install, d.install) << c.state << " " << c.message.size();
        if (!c.install) {
            EXPECT_EQ(c.exitCode, d.exitCode) << c.state << " " << c.message.size();
        }
    }
}
