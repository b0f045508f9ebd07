// SPDX-License-Identifier: Apache-2.0
#include "platform/stack_wipe.hpp"

#include <mbedtls/platform_util.h>

#include <cstddef>

#include "platform/cpu_features.hpp"

namespace {
constexpr size_t kStackWipeSize = 16384;

#if defined(__x86_64__)

__attribute__((target("avx512f"))) void clear_zmm() {
    __asm__ volatile(
        "vpxord %%zmm0, %%zmm0, %%zmm0\n\tvpxord %%zmm1, %%zmm1, %%zmm1\n\t"
        "vpxord %%zmm2, %%zmm2, %%zmm2\n\tvpxord %%zmm3, %%zmm3, %%zmm3\n\t"
        "vpxord %%zmm4, %%zmm4, %%zmm4\n\tvpxord %%zmm5, %%zmm5, %%zmm5\n\t"
        "vpxord %%zmm6, %%zmm6, %%zmm6\n\tvpxord %%zmm7, %%zmm7, %%zmm7\n\t"
        "vpxord %%zmm8, %%zmm8, %%zmm8\n\tvpxord %%zmm9, %%zmm9, %%zmm9\n\t"
        "vpxord %%zmm10, %%zmm10, %%zmm10\n\tvpxord %%zmm11, %%zmm11, %%zmm11\n\t"
        "vpxord %%zmm12, %%zmm12, %%zmm12\n\tvpxord %%zmm13, %%zmm13, %%zmm13\n\t"
        "vpxord %%zmm14, %%zmm14, %%zmm14\n\tvpxord %%zmm15, %%zmm15, %%zmm15\n\t"
        "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
        "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
        "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
        "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
        "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
        "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
        "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
        "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31\n\t"
        "vzeroupper"
        :
        :
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
          "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20",
          "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30",
          "xmm31");
}

__attribute__((target("avx"))) void clear_ymm() {
    __asm__ volatile("vzeroall"
                     :
                     :
                     : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",
                       "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}

void clear_xmm() {
    __asm__ volatile(
        "pxor %%xmm0, %%xmm0\n\tpxor %%xmm1, %%xmm1\n\tpxor %%xmm2, %%xmm2\n\t"
        "pxor %%xmm3, %%xmm3\n\tpxor %%xmm4, %%xmm4\n\tpxor %%xmm5, %%xmm5\n\t"
        "pxor %%xmm6, %%xmm6\n\tpxor %%xmm7, %%xmm7\n\tpxor %%xmm8, %%xmm8\n\t"
        "pxor %%xmm9, %%xmm9\n\tpxor %%xmm10, %%xmm10\n\tpxor %%xmm11, %%xmm11\n\t"
        "pxor %%xmm12, %%xmm12\n\tpxor %%xmm13, %%xmm13\n\tpxor %%xmm14, %%xmm14\n\t"
        "pxor %%xmm15, %%xmm15"
        :
        :
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
          "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}

#endif

}  // namespace

__attribute__((noinline)) void wipe_stack_below() {
    unsigned char area[kStackWipeSize];
    mbedtls_platform_zeroize(area, sizeof(area));
    __asm__ volatile("" : : "r"(area) : "memory");
}

void clear_vector_registers() {
#if defined(__x86_64__)
    static const VectorRegisters registers = cpu_vector_registers();
    if (registers == VectorRegisters::kAvx512) {
        clear_zmm();
    } else if (registers == VectorRegisters::kAvx) {
        clear_ymm();
    } else {
        clear_xmm();
    }
#elif defined(__aarch64__)
    __asm__ volatile(
        "movi v0.16b, #0\n\tmovi v1.16b, #0\n\tmovi v2.16b, #0\n\tmovi v3.16b, #0\n\t"
        "movi v4.16b, #0\n\tmovi v5.16b, #0\n\tmovi v6.16b, #0\n\tmovi v7.16b, #0\n\t"
        "movi v8.16b, #0\n\tmovi v9.16b, #0\n\tmovi v10.16b, #0\n\tmovi v11.16b, #0\n\t"
        "movi v12.16b, #0\n\tmovi v13.16b, #0\n\tmovi v14.16b, #0\n\tmovi v15.16b, #0\n\t"
        "movi v16.16b, #0\n\tmovi v17.16b, #0\n\tmovi v18.16b, #0\n\tmovi v19.16b, #0\n\t"
        "movi v20.16b, #0\n\tmovi v21.16b, #0\n\tmovi v22.16b, #0\n\tmovi v23.16b, #0\n\t"
        "movi v24.16b, #0\n\tmovi v25.16b, #0\n\tmovi v26.16b, #0\n\tmovi v27.16b, #0\n\t"
        "movi v28.16b, #0\n\tmovi v29.16b, #0\n\tmovi v30.16b, #0\n\tmovi v31.16b, #0"
        :
        :
        : "v0", "v1", "v2", "v3", "v4", "v5", "v6", "v7", "v8", "v9", "v10", "v11", "v12", "v13",
          "v14", "v15", "v16", "v17", "v18", "v19", "v20", "v21", "v22", "v23", "v24", "v25", "v26",
          "v27", "v28", "v29", "v30", "v31");
#endif
}
