// The framework's own plug-in: a base component with nothing replaced, so a
// driver package installs through the framework's defaults alone. It ships
// as framework_setup.dll; a driver package folder holds it as setup.dll.
#include "plugin_core.h"

CBaseComponent* CreatePluginComponent(HINSTANCE)
{
    return new CBaseComponent();
}

void ResetPluginState()
{
}

int AnswerProperty(CBaseComponent& component, unsigned id, void* buffer, unsigned size, const wchar_t* language)
{
    return component.GetProperty(id, buffer, size, language) ? 1 : 0;
}
