// SPDX-License-Identifier: Apache-2.0
#include "platform/stack_wipe.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

#if defined(__x86_64__)

// Fills every vector register with a pattern, clears them (or not) and reads them back: the
// whole of zmm0-zmm31 where the processor has AVX-512F, else xmm0-xmm15.
__attribute__((target("avx512f"))) void fill_and_read_zmm(bool clear, uint8_t* out) {
    alignas(64) static uint8_t pattern[64];
    memset(pattern, 0xA5, sizeof(pattern));
    __asm__ volatile(
        "vmovdqu64 (%0), %%zmm0\n\tvmovdqu64 (%0), %%zmm1\n\tvmovdqu64 (%0), %%zmm2\n\tvmovdqu64 "
        "(%0), %%zmm3\n\tvmovdqu64 (%0), %%zmm4\n\tvmovdqu64 (%0), %%zmm5\n\tvmovdqu64 (%0), "
        "%%zmm6\n\tvmovdqu64 (%0), %%zmm7\n\tvmovdqu64 (%0), %%zmm8\n\tvmovdqu64 (%0), "
        "%%zmm9\n\tvmovdqu64 (%0), %%zmm10\n\tvmovdqu64 (%0), %%zmm11\n\tvmovdqu64 (%0), "
        "%%zmm12\n\tvmovdqu64 (%0), %%zmm13\n\tvmovdqu64 (%0), %%zmm14\n\tvmovdqu64 (%0), "
        "%%zmm15\n\tvmovdqu64 (%0), %%zmm16\n\tvmovdqu64 (%0), %%zmm17\n\tvmovdqu64 (%0), "
        "%%zmm18\n\tvmovdqu64 (%0), %%zmm19\n\tvmovdqu64 (%0), %%zmm20\n\tvmovdqu64 (%0), "
        "%%zmm21\n\tvmovdqu64 (%0), %%zmm22\n\tvmovdqu64 (%0), %%zmm23\n\tvmovdqu64 (%0), "
        "%%zmm24\n\tvmovdqu64 (%0), %%zmm25\n\tvmovdqu64 (%0), %%zmm26\n\tvmovdqu64 (%0), "
        "%%zmm27\n\tvmovdqu64 (%0), %%zmm28\n\tvmovdqu64 (%0), %%zmm29\n\tvmovdqu64 (%0), "
        "%%zmm30\n\tvmovdqu64 (%0), %%zmm31"
        :
        : "r"(pattern)
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
          "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20",
          "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30",
          "xmm31", "memory");
    if (clear) clear_vector_registers();
    __asm__ volatile(
        "vmovdqu64 %%zmm0, 0(%0)\n\tvmovdqu64 %%zmm1, 64(%0)\n\tvmovdqu64 %%zmm2, "
        "128(%0)\n\tvmovdqu64 %%zmm3, 192(%0)\n\tvmovdqu64 %%zmm4, 256(%0)\n\tvmovdqu64 %%zmm5, "
        "320(%0)\n\tvmovdqu64 %%zmm6, 384(%0)\n\tvmovdqu64 %%zmm7, 448(%0)\n\tvmovdqu64 %%zmm8, "
        "512(%0)\n\tvmovdqu64 %%zmm9, 576(%0)\n\tvmovdqu64 %%zmm10, 640(%0)\n\tvmovdqu64 %%zmm11, "
        "704(%0)\n\tvmovdqu64 %%zmm12, 768(%0)\n\tvmovdqu64 %%zmm13, 832(%0)\n\tvmovdqu64 %%zmm14, "
        "896(%0)\n\tvmovdqu64 %%zmm15, 960(%0)\n\tvmovdqu64 %%zmm16, 1024(%0)\n\tvmovdqu64 "
        "%%zmm17, 1088(%0)\n\tvmovdqu64 %%zmm18, 1152(%0)\n\tvmovdqu64 %%zmm19, "
        "1216(%0)\n\tvmovdqu64 %%zmm20, 1280(%0)\n\tvmovdqu64 %%zmm21, 1344(%0)\n\tvmovdqu64 "
        "%%zmm22, 1408(%0)\n\tvmovdqu64 %%zmm23, 1472(%0)\n\tvmovdqu64 %%zmm24, "
        "1536(%0)\n\tvmovdqu64 %%zmm25, 1600(%0)\n\tvmovdqu64 %%zmm26, 1664(%0)\n\tvmovdqu64 "
        "%%zmm27, 1728(%0)\n\tvmovdqu64 %%zmm28, 1792(%0)\n\tvmovdqu64 %%zmm29, "
        "1856(%0)\n\tvmovdqu64 %%zmm30, 1920(%0)\n\tvmovdqu64 %%zmm31, 1984(%0)"
        :
        : "r"(out)
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
          "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "xmm16", "xmm17", "xmm18", "xmm19", "xmm20",
          "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26", "xmm27", "xmm28", "xmm29", "xmm30",
          "xmm31", "memory");
}

