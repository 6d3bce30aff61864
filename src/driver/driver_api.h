// The one place that knows how the framework reaches the driver APIs.
//
// setupapi, newdev and version are loaded on first use, from the system
// folder only, so a product that never touches drivers (the flash component)
// pays nothing for them at load. The other system calls a test replaces (the
// install journal's file, registry and service calls among them) go through
// here too, and so does the one check of the product's own that a test must
// answer for a stand-in newdev (whether a device runs the package's driver):
// a test has this one way to replace a call. Each function is called through
// a wrapper of the same name in namespace driverapi; a function that cannot be
// found answers its failure value with ERROR_PROC_NOT_FOUND.
//
// A row's failure value is what the function answers when it fails, and the
// thread's last error says why; a registry row's is kNotSuccess instead: the
// call answers its error itself (any result but ERROR_SUCCESS) and sets no
// last error.
//
// Wine implements some of these as stubs that raise an exception nothing can
// continue from. On Wine (ntdll exports wine_get_version) those answer their
// failure value with ERROR_CALL_NOT_IMPLEMENTED instead of being called, and
// the notice hook hears of it once per function; on Windows the real call is
// made.
#pragma once

#include "win_handle.h"

#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <winver.h>

#include <type_traits>
#include <utility>

// X(dll, function, failure value, stubbed on Wine)
// Keep the entries grouped by their user; the order is free.
#define TZR_DRIVER_API(X)                                                             \
    /* device list */                                                                \
    X(kSetupApi, SetupDiGetClassDevsW, INVALID_HANDLE_VALUE, false)                   \
    X(kSetupApi, SetupDiEnumDeviceInfo, FALSE, false)                                 \
    X(kSetupApi, SetupDiDestroyDeviceInfoList, FALSE, false)                          \
    X(kSetupApi, SetupDiGetDeviceRegistryPropertyW, FALSE, false)                     \
    X(kSetupApi, SetupDiGetDeviceInstallParamsW, FALSE, false)                        \
    X(kSetupApi, SetupDiSetDeviceInstallParamsW, FALSE, false)                        \
    X(kSetupApi, SetupDiBuildDriverInfoList, FALSE, false)                            \
    X(kSetupApi, SetupDiEnumDriverInfoW, FALSE, false)                                \
    X(kSetupApi, SetupDiDestroyDriverInfoList, FALSE, false)                          \
    X(kSetupApi, SetupDiGetDriverInfoDetailW, FALSE, false)                           \
    X(kSetupApi, SetupDiGetDriverInstallParamsW, FALSE, true)                         \
    X(kSetupApi, SetupDiSetDriverInstallParamsW, FALSE, true)                         \
    /* INF files */                                                                  \
    X(kSetupApi, SetupOpenInfFileW, INVALID_HANDLE_VALUE, false)                      \
    X(kSetupApi, SetupCloseInfFile, 0, false)                                         \
    X(kSetupApi, SetupFindFirstLineW, FALSE, false)                                   \
    X(kSetupApi, SetupFindNextLine, FALSE, false)                                     \
    X(kSetupApi, SetupFindNextMatchLineW, FALSE, false)                               \
    X(kSetupApi, SetupGetLineTextW, FALSE, false)                                     \
    X(kSetupApi, SetupGetStringFieldW, FALSE, false)                                  \
    X(kSetupApi, SetupGetFieldCount, 0, false)                                        \
    X(kSetupApi, SetupGetIntField, FALSE, false)                                      \
    X(kSetupApi, SetupGetLineCountW, -1, false)                                       \
    X(kSetupApi, SetupEnumInfSectionsW, FALSE, false)                                 \
    X(kSetupApi, SetupOpenAppendInfFileW, FALSE, false)                               \
    X(kSetupApi, SetupInstallFromInfSectionW, FALSE, false)                           \
    X(kSetupApi, SetupInstallServicesFromInfSectionW, FALSE, false)                   \
    /* device nodes and driver installation */                                       \
    X(kSetupApi, SetupDiSetSelectedDriverW, FALSE, true)                              \
    X(kSetupApi, SetupDiChangeState, FALSE, true)                                     \
    X(kSetupApi, SetupDiGetClassInstallParamsW, FALSE, true)                          \
    X(kSetupApi, SetupDiDeleteDevRegKey, FALSE, true)                                 \
    X(kSetupApi, SetupInstallServicesFromInfSectionExW, FALSE, true)                  \
    X(kNewDev, UpdateDriverForPlugAndPlayDevicesW, FALSE, false)                      \
    X(kNewDev, DiInstallDevice, FALSE, true)                                          \
    X(kNewDev, DiUninstallDevice, FALSE, true)                                        \
    X(kNewDev, DiRollbackDriver, FALSE, true)                                         \
    X(kSetupApi, SetupDiClassGuidsFromNameW, FALSE, false)                            \
    X(kSetupApi, SetupDiCreateDeviceInfoList, INVALID_HANDLE_VALUE, false)            \
    X(kSetupApi, SetupDiCreateDeviceInfoW, FALSE, false)                              \
    X(kSetupApi, SetupDiRegisterDeviceInfo, FALSE, false)                             \
    X(kSetupApi, SetupDiCallClassInstaller, FALSE, false)                             \
    X(kSetupApi, SetupDiRemoveDevice, FALSE, false)                                   \
    X(kSetupApi, SetupUninstallOEMInfW, FALSE, false)                                 \
    X(kSetupApi, SetupDiOpenDeviceInfoW, FALSE, false)                                \
    /* what a device runs after an installation */                                  \
    X(kSetupApi, SetupDiGetDeviceInstanceIdW, FALSE, false)                           \
    X(kSetupApi, SetupDiOpenDevRegKey, INVALID_HANDLE_VALUE, false)                   \
    /* file versions */                                                              \
    X(kVersion, GetFileVersionInfoSizeW, 0, false)                                    \
    X(kVersion, GetFileVersionInfoW, FALSE, false)                                    \
    X(kVersion, VerQueryValueW, FALSE, false)                                         \
    /* services, registry, files and disk space: here so that tests may replace them */ \
    X(kAdvApi, OpenSCManagerW, nullptr, false)                                        \
    X(kAdvApi, OpenServiceW, nullptr, false)                                          \
    X(kAdvApi, DeleteService, FALSE, false)                                           \
    X(kAdvApi, RegOpenKeyExW, kNotSuccess, false)                                     \
    X(kAdvApi, RegCreateKeyExW, kNotSuccess, false)                                   \
    X(kAdvApi, RegQueryValueExW, kNotSuccess, false)                                  \
    X(kAdvApi, RegSetValueExW, kNotSuccess, false)                                    \
    X(kAdvApi, RegDeleteValueW, kNotSuccess, false)                                   \
    X(kAdvApi, RegDeleteTreeW, kNotSuccess, false)                                    \
    X(kKernel, GetDiskFreeSpaceExW, FALSE, false)                                     \
    X(kKernel, CreateFileW, INVALID_HANDLE_VALUE, false)                              \
    X(kKernel, WriteFile, FALSE, false)                                               \
    X(kKernel, DeleteFileW, FALSE, false)                                             \
    X(kKernel, MoveFileExW, FALSE, false)                                             \
    /* the product's own: whether the devices of an id run the staged INF */          \
    X(kProduct, TzrRunsPackageDriver, FALSE, false)

