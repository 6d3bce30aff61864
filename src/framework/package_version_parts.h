// The package version ("2.10", "5.2.3790.0") as the two 32-bit numbers of a
// fixed file version, so it compares with an installed file's version
// resource. Standard C++ only: no Windows types, so it is tested natively.
#pragma once

#include "text_util.h"

#include <cstdint>

struct PackageVersionParts {
    uint32_t high = 0;  // major in the high 16 bits, minor in the low 16
    uint32_t low = 0;   // build in the high 16 bits, revision in the low 16
};

// Splits the text at "." and reads up to four parts, each as the C runtime's
// atoi reads it (a part that is not a number reads 0, one past the range of
// int is held at its limit, never overflowing) and then taken as 16 bits, as
// a WORD field of a version resource would store it. Missing parts count 0;
// parts after the fourth are not read. A null text reads 0.0.0.0.
template <typename C>
PackageVersionParts SplitPackageVersion(const C* text)
{
    uint16_t part[4] = {0, 0, 0, 0};
    for (int i = 0; text && i < 4; ++i) {
        part[i] = static_cast<uint16_t>(static_cast<uint32_t>(ReadDecimalInt(text)));
        while (*text && *text != C('.'))
            ++text;
        if (*text != C('.'))
            break;
        ++text;
    }
    PackageVersionParts parts;
    parts.high = (static_cast<uint32_t>(part[0]) << 16) | part[1];
    parts.low = (static_cast<uint32_t>(part[2]) << 16) | part[3];
    return parts;
}
