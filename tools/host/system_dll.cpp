#include "system_dll.h"

#include "win_handle.h"

namespace {

// The DLL stays loaded for the process's life, as a static import would.
template <typename F>
F SystemFunction(const wchar_t* dll, const char* name)
{
    static_assert(sizeof(F) == sizeof(void*), "a function pointer");
    HMODULE module = GetModuleHandleW(dll);
    if (!module)
        module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

typedef LPWSTR*(WINAPI* SplitFn)(LPCWSTR, int*);
typedef HRESULT(WINAPI* EnterFn)(LPVOID, DWORD);
typedef void(WINAPI* LeaveFn)();

}  // namespace

wchar_t** SplitCommandLine(const wchar_t* commandLine, int* argc)
{
    const SplitFn split = SystemFunction<SplitFn>(L"shell32.dll", "CommandLineToArgvW");
    return split ? split(commandLine, argc) : nullptr;
}

HRESULT HostApartment::Enter(DWORD model)
{
    const EnterFn enter = SystemFunction<EnterFn>(L"ole32.dll", "CoInitializeEx");
    if (!enter)
        return HRESULT_FROM_WIN32(GetLastError());
    const HRESULT hr = enter(nullptr, model);
    m_entered = SUCCEEDED(hr);
    return hr;
}

HostApartment::~HostApartment()
{
    if (!m_entered)
        return;
    LastErrorKeeper keep;
    if (const LeaveFn leave = SystemFunction<LeaveFn>(L"ole32.dll", "CoUninitialize"))
        leave();
}
