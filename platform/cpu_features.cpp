// SPDX-License-Identifier: Apache-2.0
#include "platform/cpu_features.hpp"

#if defined(__x86_64__)
#if __has_include(<sys/platform/x86.h>)
// The C library asked the processor at start-up (glibc 2.33 and later), and CPU_FEATURE_ACTIVE
// also tells whether the operating system saves the registers. glibc 2.36's header writes C's
// _Bool, which clang does not accept in C++: it means bool.
#if defined(__clang__) && !defined(_Bool)
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#define BOOTSEAL_HAVE_CPU_FEATURE_ACTIVE 1
#else
#include <cpuid.h>
#endif
#elif defined(__aarch64__)
#include <sys/auxv.h>
#endif

#if defined(__x86_64__)

bool cpu_has_sha256_instructions() {
#if defined(BOOTSEAL_HAVE_CPU_FEATURE_ACTIVE)
    // The C library's answer costs nothing to read, whereas each cpuid instruction is a trip to
    // the hypervisor in a virtual machine (about 6 microseconds each where this was measured,
    // four of them for these three features).
    return CPU_FEATURE_ACTIVE(SSSE3) && CPU_FEATURE_ACTIVE(SSE4_1) && CPU_FEATURE_ACTIVE(SHA);
#else
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3_sse41 = (c & bit_SSSE3) != 0 && (c & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3_sse41 && (b & bit_SHA) != 0;
#endif
}

VectorRegisters cpu_vector_registers() {
#if defined(BOOTSEAL_HAVE_CPU_FEATURE_ACTIVE)
    if (CPU_FEATURE_ACTIVE(AVX512F)) return VectorRegisters::kAvx512;
    if (CPU_FEATURE_ACTIVE(AVX)) return VectorRegisters::kAvx;
    return VectorRegisters::kSse;
#else
    // cpuid for the features, xgetbv for the registers the system enabled.
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
        return VectorRegisters::kSse;
    }
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 0x6) != 0x6) return VectorRegisters::kSse;  // xmm and ymm state saved
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX512F) != 0 &&
        (low & 0xE0) == 0xE0) {  // opmask, zmm0-15's upper halves and zmm16-31 saved
        return VectorRegisters::kAvx512;
    }
    return VectorRegisters::kAvx;
#endif
}

#elif defined(__aarch64__)

bool cpu_has_sha256_instructions() {
    // The kernel's hardware capability bit for the SHA-256 instructions (HWCAP_SHA2).
    constexpr unsigned long kSha2 = 1UL << 6;
    return (getauxval(AT_HWCAP) & kSha2) != 0;
}

VectorRegisters cpu_vector_registers() { return VectorRegisters::kNeon; }

#else

bool cpu_has_sha256_instructions() { return false; }

VectorRegisters cpu_vector_registers() { return VectorRegisters::kNone; }

#endif
