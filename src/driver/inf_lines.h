// The one-line lookup the INF's readers and installers share.
#pragma once

#include "driver_api.h"

#include <windows.h>
#include <setupapi.h>

// Whether section has a line with key (null: any line); context names it.
inline bool FindLine(HINF inf, const wchar_t* section, const wchar_t* key, INFCONTEXT* context)
{
    return section && driverapi::SetupFindFirstLineW(inf, section, key, context) != FALSE;
}
