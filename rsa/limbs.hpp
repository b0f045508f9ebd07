// SPDX-License-Identifier: Apache-2.0
// Arithmetic on secret numbers held as fixed-length arrays of machine words (limbs), least
// significant first. Every function runs the same instructions and touches the same addresses
// whatever the values are: lengths are public, values never decide a branch or an index.
#pragma once

#include <cstddef>
#include <cstdint>

// Limbs of 64 bits where the compiler has a 128-bit product, else 32 bits.
#if defined(__SIZEOF_INT128__)
using Limb = uint64_t;
__extension__ using WideLimb = unsigned __int128;
#else
using Limb = uint32_t;
using WideLimb = uint64_t;
#endif
constexpr unsigned kLimbBits = sizeof(Limb) * 8;
// The largest number handled: 1024 bits, the RSA modulus of the header.
constexpr size_t kMaxLimbBits = 1024;
constexpr size_t kMaxLimbs = kMaxLimbBits / kLimbBits;

// Hides v from the optimiser, so that a mask made from a secret stays a mask and is never turned
// back into a branch, or into a load of only the chosen value.
inline Limb value_barrier(Limb v) {
#if defined(__GNUC__)
    __asm__("" : "+r"(v));
#else
    volatile Limb copy = v;
    v = copy;
#endif
    return v;
}

// Keeps a verdict apart: an empty volatile asm is never merged with another or dropped, so two
// verdicts computed alike are not folded into one value.
inline Limb verdict_barrier(Limb v) {
#if defined(__GNUC__)
    __asm__ volatile("" : "+r"(v));
#else
    volatile Limb copy = v;
    v = copy;
#endif
    return v;
}

// All ones when x is not zero, else zero.
inline Limb mask_if_nonzero(Limb x) {
    return value_barrier(static_cast<Limb>(0 - ((x | (0 - x)) >> (kLimbBits - 1))));
}

// All ones when x is zero, else zero.
inline Limb mask_if_zero(Limb x) { return static_cast<Limb>(~mask_if_nonzero(x)); }

// out = a where mask is all ones, b where it is zero; out may alias either.
void limbs_select(Limb mask, const Limb* a, const Limb* b, size_t n, Limb* out);

// All ones when every one of the n limbs of a is zero.
Limb limbs_zero_mask(const Limb* a, size_t n);

// All ones when the n limbs of a and b are equal.
Limb limbs_equal_mask(const Limb* a, const Limb* b, size_t n);

// out = a + b over n limbs; returns the carry out, 0 or 1. out may alias a or b.
Limb limbs_add(const Limb* a, const Limb* b, size_t n, Limb* out);

// out = a - b over n limbs; returns the borrow out, 0 or 1. out may alias a or b.
Limb limbs_subtract(const Limb* a, const Limb* b, size_t n, Limb* out);

// out = a - m when a >= m, else a, for a < 2m; out may alias a.
void limbs_reduce_once(const Limb* a, const Limb* m, size_t n, Limb* out);

// out = (a + b) mod m and out = (a - b) mod m for a, b < m; out may alias a or b.
void limbs_add_mod(const Limb* a, const Limb* b, const Limb* m, size_t n, Limb* out);
void limbs_subtract_mod(const Limb* a, const Limb* b, const Limb* m, size_t n, Limb* out);

// out = 2a mod m for a < m, in one pass; out may alias a.
void limbs_double_mod(const Limb* a, const Limb* m, size_t n, Limb* out);

// out (na + nb limbs) = a * b; out must not overlap a or b.
void limbs_multiply(const Limb* a, size_t na, const Limb* b, size_t nb, Limb* out);

// n limbs from size bytes stored least significant first; bytes past size count as zero, bytes
// past n limbs are not read.
void limbs_from_le_bytes(const uint8_t* bytes, size_t size, Limb* out, size_t n);

// n limbs from size bytes stored most significant first, and back.
void limbs_from_be_bytes(const uint8_t* bytes, size_t size, Limb* out, size_t n);
void limbs_to_be_bytes(const Limb* a, size_t n, uint8_t* bytes, size_t size);
