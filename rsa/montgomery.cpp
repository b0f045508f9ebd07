// SPDX-License-Identifier: Apache-2.0
#include "rsa/montgomery.hpp"

#include <mbedtls/platform_util.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "rsa/secret_marks.hpp"

// On x86-64 the carry chains are written with the processor's add- and subtract-with-carry
// instructions; elsewhere, or when a test build defines BOOTSEAL_PORTABLE_LIMBS to check the
// portable arithmetic on this machine too, in plain C++ whose carries are arithmetic, never a
// comparison that a compiler could turn into a jump.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(BOOTSEAL_PORTABLE_LIMBS)
#define MONTGOMERY_CARRY_INSTRUCTIONS 1
#include <x86intrin.h>
#endif

namespace {

constexpr size_t kTableSize = size_t{1} << kWindowBits;

// -m0^-1 mod 2^kLimbBits for odd m0, by Newton's iteration (each step doubles the good bits).
Limb negated_inverse(Limb m0) {
    Limb x = m0;  // correct to three bits for odd m0
    for (int i = 0; i < 6; ++i) x = static_cast<Limb>(x * static_cast<Limb>(2 - m0 * x));
    return static_cast<Limb>(0 - x);
}

// A three-limb accumulator for product scanning: a column of products is summed into it, then
// its low limb is taken and it is shifted down by one limb.
struct Accumulator {
    Limb low, middle, high;

    void add_product(Limb x, const Limb& y) {
#if defined(MONTGOMERY_CARRY_INSTRUCTIONS)
        // One multiplication and one carry chain of three additions; from 128-bit additions the
        // compiler copies the carry out of the flags between products.
        Limb product_high;
        __asm__("mulq %[y]\n\t"
                "addq %%rax, %[low]\n\t"
                "adcq %%rdx, %[middle]\n\t"
                "adcq $0, %[high]"
                : [low] "+r"(low), [middle] "+r"(middle), [high] "+r"(high), "+a"(x),
                  "=d"(product_high)
                : [y] "m"(y)
                : "cc");
#else
        const WideLimb product = static_cast<WideLimb>(x) * y;
        const WideLimb low_sum = static_cast<WideLimb>(low) + static_cast<Limb>(product);
        const WideLimb middle_sum = static_cast<WideLimb>(middle) +
                                    static_cast<Limb>(product >> kLimbBits) +
                                    static_cast<Limb>(low_sum >> kLimbBits);
        low = static_cast<Limb>(low_sum);
        middle = static_cast<Limb>(middle_sum);
        high = static_cast<Limb>(high + static_cast<Limb>(middle_sum >> kLimbBits));
#endif
    }
    Limb take_and_shift() {
        const Limb limb = low;
        low = middle;
        middle = high;
        high = 0;
        return limb;
    }
};

template <size_t N>
void subtract_if_not_below(const Limb* m, const Limb* t, Limb* out);

// out = a * b / R mod m; out may alias a or b. The product and the reduction are interleaved
// column by column (product scanning), and N is fixed at compile time so that the loops unroll.
template <size_t N>
void multiply_columns(const Limb* m, Limb m_inv, const Limb* a, const Limb* b, Limb* out) {
    Limb q[N];      // the reduction's multiples of m, one per low column
    Limb t[N + 1];  // the high columns, before the final subtraction
    Accumulator acc = {0, 0, 0};
#pragma GCC unroll 16
    for (size_t k = 0; k < N; ++k) {
#pragma GCC unroll 16
        for (size_t j = 0; j < k; ++j) {
            acc.add_product(a[j], b[k - j]);
            acc.add_product(q[j], m[k - j]);
        }
        acc.add_product(a[k], b[0]);
        // Choose q[k] so that this column becomes zero.
        q[k] = static_cast<Limb>(acc.low * m_inv);
        acc.add_product(q[k], m[0]);
        acc.take_and_shift();
    }
#pragma GCC unroll 16
    for (size_t k = N; k < 2 * N - 1; ++k) {
#pragma GCC unroll 16
        for (size_t j = k - N + 1; j < N; ++j) {
            acc.add_product(a[j], b[k - j]);
            acc.add_product(q[j], m[k - j]);
        }
        t[k - N] = acc.take_and_shift();
    }
    t[N - 1] = acc.take_and_shift();
    t[N] = acc.low;

    subtract_if_not_below<N>(m, t, out);
}

// out = t - m when the N + 1 limbs of t are at least m, else t; t < 2m. Chosen by mask rather
// than by branch.
template <size_t N>
void subtract_if_not_below(const Limb* m, const Limb* t, Limb* out) {
    Limb difference[N];
#if defined(MONTGOMERY_CARRY_INSTRUCTIONS)
    // One subtract-with-borrow chain.
    unsigned char borrow = 0;
#pragma GCC unroll 16
    for (size_t j = 0; j < N; ++j) {
        unsigned long long d;
        borrow = _subborrow_u64(borrow, t[j], m[j], &d);
        difference[j] = d;
    }
    const Limb no_borrow = static_cast<Limb>(static_cast<Limb>(borrow) - 1);
#else
    const Limb no_borrow = static_cast<Limb>(limbs_subtract(t, m, N, difference) - 1);
#endif
    // Keep the difference when t had a top limb or the subtraction did not borrow.
    const Limb keep = mask_if_nonzero(t[N]) | no_borrow;
    limbs_select(keep, difference, t, N, out);
}

using Multiply = void (*)(const Limb*, Limb, const Limb*, const Limb*, Limb*);

template <size_t... I>
constexpr std::array<Multiply, sizeof...(I)> multipliers(std::index_sequence<I...>) {
    return {&multiply_columns<I + 1>...};
}

// The multiplication for each limb count from 1 to kMaxLimbs.
constexpr std::array<Multiply, kMaxLimbs> kMultiply = multipliers(std::make_index_sequence<kMaxLimbs>());

// Copies table[index] into out, reading every entry so that the index leaves no trace in timing
// or in the addresses read. N is fixed at compile time so that the masked copy runs on vector
// registers; the mask goes through a value barrier so that no compiler makes it a branch.
template <size_t N>
void select_entry(const Limb (*table)[kMaxLimbs], size_t index, Limb* out) {
    Limb chosen[N] = {0};
    for (size_t e = 0; e < kTableSize; ++e) {
        const Limb mask = mask_if_zero(static_cast<Limb>(e ^ index));
#pragma GCC unroll 16
        for (size_t j = 0; j < N; ++j) chosen[j] |= table[e][j] & mask;
    }
    memcpy(out, chosen, sizeof(chosen));
}

using Select = void (*)(const Limb (*)[kMaxLimbs], size_t, Limb*);

template <size_t... I>
constexpr std::array<Select, sizeof...(I)> selectors(std::index_sequence<I...>) {
    return {&select_entry<I + 1>...};
}

// The table read for each limb count from 1 to kMaxLimbs.
constexpr std::array<Select, kMaxLimbs> kSelect = selectors(std::make_index_sequence<kMaxLimbs>());

}  // namespace

