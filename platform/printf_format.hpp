// SPDX-License-Identifier: Apache-2.0
// The printf dialect the C library formats by, for the compiler's checks of the tools' own
// printf-like functions: MinGW's C99 printf on Windows (%zu, %lld), the C library's elsewhere.
#pragma once

#include <cstdio>

#if defined(__MINGW_PRINTF_FORMAT)
#define BOOTSEAL_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, format_index, first_argument)))
#else
#define BOOTSEAL_PRINTF_FORMAT(format_index, first_argument) \
    __attribute__((format(printf, format_index, first_argument)))
#endif
