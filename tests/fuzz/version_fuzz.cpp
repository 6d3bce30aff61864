// libFuzzer harness for the natural version order. The input is two version
// texts separated by the first NUL byte. The order must be a total order:
// reflexive, antisymmetric, and the update state must follow from it.
#include "version_compare.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string a = input.substr(0, split);
    const std::string b = split == std::string::npos ? std::string() : input.substr(split + 1);

    const int ab = compareVersionText(a, b);
    if (ab < -1 || ab > 1) std::abort();
    if (compareVersionText(b, a) != -ab) std::abort();
    if (compareVersionText(a, a) != 0) std::abort();
    // Text equality implies order equality (the converse need not hold:
    // leading zeros are ignored).
    if (a == b && ab != 0) std::abort();

    const int state = compareVersion(a, b);
    const int expected = ab < 0 ? kUpdateUpgrade : ab > 0 ? kUpdateDowngrade : kUpdateRewrite;
    if (state != expected) std::abort();
    return 0;
}
