// The shape every plug-in of the framework shares: one component from
// process attach to process detach, and the three exports forwarding to it.
// No exception leaves the exports or the entry point.
//
// Each plug-in library defines the three hooks below once; the entry point
// and the exports live in plugin_core.cpp.
#pragma once

#include "base_component.h"

#include <windows.h>

// The plug-in's one component, or null before attach.
extern CBaseComponent* g_pComponent;

// Makes the plug-in's component at process attach.
CBaseComponent* CreatePluginComponent(HINSTANCE module);
// Resets the plug-in's own process-wide state at process detach, before the
// component is deleted.
void ResetPluginState();
// Answers a property query on the component (never null); 1 or 0.
int AnswerProperty(CBaseComponent& component, unsigned id, void* buffer, unsigned size, const wchar_t* language);