void fill_and_read_xmm(bool clear, uint8_t* out) {
    alignas(16) static uint8_t pattern[16];
    memset(pattern, 0xA5, sizeof(pattern));
    __asm__ volatile(
        "movdqu (%0), %%xmm0\n\tmovdqu (%0), %%xmm1\n\tmovdqu (%0), %%xmm2\n\tmovdqu (%0), "
        "%%xmm3\n\tmovdqu (%0), %%xmm4\n\tmovdqu (%0), %%xmm5\n\tmovdqu (%0), %%xmm6\n\tmovdqu "
        "(%0), %%xmm7\n\tmovdqu (%0), %%xmm8\n\tmovdqu (%0), %%xmm9\n\tmovdqu (%0), "
        "%%xmm10\n\tmovdqu (%0), %%xmm11\n\tmovdqu (%0), %%xmm12\n\tmovdqu (%0), %%xmm13\n\tmovdqu "
        "(%0), %%xmm14\n\tmovdqu (%0), %%xmm15"
        :
        : "r"(pattern)
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
          "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory");
    if (clear) clear_vector_registers();
    __asm__ volatile(
        "movdqu %%xmm0, 0(%0)\n\tmovdqu %%xmm1, 16(%0)\n\tmovdqu %%xmm2, 32(%0)\n\tmovdqu %%xmm3, "
        "48(%0)\n\tmovdqu %%xmm4, 64(%0)\n\tmovdqu %%xmm5, 80(%0)\n\tmovdqu %%xmm6, "
        "96(%0)\n\tmovdqu %%xmm7, 112(%0)\n\tmovdqu %%xmm8, 128(%0)\n\tmovdqu %%xmm9, "
        "144(%0)\n\tmovdqu %%xmm10, 160(%0)\n\tmovdqu %%xmm11, 176(%0)\n\tmovdqu %%xmm12, "
        "192(%0)\n\tmovdqu %%xmm13, 208(%0)\n\tmovdqu %%xmm14, 224(%0)\n\tmovdqu %%xmm15, 240(%0)"
        :
        : "r"(out)
        : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10",
          "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory");
}

#if defined(_WIN32)
// Windows' calling convention has xmm6 to xmm15 kept for the caller: a called function that
// changes them puts the caller's values back (from the stack, which wipe_stack_below wipes), so
// what they hold after the call is the caller's own, not a callee's key bytes.
constexpr size_t kKeptByTheCaller = 10 * 16;
#else
constexpr size_t kKeptByTheCaller = 0;
#endif

TEST(StackWipe, ClearingLeavesNoByteInAnyVectorRegister) {
    const bool wide = __builtin_cpu_supports("avx512f");
    const size_t size = wide ? 32 * 64 : 16 * 16;
    for (bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "cleared" : "as filled");
        static uint8_t seen[32 * 64];
        memset(seen, 0x5A, sizeof(seen));
        if (wide) {
            fill_and_read_zmm(clear, seen);
        } else {
            fill_and_read_xmm(clear, seen);
        }
        size_t left = 0;
        for (size_t i = 0; i < size; ++i) left += seen[i] == 0xA5;
        EXPECT_EQ(left, clear ? kKeptByTheCaller : size);
    }
}

#endif

}  // namespace
