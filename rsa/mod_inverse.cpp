// SPDX-License-Identifier: Apache-2.0
#include "rsa/mod_inverse.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>

// Bernstein and Yang's division steps ("Fast constant-time gcd computation and modular
// inversion", 2019). Each step looks at the low bit of g and a counter delta only:
//
//     delta > 0 and g odd:  (delta, f, g) = (1 - delta, g, (g - f) / 2)
//     otherwise:            (delta, f, g) = (1 + delta, f, (g + (g mod 2) f) / 2)
//
// From f = m (odd) and g = x, g reaches zero, with f = +-gcd(m, x), within a number of steps
// bounded by the bit length alone; every further step leaves it so. The steps run in batches on
// the low limbs, which decide a whole batch; the batch's matrix is then applied to the full
// numbers and to the coefficients d and e that follow them modulo m.

namespace {

using SignedLimb = std::make_signed<Limb>::type;
#if defined(__SIZEOF_INT128__)
__extension__ using SignedWide = __int128;
#else
using SignedWide = int64_t;
#endif

// Steps per batch: the matrix entries of a batch of k steps are at most 2^k in absolute value
// (the two of a row together), so kLimbBits - 2 keeps each, and u f + v g over a limb, within a
// signed limb and a signed double limb.
constexpr unsigned kBatch = kLimbBits - 2;

// A batch's matrix: 2^kBatch f' = u f + v g and 2^kBatch g' = q f + r g. Signed, held in limbs.
struct Transition {
    Limb u, v, q, r;
};

// The steps needed for numbers below 2^bits: 49 bits / 17, plus a little (the paper's bound).
constexpr size_t steps_needed(size_t bits) { return (49 * bits + (bits < 46 ? 80 : 57)) / 17; }

// All ones when the low bit of a is set.
Limb odd_mask(Limb a) { return value_barrier(static_cast<Limb>(0 - (a & 1))); }

// (a, b) = (b, -a) where mask is all ones.
void swap_negate(Limb mask, Limb* a, Limb* b) {
    const Limb x = (*a ^ *b) & mask;
    *a ^= x;
    *b = static_cast<Limb>(((*b ^ x) ^ mask) - mask);
}

// Runs kBatch steps on the low limbs of f and g, which decide them, and returns their matrix.
Transition run_batch(Limb* delta, Limb f, Limb g) {
    Transition t = {1, 0, 0, 1};
    Limb d = *delta;
    for (unsigned i = 0; i < kBatch; ++i) {
        // delta > 0, as the sign of -delta (delta stays far from the limb's limits).
        const Limb positive = value_barrier(static_cast<Limb>(0 - ((0 - d) >> (kLimbBits - 1))));
        const Limb swap = value_barrier(positive & odd_mask(g));
        swap_negate(swap, &f, &g);
        swap_negate(swap, &t.u, &t.q);
        swap_negate(swap, &t.v, &t.r);
        d = static_cast<Limb>((d ^ swap) - swap);
        // An odd g (always so after a swap, f being odd) takes f, which makes it even.
        const Limb add = odd_mask(g);
        g += f & add;
        t.q += t.u & add;
        t.r += t.v & add;
        g >>= 1;
        t.u <<= 1;
        t.v <<= 1;
        ++d;
    }
    *delta = d;
    return t;
}

// a * b as a signed double limb.
SignedWide product(Limb a, SignedWide b) {
    return static_cast<SignedWide>(static_cast<SignedLimb>(a)) * b;
}

// out = (x a + y b) / 2^kBatch over nl limbs of two's complement, the division being exact.
void combine(const Limb* a, const Limb* b, Limb x, Limb y, size_t nl, Limb* out) {
    SignedWide carry = 0;
    for (size_t i = 0; i + 1 < nl; ++i) {
        carry +=
            product(x, static_cast<SignedWide>(a[i])) + product(y, static_cast<SignedWide>(b[i]));
        out[i] = static_cast<Limb>(carry);
        carry >>= kLimbBits;
    }
    // The top limb carries the sign.
    carry += product(x, static_cast<SignedLimb>(a[nl - 1])) +
             product(y, static_cast<SignedLimb>(b[nl - 1]));
    out[nl - 1] = static_cast<Limb>(carry);
    for (size_t i = 0; i + 1 < nl; ++i) {
        out[i] = (out[i] >> kBatch) | static_cast<Limb>(out[i + 1] << (kLimbBits - kBatch));
    }
    out[nl - 1] = static_cast<Limb>(static_cast<SignedLimb>(out[nl - 1]) >> kBatch);
}

// out = (x d + y e) / 2^kBatch mod m for d and e below m: k m is added, k below 2^kBatch, so that
// the division is exact, which leaves a number above -m and below 2m; it is then brought below
// m. sum holds n + 1 limbs on the way.
void combine_mod(const MontgomeryModulus* mod, const Limb* d, const Limb* e, Limb x, Limb y,
                 Limb* sum, Limb* out) {
    const size_t n = mod->n;
    const Limb low = static_cast<Limb>(x * d[0] + y * e[0]);
    const Limb k = static_cast<Limb>(low * mod->m_inv) & ((Limb{1} << kBatch) - 1);
    // Each column stays below 2^(2 kLimbBits - 1) in absolute value: |x| + |y| and k are at most
    // 2^kBatch.
    SignedWide carry = 0;
    for (size_t i = 0; i < n; ++i) {
        carry += product(x, static_cast<SignedWide>(d[i])) +
                 product(y, static_cast<SignedWide>(e[i])) +
                 static_cast<SignedWide>(static_cast<WideLimb>(k) * mod->m[i]);
        sum[i] = static_cast<Limb>(carry);
        carry >>= kLimbBits;
    }
    sum[n] = static_cast<Limb>(carry);
    for (size_t i = 0; i < n; ++i) {
        sum[i] = (sum[i] >> kBatch) | static_cast<Limb>(sum[i + 1] << (kLimbBits - kBatch));
    }
    sum[n] = static_cast<Limb>(static_cast<SignedLimb>(sum[n]) >> kBatch);
    // Below zero: add m. Then at least m (a top limb, or no borrow): subtract it.
    const Limb negative = static_cast<Limb>(0 - value_barrier(sum[n] >> (kLimbBits - 1)));
    Limb carry_limb = 0;
    for (size_t i = 0; i < n; ++i) {
        const WideLimb t = static_cast<WideLimb>(sum[i]) + (mod->m[i] & negative) + carry_limb;
        sum[i] = static_cast<Limb>(t);
        carry_limb = static_cast<Limb>(t >> kLimbBits);
    }
    sum[n] = static_cast<Limb>(sum[n] + carry_limb);
    const Limb borrow = limbs_subtract(sum, mod->m, n, out);
    const Limb keep = mask_if_nonzero(sum[n]) | static_cast<Limb>(borrow - 1);
    limbs_select(keep, out, sum, n, out);
}

}  // namespace

