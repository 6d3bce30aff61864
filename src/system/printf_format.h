// printf-style argument checks for our own formatting functions.
#pragma once

#include <cstdio>

// Our formatters hand their arguments to the vsnprintf <cstdio> declares,
// which under C++11 and later is mingw-w64's C99 one (%zu, %lld, %hhu).
// mingw-w64's <stdio.h> names that format for the compiler at hand in
// __MINGW_PRINTF_FORMAT: gnu_printf for GCC, printf for clang, which knows no
// gnu_printf and checks printf against the C99 rules.
#define TZR_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, format_index, first_argument)))
