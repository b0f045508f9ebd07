// SPDX-License-Identifier: Apache-2.0
// Clearing what finished calls leave behind: their locals on the stack below the caller, and
// the copies of key bytes in the processor's vector registers.
#pragma once

// Zeroes 16 KiB of stack below the caller's frame: the line buffer the dependency's key reader
// does not wipe, and the temporaries and spilled registers of the arithmetic on a key.
void wipe_stack_below();

// Zeroes every vector register the processor has: a copy (memcpy, a vectorised loop) leaves key
// bytes there, and a later call that saves them (the dynamic loader's lazy binding) would put
// them on the stack after the last wipe. x86-64: zmm0-zmm31 with AVX-512F, else ymm0-ymm15
// (vzeroall) with AVX, else xmm0-xmm15; AArch64: v0-v31 (which clears SVE's z registers too).
// Elsewhere it does nothing. On Windows, xmm6 to xmm15 are the caller's to keep: they come back
// as the caller had them, and what a callee left there was saved on the stack, which
// wipe_stack_below clears. Called once a key is loaded and once a signature is made.
void clear_vector_registers();
