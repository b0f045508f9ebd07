// SPDX-License-Identifier: Apache-2.0
#include "secure/stack_wipe.hpp"

#include <mbedtls/platform_util.h>

#include <cstddef>

namespace {
constexpr size_t kStackWipeSize = 16384;
}  // namespace

__attribute__((noinline)) void wipe_stack_below() {
    unsigned char area[kStackWipeSize];
    mbedtls_platform_zeroize(area, sizeof(area));
    __asm__ volatile("" : : "r"(area) : "memory");
}
