// The flash product's plug-in: its component is a FlashComponent, whose
// engine state is reset at process detach and which answers two properties
// itself. The entry point and the exports are plugin_core.cpp's.
#include "flash_component.h"
#include "flash_engine.h"
#include "plugin_core.h"

#include <cstring>

FlashComponent* g_pFlashComponent = nullptr;

CBaseComponent* CreatePluginComponent(HINSTANCE module)
{
    g_pFlashComponent = new FlashComponent(module);
    return g_pFlashComponent;
}

void ResetPluginState()
{
    resetEngineState();
}

// The flash product answers the install state and the current version from
// its engine, over the base answers.
int AnswerProperty(CBaseComponent&, unsigned id, void* buffer, unsigned size, const wchar_t* language)
{
    try {
        if (!g_pFlashComponent || !buffer)
            return 0;
        const int result = g_pFlashComponent->GetProperty(id, buffer, size, language);
        if (id == TZRPROP_INSTALLSTATE) {
            // A record below the minimum still receives the state code, but
            // never beyond the size the host gave.
            std::wstring reason;
            InstallStateRecord record(buffer, size);
            record.SetState(g_pFlashComponent->CheckInstallationState(&reason));
            if (!reason.empty())
                record.SetMessage(reason.c_str());
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