Limb montgomery_inverse(const MontgomeryModulus* mod, const Limb* x, InverseWork* work, Limb* out) {
    const size_t n = mod->n;
    const size_t nl = n + 1;
    Limb* f = work->f;
    Limb* g = work->g;
    memset(work, 0, sizeof(*work));
    memcpy(f, mod->m, n * sizeof(Limb));
    memcpy(g, x, n * sizeof(Limb));
    // f = 0 x / R and g = R x / R: d = 0 and e = R mod m, kept so by every batch.
    const Limb one[kMaxLimbs] = {1};
    montgomery_enter(mod, one, work->e);

    Limb delta = 1;
    const size_t batches = (steps_needed(n * kLimbBits) + kBatch - 1) / kBatch;
    for (size_t b = 0; b < batches; ++b) {
        const Transition t = run_batch(&delta, f[0], g[0]);
        combine(f, g, t.u, t.v, nl, work->sum);
        combine(f, g, t.q, t.r, nl, work->other);
        memcpy(f, work->sum, nl * sizeof(Limb));
        memcpy(g, work->other, nl * sizeof(Limb));
        combine_mod(mod, work->d, work->e, t.u, t.v, work->sum, work->other);
        combine_mod(mod, work->d, work->e, t.q, t.r, work->sum, work->e);
        memcpy(work->d, work->other, n * sizeof(Limb));
    }

    // g is zero and f is +-gcd(m, x): x has an inverse when f is 1 or -1, and x^-1 R is d or -d.
    // (g is tested too, so that a step count too short could only refuse, never give a wrong d.)
    Limb plus_one[kMaxLimbs + 1] = {1}, minus_one[kMaxLimbs + 1];
    memset(minus_one, 0xFF, sizeof(minus_one));
    const Limb positive = limbs_equal_mask(f, plus_one, nl);
    const Limb negative = limbs_equal_mask(f, minus_one, nl);
    const Limb zero[kMaxLimbs] = {0};
    limbs_subtract_mod(zero, work->d, mod->m, n, work->other);
    limbs_select(negative, work->other, work->d, n, out);
    const Limb invertible = value_barrier((positive | negative) & limbs_zero_mask(g, nl));
    limbs_select(invertible, out, zero, n, out);
    return invertible;
}
