// The file version a module carries in its own version resource, read from
// the loaded image: no version.dll, so it is safe while the loader runs the
// plug-in's attach handler.
#pragma once

#include "CStr.h"

#include <windows.h>

// "major.minor.build.revision" of the fixed file version's four 16-bit parts.
CStr FileVersionText(DWORD versionMS, DWORD versionLS);
// The module's fixed file version as FileVersionText; empty when the module
// has no version resource or it is malformed.
CStr ModuleFileVersion(HMODULE module);
