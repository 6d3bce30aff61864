// A plug-in that misbehaves on request, for what the host must survive, and
// a DLL that reports being loaded, for what the host must never load.
//   TZR_TEST_PLUGIN=crash   every GetProperty writes through a null pointer
//   TZR_TEST_PLUGIN=stdout  every GetProperty writes to standard output (the
//                           C runtime's and the handle) and answers nothing
//   TZR_TEST_DLL_MARKER=FILE  loading appends this module's path to FILE
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

bool Mode(const char* mode)
{
    char value[32] = "";
    const DWORD n = GetEnvironmentVariableA("TZR_TEST_PLUGIN", value, sizeof value);
    return n > 0 && n < sizeof value && strcmp(value, mode) == 0;
}

void MarkLoaded(HINSTANCE module)
{
    char marker[MAX_PATH] = "";
    const DWORD n = GetEnvironmentVariableA("TZR_TEST_DLL_MARKER", marker, sizeof marker);
    if (n == 0 || n >= sizeof marker)
        return;
    char self[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(module, self, sizeof self);
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, self, length, &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        MarkLoaded(module);
    return TRUE;
}

extern "C" __declspec(dllexport) int WINAPI GetInterfaceVersion(unsigned* version)
{
    *version = 100;
    return 1;
}

extern "C" __declspec(dllexport) int WINAPI GetProperty(unsigned, void*, unsigned, const wchar_t*)
{
    if (Mode("crash")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
    if (Mode("stdout")) {
        printf("plug-in noise through the C runtime\n");
        fflush(stdout);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "plug-in noise through the handle\r\n", 34, &written, nullptr);
    }
    return 0;
}

extern "C" __declspec(dllexport) unsigned WINAPI Install(unsigned, ULONG_PTR, wchar_t*, int, const wchar_t*)
{
    return 0;
}
