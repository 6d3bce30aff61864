#include "driver_api.h"

#include "driver_failure.h"

#include <cstring>
#include <cwchar>

namespace driverapi {
namespace {

const wchar_t* const kLibraryFile[kLibraryCount] = {L"setupapi.dll", L"newdev.dll",   L"version.dll",
                                                     L"advapi32.dll", L"kernel32.dll", L""};

struct Entry {
    Library library;
    const char* name;
    bool wineStub;
};

const Entry kEntries[kFunctionCount] = {
#define TZR_DRIVER_API_ENTRY(dll, name, failure, stub) {dll, #name, stub},
    TZR_DRIVER_API(TZR_DRIVER_API_ENTRY)
#undef TZR_DRIVER_API_ENTRY
};

// The product's own rows, which no library exports.
void* OwnAddress(Function f)
{
    switch (f) {
    case kTzrRunsPackageDriver: return reinterpret_cast<void*>(&::TzrRunsPackageDriver);
    default: return nullptr;
    }
}

// Process-wide and touched only from the host's one calling thread. The
// libraries stay loaded until the process ends: freeing them from the
// plug-in's detach would run their own detach under the loader lock.
HMODULE g_hLibrary[kLibraryCount] = {};
bool g_bLibraryTried[kLibraryCount] = {};
void* g_pResolved[kFunctionCount] = {};
bool g_bResolvedTried[kFunctionCount] = {};
void* g_pOverride[kFunctionCount] = {};
bool g_bNoticeGiven[kFunctionCount] = {};
StubNotice g_pfnNotice = nullptr;
void* g_pNoticeContext = nullptr;

HMODULE LoadFromSystemFolder(Library library)
{
    if (library == kProduct)
        return nullptr;
    if (!g_bLibraryTried[library]) {
        g_bLibraryTried[library] = true;
        wchar_t path[MAX_PATH];
        const UINT n = GetSystemDirectoryW(path, MAX_PATH);
        const size_t nameLength = wcslen(kLibraryFile[library]);
        // A full path, so no other folder of the search order is asked.
        if (n > 0 && n + 1 + nameLength < MAX_PATH) {
            path[n] = L'\\';
            wmemcpy(path + n + 1, kLibraryFile[library], nameLength + 1);
            g_hLibrary[library] = LoadLibraryW(path);
        }
    }
    return g_hLibrary[library];
}

}  // namespace

bool RunningOnWine()
{
    static const bool s_bWine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return s_bWine;
}

const char* FunctionName(Function f)
{
    return f >= 0 && f < kFunctionCount ? kEntries[f].name : "";
}

bool IsWineStub(Function f)
{
    return f >= 0 && f < kFunctionCount && kEntries[f].wineStub;
}

void* Resolve(Function f)
{
    if (f < 0 || f >= kFunctionCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (g_pOverride[f])
        return g_pOverride[f];
    if (kEntries[f].wineStub && RunningOnWine()) {
        if (!g_bNoticeGiven[f]) {
            g_bNoticeGiven[f] = true;
            if (g_pfnNotice)
                g_pfnNotice(g_pNoticeContext, kEntries[f].name);
        }
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    if (!g_bResolvedTried[f]) {
        g_bResolvedTried[f] = true;
        g_pResolved[f] = OwnAddress(f);
        const HMODULE library = g_pResolved[f] ? nullptr : LoadFromSystemFolder(kEntries[f].library);
        if (library)
            g_pResolved[f] = reinterpret_cast<void*>(GetProcAddress(library, kEntries[f].name));
    }
    if (!g_pResolved[f])
        SetLastError(ERROR_PROC_NOT_FOUND);
    return g_pResolved[f];
}

bool IsExpectedEnd(Function f, DWORD error)
{
    // A size query's answer, for every call that takes a buffer.
    if (error == ERROR_INSUFFICIENT_BUFFER)
        return true;
    switch (f) {
    case kSetupDiEnumDeviceInfo:
    case kSetupDiEnumDriverInfoW:
    case kSetupEnumInfSectionsW:
        return error == ERROR_NO_MORE_ITEMS;
    case kSetupFindFirstLineW:
    case kSetupFindNextLine:
    case kSetupFindNextMatchLineW:
    case kSetupGetLineTextW:
    case kSetupGetLineCountW:
        return error == ERROR_LINE_NOT_FOUND || error == ERROR_SECTION_NOT_FOUND;
    case kSetupGetIntField:
    case kSetupDiGetDeviceRegistryPropertyW:
        return error == ERROR_INVALID_DATA;  // not a number; a property the device has not
    case kSetupDiOpenDevRegKey:
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_KEY_DOES_NOT_EXIST;  // no driver key
    case kGetFileVersionInfoSizeW:
        return error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND;
    // What an undo or a record of the state before asks: whether a key,
    // value, file or service is there at all.
    case kRegOpenKeyExW:
    case kRegQueryValueExW:
    case kRegDeleteValueW:
    case kRegDeleteTreeW:
    case kDeleteFileW:
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_MORE_DATA;
    case kOpenServiceW:
        return error == ERROR_SERVICE_DOES_NOT_EXIST;
    case kSetupDiOpenDeviceInfoW:
        return error == ERROR_NO_SUCH_DEVINST;
    default:
        return false;
    }
}

void NoteFailureOf(Function f, DWORD error)
{
    if (error == ERROR_SUCCESS || IsExpectedEnd(f, error))
        return;
    const char* name = FunctionName(f);
    driverfail::Provisional(std::wstring(name, name + strlen(name)), error);
}

void NoteFailure(Function f)
{
    const DWORD error = GetLastError();
    NoteFailureOf(f, error);
    SetLastError(error);
}

void SetStubNotice(StubNotice notice, void* context)
{
    g_pfnNotice = notice;
    g_pNoticeContext = context;
}

void OverrideForTest(Function f, void* replacement)
{
    if (f >= 0 && f < kFunctionCount) {
        g_pOverride[f] = replacement;
        if (!replacement)
            g_bNoticeGiven[f] = false;
    }
}

}  // namespace driverapi
