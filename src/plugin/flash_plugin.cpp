// The flash product's plug-in: its component is a FlashComponent, whose
// engine state is reset at process detach and which answers two properties
// itself. The entry point and the exports are plugin_core.cpp's.
#include "controller_outcomes.h"
#include "flash_component.h"
#include "flash_engine.h"
#include "plugin_core.h"

#include <cstring>
#include <cwchar>
#include <string>

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

namespace {

// Property 9: what this run did to each controller, written whole or not at
// all (size in characters).
int AnswerControllerOutcomes(wchar_t* buffer, unsigned size)
{
    const std::wstring text = controllerOutcomeText();
    if (text.size() >= size)
        return 0;
    wmemcpy(buffer, text.c_str(), text.size() + 1);
    return 1;
}

}  // namespace

// The flash product answers the install state and the current version from
// its engine, over the base answers.
int AnswerProperty(CBaseComponent&, unsigned id, void* buffer, unsigned size, const wchar_t* language)
{
    try {
        if (!g_pFlashComponent || !buffer)
            return 0;
        if (id == kControllerOutcomesProperty)
            return AnswerControllerOutcomes(static_cast<wchar_t*>(buffer), size);
        if (id == TZRPROP_INSTALLSTATE) {
            // The engine checks first, so the framework's check lines in the
            // component logs are answered from what it found.
            std::wstring reason;
            const unsigned state = g_pFlashComponent->CheckInstallationState(&reason);
            const int result = g_pFlashComponent->GetProperty(id, buffer, size, language);
            // A record below the minimum still receives the state code, but
            // never beyond the size the host gave.
            InstallStateRecord record(buffer, size);
            record.SetState(state);
            if (!reason.empty())
                record.SetMessage(reason.c_str());
            return result ? 1 : 0;
        }
        const int result = g_pFlashComponent->GetProperty(id, buffer, size, language);
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
