#include "version_compare.h"

#include <algorithm>

// Byte by byte as unsigned values over the common length; a prefix is the
// smaller. No numeric reading of the parts, so 1.10 sorts before 1.9.
int compareVersion(const std::string& fwVersion, const std::string& packageVersion)
{
    const size_t common = std::min(fwVersion.size(), packageVersion.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char a = static_cast<unsigned char>(fwVersion[i]);
        const unsigned char b = static_cast<unsigned char>(packageVersion[i]);
        if (a != b)
            return a < b ? kUpdateUpgrade : kUpdateDowngrade;
    }
    if (fwVersion.size() == packageVersion.size())
        return kUpdateRewrite;
    return fwVersion.size() < packageVersion.size() ? kUpdateUpgrade : kUpdateDowngrade;
}
