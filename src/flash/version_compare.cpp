#include "version_compare.h"

namespace {

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Compares the digit runs a[i..) and b[j..) by numeric value, leading zeros
// ignored, and moves both indices past their runs. Works on the text, so a
// run of any length compares without overflow.
int CompareDigitRuns(const std::string& a, size_t& i, const std::string& b, size_t& j)
{
    while (i < a.size() && a[i] == '0' && i + 1 < a.size() && IsDigit(a[i + 1]))
        ++i;
    while (j < b.size() && b[j] == '0' && j + 1 < b.size() && IsDigit(b[j + 1]))
        ++j;
    size_t ea = i, eb = j;
    while (ea < a.size() && IsDigit(a[ea]))
        ++ea;
    while (eb < b.size() && IsDigit(b[eb]))
        ++eb;
    int result = 0;
    if (ea - i != eb - j) {
        result = (ea - i) < (eb - j) ? -1 : 1;
    } else {
        for (size_t k = 0; k < ea - i; ++k) {
            if (a[i + k] != b[j + k]) {
                result = a[i + k] < b[j + k] ? -1 : 1;
                break;
            }
        }
    }
    i = ea;
    j = eb;
    return result;
}

}  // namespace

int compareVersionText(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[j]);
        if (IsDigit(ca) && IsDigit(cb)) {
            const int r = CompareDigitRuns(a, i, b, j);
            if (r != 0)
                return r;
            continue;
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

// Natural order: digit runs by value, everything else byte by byte, a prefix
// is the smaller. So 1.10 is newer than 1.9, and 1.0.14 newer than 1.0.2.
int compareVersion(const std::string& fwVersion, const std::string& packageVersion)
{
    const int r = compareVersionText(fwVersion, packageVersion);
    return r < 0 ? kUpdateUpgrade : r > 0 ? kUpdateDowngrade : kUpdateRewrite;
}
