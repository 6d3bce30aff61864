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
// The "ProductVersion" text of the module's version resource (its first
// string table), as the build wrote it ("1.1.0", "1.1.0-dev+g51ef65d");
// empty when it has none.
CStr ModuleProductVersionText(HMODULE module);
