// Fixed sizes and the one system call seam of the install-state checks.
#pragma once

#include <windows.h>

// Characters of each of the two message buffers GetInstallState hands to the
// product's prerequisite check and to the dependency check.
const unsigned kCheckMessageChars = 4096;

// Characters of the service name the state checks read from an INF,
// terminator included.
const unsigned kCheckedServiceChars = MAX_PATH;
// Characters of the package version that is compared, terminator included.
const unsigned kPackageVersionChars = 256;

// The dependency file, read from the current directory.
extern const wchar_t kDependencyFileName[];
// The dependency check's message, the same in every language.
extern const wchar_t kModelNotSupported[];
