// The machine-wide firmware lock: one holder at a time, a bounded wait, and
// the holder named to whoever is kept out.
#include "flash_lock.h"

#include <gtest/gtest.h>

namespace {

TEST(MachineFlashLock, OneHolderAtATimeAndTheOthersAreToldWho)
{
    MachineFlashLock first;
    FlashLockHolder holder;
    std::string reason = "not cleared";
    ASSERT_EQ(MachineFlashLock::Result::kAcquired,
              first.Acquire(FlashActivity::kFlash, MachineFlashLock::Wait::kForAny, 0, holder, reason));
    EXPECT_EQ("", reason);

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
                  second.Acquire(FlashActivity::kInventory, c.policy, c.waitMs, holder, reason));
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LT(took, c.atLeastMs + 1000);
        EXPECT_EQ(GetCurrentProcessId(), holder.processId);
        EXPECT_EQ(FlashActivity::kFlash, holder.activity);
        EXPECT_FALSE(holder.processEnded);
        EXPECT_FALSE(second.Held());
    }

    first.Relinquish();
    MachineFlashLock again;
    EXPECT_EQ(MachineFlashLock::Result::kAcquired,
              again.Acquire(FlashActivity::kInventory, MachineFlashLock::Wait::kForAny, 0, holder, reason));
}

// A name held by something that is no lock of ours is refused at once with
// what holds it, never waited for as if an installation ran.
TEST(MachineFlashLock, ANameNotOursIsRefusedAtOnceWithWhatHoldsIt)
{
    const std::wstring name = MachineFlashLock::Name();
    const struct {
        const char* what;
        HANDLE (*make)(const wchar_t* name);
        const char* reason;
    } cases[] = {
        {"event", [](const wchar_t* n) { return CreateEventW(nullptr, TRUE, FALSE, n); },
         "the name is held by an object that is not a section (an event, a mutex or a semaphore) (error 6)"},
        {"mutex", [](const wchar_t* n) { return CreateMutexW(nullptr, FALSE, n); },
         "the name is held by an object that is not a section (an event, a mutex or a semaphore) (error 6)"},
        {"bare section",
         [](const wchar_t* n) { return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, n); },
         "the name is held by a section that carries no lock record"},
    };
    for (const auto& c : cases) {
        UniqueHandle squatter(c.make(name.c_str()));
        ASSERT_TRUE(squatter.valid()) << c.what;
        MachineFlashLock lock;
        FlashLockHolder holder;
        std::string reason;
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(MachineFlashLock::Result::kFailed,
                  lock.Acquire(FlashActivity::kInventory, MachineFlashLock::Wait::kForAny, 600000, holder, reason))
            << c.what;
        // Far below the wait's bound: the name is not waited for.
        EXPECT_LT(GetTickCount64() - start, 60000u) << c.what;
        EXPECT_EQ(c.reason, reason) << c.what;
        EXPECT_FALSE(lock.Held());
    }
}

// Where the system has private namespaces the lock lives in one bounded by
// the Administrators group; where it has none (Wine) it keeps its public
// name, and the process never calls what Wine would end it for.
HANDLE WINAPI NoBoundary(LPCWSTR, ULONG)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
BOOL WINAPI MustNotBeCalled(HANDLE*, PSID)
{
    ADD_FAILURE() << "AddSIDToBoundaryDescriptor called without a boundary";
    return FALSE;
}
HANDLE g_fakeBoundary = reinterpret_cast<HANDLE>(0x1234);
HANDLE g_fakeNamespace = reinterpret_cast<HANDLE>(0x5678);
bool g_sidWasAdministrators = false;
HANDLE WINAPI FakeBoundary(LPCWSTR, ULONG) { return g_fakeBoundary; }
BOOL WINAPI FakeAddSid(HANDLE* boundary, PSID sid)
{
    g_sidWasAdministrators = *boundary == g_fakeBoundary && IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
    return TRUE;
}
void WINAPI FakeDelete(HANDLE) {}
HANDLE WINAPI NamespaceTaken(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)
{
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
}
HANDLE WINAPI FakeOpen(LPVOID, LPCWSTR) { return g_fakeNamespace; }

TEST(MachineFlashLock, ThePrivateNamespaceWhereTheSystemHasOne)
{
    const LockNamespaceApi saved = g_lockNamespaceApi;
    const struct {
        const char* what;
        LockNamespaceApi api;
        const wchar_t* name;
    } cases[] = {
        {"none", {NoBoundary, MustNotBeCalled, FakeDelete, NamespaceTaken, FakeOpen}, MachineFlashLock::kPublicName},
        {"made by another process first", {FakeBoundary, FakeAddSid, FakeDelete, NamespaceTaken, FakeOpen},
         L"TZR.NVMeBootController\\FirmwareWrite"},
    };
    for (const auto& c : cases) {
        g_lockNamespaceApi = c.api;
        ResetLockNameForTest();
        EXPECT_EQ(std::wstring(c.name), MachineFlashLock::Name()) << c.what;
    }
    EXPECT_TRUE(g_sidWasAdministrators);
    g_lockNamespaceApi = saved;
    ResetLockNameForTest();
    EXPECT_EQ(std::wstring(MachineFlashLock::kPublicName), MachineFlashLock::Name());
}

}  // namespace