void montgomery_multiply(const MontgomeryModulus* mod, const Limb* a, const Limb* b, Limb* out) {
    kMultiply[mod->n - 1](mod->m, mod->m_inv, a, b, out);
}

void montgomery_prepare(MontgomeryModulus* mod, const Limb* m, size_t n, bool top_limb_set) {
    memset(mod, 0, sizeof(*mod));
    memcpy(mod->m, m, n * sizeof(Limb));
    mod->n = n;
    mod->m_inv = negated_inverse(m[0]);
    // A power of two below m (2^((n - 1) kLimbBits) when the top limb is set, else 1 mod m, which
    // is 0 when m is 1), doubled up to R 2^n mod m, the Montgomery form of 2^n. Each Montgomery
    // squaring then doubles the power of two it stands for; after log2(kLimbBits) of them it
    // stands for 2^(n kLimbBits) = R, so it holds R R mod m.
    Limb* x = mod->rr;
    size_t doublings = n * kLimbBits + n;
    if (top_limb_set) {
        x[n - 1] = 1;
        doublings = kLimbBits + n;
    } else {
        x[0] = 1;
        limbs_reduce_once(x, mod->m, n, x);
    }
    for (size_t i = 0; i < doublings; ++i) limbs_double_mod(x, mod->m, n, x);
    for (unsigned s = 1; s < kLimbBits; s *= 2) montgomery_multiply(mod, x, x, x);
}

void montgomery_enter(const MontgomeryModulus* mod, const Limb* a, Limb* out) {
    montgomery_multiply(mod, a, mod->rr, out);
}

void montgomery_leave(const MontgomeryModulus* mod, const Limb* a, Limb* out) {
    const Limb one[kMaxLimbs] = {1};
    montgomery_multiply(mod, one, a, out);
}

void montgomery_power(const MontgomeryModulus* mod, const Limb* base, const Limb* exponent,
                      size_t exponent_limbs, PowerTable table, Limb* factor, Limb* out) {
    const size_t n = mod->n;
    const Select select = kSelect[n - 1];
    // table[k] = base^k in Montgomery form; table[0] is R mod m, the form of 1.
    const Limb one[kMaxLimbs] = {1};
    montgomery_multiply(mod, one, mod->rr, table[0]);
    memcpy(table[1], base, n * sizeof(Limb));
    for (size_t k = 2; k < kTableSize; ++k) montgomery_multiply(mod, table[k - 1], table[1], table[k]);

    // Fixed windows from the top: squarings, then one multiplication by the window's power,
    // whatever its value.
    memcpy(out, table[0], n * sizeof(Limb));
    for (size_t w = exponent_limbs * kLimbBits / kWindowBits; w-- > 0;) {
        size_t index = 0;
        for (unsigned b = kWindowBits; b-- > 0;) {
            montgomery_multiply(mod, out, out, out);
            const size_t bit = w * kWindowBits + b;
            index = (index << 1) | static_cast<size_t>((exponent[bit / kLimbBits] >> (bit % kLimbBits)) & 1);
        }
        select(table, index, factor);
        montgomery_multiply(mod, out, factor, out);
        FAULT_POINT(out, n * sizeof(Limb));
    }
}

void montgomery_power_public(const MontgomeryModulus* mod, const Limb* base, const Limb* exponent,
                             size_t exponent_limbs, Limb* out) {
    Limb power[kMaxLimbs];
    const Limb one[kMaxLimbs] = {1};
    montgomery_multiply(mod, one, mod->rr, power);
    bool started = false;
    for (size_t bit = exponent_limbs * kLimbBits; bit-- > 0;) {
        const bool set = (exponent[bit / kLimbBits] >> (bit % kLimbBits)) & 1;
        if (started) montgomery_multiply(mod, power, power, power);
        if (set) montgomery_multiply(mod, power, base, power);
        started = started || set;
    }
    memcpy(out, power, mod->n * sizeof(Limb));
}
