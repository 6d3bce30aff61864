// The driver APIs are reached through one loader that knows Wine's stubs.
#include "driver_api.h"
#include "driver_failure.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

namespace {

std::vector<std::string> g_notices;
void RecordNotice(void* context, const char* function)
{
    EXPECT_EQ(&g_notices, context);
    g_notices.push_back(function);
}

TEST(DriverApi, AStubbedCallIsRefusedOnWineWithOneNoticeAndNeverMade)
{
    ASSERT_TRUE(driverapi::RunningOnWine()) << "these tests run under Wine";
    g_notices.clear();
    driverapi::SetStubNotice(RecordNotice, &g_notices);
    SP_DRVINSTALL_PARAMS params{};
    params.cbSize = sizeof params;
    // Made for real, this call would end the test process.
    for (int i = 0; i < 2; ++i)
        EXPECT_LAST_ERROR(ERROR_CALL_NOT_IMPLEMENTED,
                          EXPECT_FALSE(driverapi::SetupDiGetDriverInstallParamsW(nullptr, nullptr, nullptr, &params)));
    EXPECT_EQ(std::vector<std::string>{"SetupDiGetDriverInstallParamsW"}, g_notices);
    driverapi::SetStubNotice(nullptr, nullptr);
}

TEST(DriverApi, ACallWineImplementsIsMadeForReal)
{
    EXPECT_FALSE(driverapi::IsWineStub(driverapi::kSetupDiGetClassDevsW));
    UniqueDevInfoSet set(driverapi::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    ASSERT_TRUE(set.valid());
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    EXPECT_TRUE(driverapi::SetupDiEnumDeviceInfo(set.get(), 0, &device)) << "a fresh prefix has devices";
    EXPECT_TRUE(set.reset());
    // version.dll too: a file without a version resource.
    DWORD handle = 0;
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND, EXPECT_EQ(0u, driverapi::GetFileVersionInfoSizeW(L"no-such.dll", &handle)));
}

BOOL WINAPI PretendInstallParams(HDEVINFO, PSP_DEVINFO_DATA, PSP_DRVINFO_DATA_W, PSP_DRVINSTALL_PARAMS params)
{
    params->Flags = DNF_INET_DRIVER;
    return TRUE;
}

TEST(DriverApi, ATestReplacementStandsInForTheRealCall)
{
    driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW,
                               reinterpret_cast<void*>(&PretendInstallParams));
    SP_DRVINSTALL_PARAMS params{};
    EXPECT_TRUE(driverapi::SetupDiGetDriverInstallParamsW(nullptr, nullptr, nullptr, &params));
    EXPECT_EQ(static_cast<DWORD>(DNF_INET_DRIVER), params.Flags);
    driverapi::OverrideForTest(driverapi::kSetupDiGetDriverInstallParamsW, nullptr);
    EXPECT_FALSE(driverapi::SetupDiGetDriverInstallParamsW(nullptr, nullptr, nullptr, &params));
}

// Every wrapped call, made to fail through the test seam, leaves its own
// reason; an expected end ("no more items") leaves none. The failure each
// stand-in answers is the one Windows documents for the call, known here and
// not taken from the table, so a wrong row is caught.
DWORD g_injected = ERROR_GEN_FAILURE;

// The documented failure of a call by its answer's type: a registry call
// answers its error itself (and sets no last error); a handle is null, or
// INVALID_HANDLE_VALUE for the calls that say so; a count is 0, or -1 for
// SetupGetLineCountW; anything else FALSE.
template <typename R>
R DocumentedFailure(const std::string& name)
{
    if constexpr (std::is_pointer<R>::value) {
        static const char* const invalidHandle[] = {"SetupDiGetClassDevsW", "SetupOpenInfFileW",
                                                    "SetupDiCreateDeviceInfoList", "SetupDiOpenDevRegKey",
                                                    "CreateFileW"};
        for (const char* call : invalidHandle)
            if (name == call)
                return reinterpret_cast<R>(INVALID_HANDLE_VALUE);
        return nullptr;
    } else {
        if (name.rfind("Reg", 0) == 0)
            return static_cast<R>(g_injected);
        return static_cast<R>(name == "SetupGetLineCountW" ? -1 : 0);
    }
}

template <typename Fn>
struct Seam;
template <typename R, typename... A>
struct Seam<R (*)(A...)> {
    static inline std::conditional_t<std::is_void<R>::value, int, R> s_failure{};
    static inline bool s_answersError = false;  // a registry call: the answer alone says why
    static R Fail(A...)
    {
        SetLastError(s_answersError ? 0xdeadbeef : g_injected);
        if constexpr (!std::is_void<R>::value)
            return s_failure;
    }
    // Calls through the wrapper with empty arguments: the stand-in reads none.
    template <typename Wrapper>
    static void Invoke(Wrapper wrapper)
    {
        wrapper(A{}...);
    }
};

struct WrappedCall {
    driverapi::Function function;
    const char* name;
    void* failing;  // null: the call answers nothing to fail with
    void (*invoke)();
};

#define TZR_SEAM_PREPARE(fn)                                                                      \
    [] {                                                                                         \
        using S = Seam<decltype(&::fn)>;                                                         \
        S::s_failure = DocumentedFailure<decltype(S::s_failure)>(#fn);                       \
        S::s_answersError = std::string(#fn).rfind("Reg", 0) == 0;                            \
    }()
#define TZR_WRAPPED_CALL(dll, name, failure, stub)                                               \
    WrappedCall{driverapi::k##name, #name,                                                       \
                (TZR_SEAM_PREPARE(name), reinterpret_cast<void*>(&Seam<decltype(&::name)>::Fail)), \
                [] { Seam<decltype(&::name)>::Invoke([](auto... a) { driverapi::name(a...); }); }},

TEST(DriverApi, EachWrappedCallRecordsItsOwnFailure)
{
    const WrappedCall calls[] = {TZR_DRIVER_API(TZR_WRAPPED_CALL)};
    for (const WrappedCall& call : calls) {
        if (call.function == driverapi::kSetupCloseInfFile)
            continue;  // answers nothing
        g_injected = ERROR_GEN_FAILURE;
        driverapi::OverrideForTest(call.function, call.failing);
        driverfail::Reset();
        call.invoke();
        EXPECT_EQ(L"    - " + tzrtest::Widen(call.name) + L" failed: error 0x0000001F (" + driverfail::ErrorText(ERROR_GEN_FAILURE) +
                      L")\r\n",
                  driverfail::Line())
            << call.name;
        // A caller's own words replace the call's.
        driverfail::Refused(L"the caller's reason");
        EXPECT_EQ(L"    - the caller's reason\r\n", driverfail::Line()) << call.name;
        driverapi::OverrideForTest(call.function, nullptr);
    }
    g_injected = ERROR_NO_MORE_ITEMS;
    const WrappedCall& enumeration = *std::find_if(std::begin(calls), std::end(calls), [](const WrappedCall& c) {
        return c.function == driverapi::kSetupDiEnumDeviceInfo;
    });
    driverapi::OverrideForTest(driverapi::kSetupDiEnumDeviceInfo, enumeration.failing);
    driverfail::Reset();
    enumeration.invoke();
    EXPECT_FALSE(driverfail::Held()) << "the end of an enumeration is no failure";
    driverapi::OverrideForTest(driverapi::kSetupDiEnumDeviceInfo, nullptr);
    g_injected = ERROR_GEN_FAILURE;
    driverfail::Reset();
}

}  // namespace
