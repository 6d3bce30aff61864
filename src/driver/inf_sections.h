// The section names of one INF, in the order the file gives them, read whole
// from the same parse that installs it. The INF model and the Plug and Play
// staging both take their section lists from here.
#pragma once

#include "CStr.h"

#include <windows.h>
#include <setupapi.h>

#include <vector>

// SetupAPI's own enumeration over the open INF; where the system lacks it,
// the profile API over the file at path. Linear in the size of the list.
// A name the profile API hands back cut at its buffer's end is dropped: it
// could match a section the file does not have.
// whole, when given, says whether the enumeration ran to its end; one that
// stopped on an error records that error as the reason.
std::vector<CStr> InfSectionNames(HINF inf, const wchar_t* path, bool* whole = nullptr);
