// SPDX-License-Identifier: Apache-2.0
// What the processor offers the tools, as far as the operating system lets them use it.
#pragma once

// Whether the processor has the SHA-256 instructions: on x86-64 SHA with SSSE3 and SSE4.1, on
// aarch64 the SHA2 extension. False on every other processor.
bool cpu_has_sha256_instructions();

// The widest vector registers the processor has and the operating system saves.
enum class VectorRegisters {
    kNone,    // a processor whose registers are not cleared
    kSse,     // x86-64: xmm0 to xmm15
    kAvx,     // x86-64: ymm0 to ymm15
    kAvx512,  // x86-64: zmm0 to zmm31
    kNeon,    // aarch64: v0 to v31
};
VectorRegisters cpu_vector_registers();
