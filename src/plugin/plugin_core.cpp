#include "plugin_core.h"

#include "exports.h"
#include "framework_module.h"
#include "process_log.h"

CBaseComponent* g_pComponent = nullptr;

namespace {

void OnProcessAttach(HINSTANCE module)
{
    g_hFrameworkModule = module;
    g_pComponent = CreatePluginComponent(module);
    // A component whose package files are missing still answers queries.
    g_pComponent->Initialize();
    LogSetComponentLog(g_pComponent->m_pLog);
}

void OnProcessDetach()
{
    ResetPluginState();
    if (g_pComponent) {
        LogSetComponentLog(nullptr);
        delete g_pComponent;
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
        if (!g_pComponent || !buffer)
            return 0;
        return AnswerProperty(*g_pComponent, id, buffer, size, language);
    } catch (...) {
        return 0;
    }
}

extern "C" unsigned WINAPI Install(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                   const wchar_t* language)
{
    try {
        if (!g_pComponent)
            return 0;
        g_pComponent->FinishInterruptedInstallations();
        return g_pComponent->Installation(first, second, message, fourth, language);
    } catch (...) {
        return 0;
    }
}
