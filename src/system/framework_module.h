// The plug-in's own module and its folder: process-wide facts that the
// plug-in records at attach and the layers below it read.
#pragma once

#include "CStr.h"

#include <windows.h>

// The plug-in's own module, recorded at process attach. Paths without a
// drive letter are read from its folder.
extern HINSTANCE g_hFrameworkModule;

// The folder of the plug-in's module file, without a trailing backslash;
// empty when it cannot be found.
CStr FrameworkFolder();

// The plug-in's own file version from its version resource ("1.0.0.0");
// empty when it has none.
CStr FrameworkFileVersion();
