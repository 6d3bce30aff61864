#include "framework_module.h"

#include "module_version.h"

#include <memory>
#include <string>

HINSTANCE g_hFrameworkModule = nullptr;

namespace {

// Module file names longer than this are not a folder a file is read from.
const DWORD kModulePathCapacity = 32768;

// Before the attach handler ran (a test program linking the framework), the
// module holding this code stands in for the plug-in.
HMODULE FrameworkModule()
{
    if (g_hFrameworkModule)
        return g_hFrameworkModule;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&FrameworkModule), &self);
    return self;
}

}  // namespace

CStr FrameworkFolder()
{
    std::unique_ptr<wchar_t[]> path(new wchar_t[kModulePathCapacity]);
    const DWORD length = GetModuleFileNameW(FrameworkModule(), path.get(), kModulePathCapacity);
    if (length == 0 || length >= kModulePathCapacity)
        return CStr();
    std::wstring folder(path.get(), length);
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return CStr();
    folder.resize(slash);
    return CStr(folder.c_str());
}

CStr FrameworkFileVersion()
{
    return ModuleFileVersion(FrameworkModule());
}
