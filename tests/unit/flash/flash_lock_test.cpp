// The machine-wide firmware lock: one holder at a time, a bounded wait, and
// the holder named to whoever is kept out.
#include "flash_lock.h"

#include <gtest/gtest.h>

namespace {

TEST(MachineFlashLock, OneHolderAtATimeAndTheOthersAreToldWho)
{
    MachineFlashLock first;
    FlashLockHolder holder;
    DWORD error = 0xdeadbeef;
    ASSERT_EQ(MachineFlashLock::Result::kAcquired,
              first.Acquire(FlashActivity::kFlash, MachineFlashLock::Wait::kForAny, 0, holder, error));
    EXPECT_EQ(0u, error);

    const struct {
        MachineFlashLock::Wait policy;
        DWORD waitMs;
        DWORD atLeastMs;  // a write refuses at once; an inventory waits its bound
    } cases[] = {
        {MachineFlashLock::Wait::kForInventory, 2000, 0},
        {MachineFlashLock::Wait::kForAny, 300, 300},
    };
    for (const auto& c : cases) {
        MachineFlashLock second;
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(MachineFlashLock::Result::kBusy,
                  second.Acquire(FlashActivity::kInventory, c.policy, c.waitMs, holder, error));
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LT(took, c.atLeastMs + 1000);
        EXPECT_EQ(GetCurrentProcessId(), holder.processId);
        EXPECT_EQ(FlashActivity::kFlash, holder.activity);
        EXPECT_FALSE(holder.processEnded);
        EXPECT_FALSE(second.Held());
    }

    first.Release();
    MachineFlashLock again;
    EXPECT_EQ(MachineFlashLock::Result::kAcquired,
              again.Acquire(FlashActivity::kInventory, MachineFlashLock::Wait::kForAny, 0, holder, error));
}

}  // namespace