// Whether every device reporting hardwareId runs the driver of stagedInf (as
// copied to the system's INF folder); FALSE with the reason naming the first
// that does not. In the table so that a test of a stand-in newdev, which
// binds nothing, answers it too.
BOOL WINAPI TzrRunsPackageDriver(const wchar_t* hardwareId, const wchar_t* stagedInf);

namespace driverapi {

// kProduct: a function of the product itself, reached at its own address.
enum Library { kSetupApi, kNewDev, kVersion, kAdvApi, kKernel, kProduct, kLibraryCount };

// The failure value of a call that answers its error as its result.
struct NotSuccess {};
constexpr NotSuccess kNotSuccess{};

enum Function {
#define TZR_DRIVER_API_ENUM(dll, name, failure, stub) k##name,
    TZR_DRIVER_API(TZR_DRIVER_API_ENUM)
#undef TZR_DRIVER_API_ENUM
    kFunctionCount
};

// True when the process runs on Wine; looked up once.
bool RunningOnWine();

// The function's name as exported, for log lines.
const char* FunctionName(Function f);

// Whether the function is one that Wine only stubs (and that ends the
// process there).
bool IsWineStub(Function f);

// The function's address, or null when it cannot be loaded or must not be
// called here (a Wine stub on Wine). Sets the last error when null.
void* Resolve(Function f);

// Called once per function that was refused because Wine only stubs it.
using StubNotice = void (*)(void* context, const char* function);
void SetStubNotice(StubNotice notice, void* context);

// Tests only: replaces a function by one of the test's own (null restores
// the real one as at start, its notice not yet given), so logic around a
// call Wine cannot make is still tested.
void OverrideForTest(Function f, void* replacement);

// Whether an error a call failed with is one of its expected ends ("no
// more items", "no such line", a size query's "buffer too small", ...),
// which answer a question rather than report a failure.
bool IsExpectedEnd(Function f, DWORD error);

// Records a failed call as the reason (its name, the thread's last error)
// unless the error is an expected end; the last error is kept. The reason
// is provisional: a caller that says more in its own words replaces it, so
// a call path that says nothing still leaves the call's own reason.
void NoteFailure(Function f);
// The same for a call that answered its error.
void NoteFailureOf(Function f, DWORD error);

#define TZR_DRIVER_API_WRAPPER(dll, name, failure, stub)                                  \
    template <typename... Args>                                                           \
    inline auto name(Args&&... args)                                                      \
    {                                                                                     \
        using Fn = decltype(&::name);                                                     \
        using R = decltype(std::declval<Fn>()(std::forward<Args>(args)...));              \
        constexpr bool answersError = std::is_same<std::decay_t<decltype(failure)>, NotSuccess>::value; \
        Fn fn = reinterpret_cast<Fn>(Resolve(k##name));                                   \
        if constexpr (answersError) {                                                     \
            /* Resolve set why the call cannot be made. */                                \
            const R status = fn ? fn(std::forward<Args>(args)...) : static_cast<R>(GetLastError()); \
            if (status != ERROR_SUCCESS)                                                  \
                NoteFailureOf(k##name, static_cast<DWORD>(status));                       \
            return status;                                                                \
        } else {                                                                          \
            if (!fn) {                                                                    \
                NoteFailure(k##name);                                                     \
                return static_cast<R>(failure);                                           \
            }                                                                             \
            if constexpr (std::is_void<R>::value) {                                       \
                return fn(std::forward<Args>(args)...);                                   \
            } else {                                                                      \
                /* A count of 0 may be an answer: only a set error is a failure. */       \
                SetLastError(ERROR_SUCCESS);                                              \
                const R result = fn(std::forward<Args>(args)...);                         \
                if (result == static_cast<R>(failure))                                    \
                    NoteFailure(k##name);                                                 \
                return result;                                                            \
            }                                                                             \
        }                                                                                 \
    }
TZR_DRIVER_API(TZR_DRIVER_API_WRAPPER)
#undef TZR_DRIVER_API_WRAPPER

}  // namespace driverapi

// Holders for the two SetupAPI handle kinds, given back through the loader.
struct DevInfoSetTraits {
    using handle_type = HDEVINFO;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(handle_type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(handle_type h) { return driverapi::SetupDiDestroyDeviceInfoList(h) != FALSE; }
};
using UniqueDevInfoSet = UniqueResource<DevInfoSetTraits>;

struct InfHandleTraits {
    using handle_type = HINF;
    using keeper = LastErrorKeeper;
    static handle_type invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(handle_type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(handle_type h)
    {
        driverapi::SetupCloseInfFile(h);
        return true;
    }
};
using UniqueInf = UniqueResource<InfHandleTraits>;
