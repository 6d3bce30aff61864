// The library's entry point and its three exports. One component lives from
// process attach to process detach; no exception leaves this file.
#include "exports.h"
#include "file_version.h"
#include "flash_component.h"
#include "flash_engine.h"
#include "process_log.h"

#include <cstring>

FlashComponent* g_pFlashComponent = nullptr;

namespace {

void OnProcessAttach(HINSTANCE module)
{
    g_hFrameworkModule = module;
    g_pFlashComponent = new FlashComponent(module);
    // A component whose package files are missing still answers queries.
    g_pFlashComponent->Initialize();
    LogSetComponentLog(g_pFlashComponent->m_pLog);
}

void OnProcessDetach()
{
    resetEngineState();
    if (g_pFlashComponent) {
        LogSetComponentLog(nullptr);
        delete g_pFlashComponent;
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    try {
        if (reason == DLL_PROCESS_ATTACH)
            OnProcessAttach(module);
        else if (reason == DLL_PROCESS_DETACH)
            OnProcessDetach();
    } catch (...) {
        // The loader learns nothing; the exports answer failure without a component.
    }
    return TRUE;
}

extern "C" int WINAPI GetInterfaceVersion(unsigned* version)
{
    if (!version)
        return 0;
    *version = kTzrInterfaceVersion;
    return 1;
}

extern "C" int WINAPI GetProperty(unsigned id, void* buffer, unsigned size, const wchar_t* language)
{
    try {
        if (!g_pFlashComponent || !buffer)
            return 0;
        const int result = g_pFlashComponent->GetProperty(id, buffer, size, language);
        if (id == TZRPROP_INSTALLSTATE) {
            // A record below the minimum still receives the state code, but
            // never beyond the size the host gave.
            InstallStateRecord(buffer, size).SetState(g_pFlashComponent->CheckInstallationState());
            return result ? 1 : 0;
        }
        if (id == TZRPROP_VERSIONCURRENT) {
            // The version text reaches the host at byte offset 4.
            if (size < 2)
                return 0;
            wchar_t* shifted = static_cast<wchar_t*>(buffer) + 2;
            return g_pFlashComponent->GetCurrentVersion(shifted, size - 2) ? 1 : 0;
        }
        return result ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" unsigned WINAPI Install(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                   const wchar_t* language)
{
    try {
        if (!g_pFlashComponent)
            return 0;
        return g_pFlashComponent->Installation(first, second, message, fourth, language);
    } catch (...) {
        return 0;
    }
}
