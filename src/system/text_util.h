// Small text helpers shared by every subsystem, each defined once here.
// Standard C++ only, for byte and wide characters alike, so the pure parsers
// use them too.
#pragma once

#include <cstddef>
#include <cwchar>

// ASCII case folding: only A-Z and a-z change, whatever the locale.
template <typename C>
constexpr C AsciiLower(C c)
{
    return (c >= C('A') && c <= C('Z')) ? static_cast<C>(c - C('A') + C('a')) : c;
}
template <typename C>
constexpr C AsciiUpper(C c)
{
    return (c >= C('a') && c <= C('z')) ? static_cast<C>(c - C('a') + C('A')) : c;
}

// Appends src to the text in dest, cutting it to fit capacity elements with
// the terminator; dest is always terminated. A dest without a terminator in
// its capacity counts as full.
template <typename C>
void BoundedAppend(C* dest, size_t capacity, const C* src)
{
    if (!dest || capacity == 0)
        return;
    size_t used = 0;
    while (used + 1 < capacity && dest[used])
        ++used;
    while (src && used + 1 < capacity && *src)
        dest[used++] = *src++;
    dest[used] = C('\0');
}

// Copies src into dest the same way; a null src leaves dest empty.
template <typename C>
void BoundedCopy(C* dest, size_t capacity, const C* src)
{
    if (!dest || capacity == 0)
        return;
    dest[0] = C('\0');
    BoundedAppend(dest, capacity, src);
}

// A decimal number read in the C runtime's atoi manner: leading white space,
// an optional sign, the digits up to the first other character. The
// magnitude is held at limit instead of overflowing, so an absurd value stays
// absurd and never wraps to a small one. No digits read as 0.
template <typename C>
long long ReadDecimal(const C* text, long long limit)
{
    if (!text)
        return 0;
    while (*text == C(' ') || (*text >= C('\t') && *text <= C('\r')))
        ++text;
    bool negative = false;
    if (*text == C('+') || *text == C('-'))
        negative = *text++ == C('-');
    long long value = 0;
    for (; *text >= C('0') && *text <= C('9'); ++text) {
        value = value * 10 + (*text - C('0'));
        if (value > limit)
            value = limit;
    }
    return negative ? -value : value;
}

// The same, held to the range of int.
template <typename C>
int ReadDecimalInt(const C* text)
{
    const long long value = ReadDecimal(text, 0x80000000LL);
    if (value > 0x7FFFFFFFLL)
        return 0x7FFFFFFF;
    return static_cast<int>(value);
}

// The first run of decimal digits anywhere in the text ("Service Pack 2" is
// 2), held to INT_MAX; 0 when the text holds no digit.
template <typename C>
int FirstNumberIn(const C* text)
{
    if (!text)
        return 0;
    while (*text && !(*text >= C('0') && *text <= C('9')))
        ++text;
    return static_cast<int>(ReadDecimal(text, 0x7FFFFFFFLL));
}
