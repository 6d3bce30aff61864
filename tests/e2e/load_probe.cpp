// A host that says which driver libraries are in its process: after loading
// PACKAGE_FOLDER\setup.dll (the folder as current directory), then after
// each property it asks. The plug-in attaches under the loader lock, where
// loading a library may deadlock the host.
//   load_probe.exe PACKAGE_FOLDER [PROPERTY_ID...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void Report(const char* when)
{
    std::printf("%s: setupapi %d newdev %d\n", when, GetModuleHandleW(L"setupapi.dll") != nullptr,
                GetModuleHandleW(L"newdev.dll") != nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || !SetCurrentDirectoryW(argv[1]))
        return 2;
    const HMODULE plugin = LoadLibraryW((std::wstring(argv[1]) + L"\\setup.dll").c_str());
    if (!plugin)
        return 3;
    using GetPropertyFunction = int(WINAPI*)(unsigned, void*, unsigned, const wchar_t*);
    const auto getProperty =
        reinterpret_cast<GetPropertyFunction>(reinterpret_cast<void*>(GetProcAddress(plugin, "GetProperty")));
    if (!getProperty)
        return 3;
    Report("load");
    for (int i = 2; i < argc; ++i) {
        // Room for any property: 4096 characters, or bytes for the state.
        std::vector<wchar_t> buffer(4096);
        getProperty(static_cast<unsigned>(_wtoi(argv[i])), buffer.data(), 4096, L"en");
        Report(("property " + std::to_string(_wtoi(argv[i]))).c_str());
    }
    return 0;
}
