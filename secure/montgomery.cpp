#include "secure/montgomery.hpp"

#include <mbedtls/platform_util.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

// On x86-64 the carry chains are written with the processor's add- and subtract-with-carry
// instructions; elsewhere, or when a test build defines BOOTSEAL_PORTABLE_LIMBS to check the
// portable arithmetic on this machine too, in plain C++.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(BOOTSEAL_PORTABLE_LIMBS)
#define MONTGOMERY_CARRY_INSTRUCTIONS 1
#include <x86intrin.h>
#endif

namespace {

// Limbs of 64 bits where the compiler has a 128-bit product, else 32 bits.
#if defined(__SIZEOF_INT128__)
using Limb = uint64_t;
__extension__ using Wide = unsigned __int128;
#else
using Limb = uint32_t;
using Wide = uint64_t;
#endif
constexpr unsigned kLimbBits = sizeof(Limb) * 8;
constexpr size_t kMaxLimbs = kMontgomeryMaxBits / kLimbBits;
// Windows of four exponent bits for private exponents; a short public exponent goes bit by bit.
constexpr unsigned kWindowBits = 4;
constexpr size_t kTableSize = size_t{1} << kWindowBits;

// Reads a non-negative value below 2^(n * kLimbBits) into n limbs, least significant first.
int to_limbs(const mbedtls_mpi* value, Limb* limbs, size_t n) {
    unsigned char bytes[kMaxLimbs * sizeof(Limb)];
    const size_t size = n * sizeof(Limb);
    const int result = mbedtls_mpi_write_binary(value, bytes, size);
    if (result == 0) {
        // Limb i holds the bytes i * sizeof(Limb) ... from the least significant end.
        for (size_t i = 0; i < n; ++i) {
            Limb limb = 0;
            for (size_t b = 0; b < sizeof(Limb); ++b) {
                limb |= static_cast<Limb>(bytes[size - 1 - (i * sizeof(Limb) + b)]) << (8 * b);
            }
            limbs[i] = limb;
        }
    }
    mbedtls_platform_zeroize(bytes, sizeof(bytes));
    return result;
}

int from_limbs(mbedtls_mpi* value, const Limb* limbs, size_t n) {
    unsigned char bytes[kMaxLimbs * sizeof(Limb)];
    const size_t size = n * sizeof(Limb);
    for (size_t i = 0; i < n; ++i) {
        for (size_t b = 0; b < sizeof(Limb); ++b) {
            bytes[size - 1 - (i * sizeof(Limb) + b)] = static_cast<unsigned char>(limbs[i] >> (8 * b));
        }
    }
    const int result = mbedtls_mpi_read_binary(value, bytes, size);
    mbedtls_platform_zeroize(bytes, sizeof(bytes));
    return result;
}

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
        const Wide product = static_cast<Wide>(x) * y;
        const Wide sum = ((static_cast<Wide>(middle) << kLimbBits) | low) + product;
        high += static_cast<Limb>(sum < product);
        low = static_cast<Limb>(sum);
        middle = static_cast<Limb>(sum >> kLimbBits);
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

// out = a * b / R mod m for a, b < m, with R = 2^(N * kLimbBits); out may alias a or b. The
// product and the reduction are interleaved column by column (product scanning), and N is fixed
// at compile time so that the loops unroll.
template <size_t N>
void subtract_if_not_below(const Limb* m, const Limb* t, Limb* out);

template <size_t N>
void montgomery_multiply(const Limb* m, Limb m_inv, const Limb* a, const Limb* b, Limb* out) {
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
#else
    Limb borrow = 0;
    for (size_t j = 0; j < N; ++j) {
        const Wide d = static_cast<Wide>(t[j]) - m[j] - borrow;
        difference[j] = static_cast<Limb>(d);
        borrow = static_cast<Limb>((d >> kLimbBits) & 1);
    }
#endif
    // Keep the difference when t had a top limb or the subtraction did not borrow.
    const Limb keep = static_cast<Limb>(0 - static_cast<Limb>((t[N] != 0) | (borrow == 0)));
    for (size_t j = 0; j < N; ++j) out[j] = (difference[j] & keep) | (t[j] & static_cast<Limb>(~keep));
}

using Multiply = void (*)(const Limb*, Limb, const Limb*, const Limb*, Limb*);

template <size_t... I>
constexpr std::array<Multiply, sizeof...(I)> multipliers(std::index_sequence<I...>) {
    return {&montgomery_multiply<I + 1>...};
}

// The multiplication for each limb count from 1 to kMaxLimbs.
constexpr std::array<Multiply, kMaxLimbs> kMultiply = multipliers(std::make_index_sequence<kMaxLimbs>());

// Copies table[index] into out, reading every entry so that the index leaves no trace in timing.
// N is fixed at compile time so that the masked copy runs on vector registers.
template <size_t N>
void select_entry(const Limb (*table)[kMaxLimbs], size_t entries, size_t index, Limb* out) {
    Limb chosen[N] = {0};
    for (size_t e = 0; e < entries; ++e) {
        const Limb mask = static_cast<Limb>(0 - static_cast<Limb>(e == index));
#pragma GCC unroll 16
        for (size_t j = 0; j < N; ++j) chosen[j] |= table[e][j] & mask;
    }
    memcpy(out, chosen, sizeof(chosen));
}

using Select = void (*)(const Limb (*)[kMaxLimbs], size_t, size_t, Limb*);

template <size_t... I>
constexpr std::array<Select, sizeof...(I)> selectors(std::index_sequence<I...>) {
    return {&select_entry<I + 1>...};
}

// The table read for each limb count from 1 to kMaxLimbs.
constexpr std::array<Select, kMaxLimbs> kSelect = selectors(std::make_index_sequence<kMaxLimbs>());

}  // namespace

int montgomery_exp_mod(mbedtls_mpi* result, const mbedtls_mpi* base, const mbedtls_mpi* exponent,
                       const mbedtls_mpi* modulus) {
    if (mbedtls_mpi_cmp_int(modulus, 0) <= 0 || mbedtls_mpi_get_bit(modulus, 0) == 0 ||
        mbedtls_mpi_bitlen(modulus) > kMontgomeryMaxBits || mbedtls_mpi_cmp_int(exponent, 0) < 0 ||
        mbedtls_mpi_bitlen(exponent) > kMontgomeryMaxBits ||
        mbedtls_mpi_cmp_int(base, 0) < 0) {
        return MBEDTLS_ERR_MPI_BAD_INPUT_DATA;
    }
    const size_t n = (mbedtls_mpi_bitlen(modulus) + kLimbBits - 1) / kLimbBits;
    const Multiply multiply = kMultiply[n - 1];
    const Select select = kSelect[n - 1];
    Limb m[kMaxLimbs] = {0}, x[kMaxLimbs] = {0}, acc[kMaxLimbs] = {0}, factor[kMaxLimbs] = {0};
    Limb rr[kMaxLimbs] = {0}, one[kMaxLimbs] = {0}, zero[kMaxLimbs] = {0}, e[kMaxLimbs] = {0};
    Limb table[kTableSize][kMaxLimbs];
    one[0] = 1;
    mbedtls_mpi reduced, r_squared;
    mbedtls_mpi_init(&reduced);
    mbedtls_mpi_init(&r_squared);

    int status = to_limbs(modulus, m, n);
    const Limb m_inv = negated_inverse(m[0]);
    // R^2 mod m converts into Montgomery form; base mod m is the value to raise.
    if (status == 0) status = mbedtls_mpi_lset(&r_squared, 1);
    if (status == 0) status = mbedtls_mpi_shift_l(&r_squared, 2 * n * kLimbBits);
    if (status == 0) status = mbedtls_mpi_mod_mpi(&r_squared, &r_squared, modulus);
    if (status == 0) status = mbedtls_mpi_mod_mpi(&reduced, base, modulus);
    if (status == 0) status = to_limbs(&r_squared, rr, n);
    if (status == 0) status = to_limbs(&reduced, x, n);
    if (status == 0) status = to_limbs(exponent, e, kMaxLimbs);
    if (status == 0) {
        const size_t bits = mbedtls_mpi_bitlen(exponent);
        const unsigned window = bits > 32 ? kWindowBits : 1;
        const size_t entries = size_t{1} << window;
        // table[k] = x^k in Montgomery form; table[0] is R mod m, the form of 1.
        multiply(m, m_inv, rr, one, table[0]);
        multiply(m, m_inv, x, rr, table[1]);
        for (size_t k = 2; k < entries; ++k) multiply(m, m_inv, table[k - 1], table[1], table[k]);

        // Fixed windows from the top: squarings, then one multiplication by the window's power,
        // whatever its value.
        const size_t windows = (bits + window - 1) / window;
        memcpy(acc, table[0], sizeof(acc));
        for (size_t w = windows; w-- > 0;) {
            size_t index = 0;
            for (unsigned b = window; b-- > 0;) {
                multiply(m, m_inv, acc, acc, acc);
                const size_t bit = w * window + b;
                index = (index << 1) | static_cast<size_t>((e[bit / kLimbBits] >> (bit % kLimbBits)) & 1);
            }
            select(table, entries, index, factor);
            multiply(m, m_inv, acc, factor, acc);
        }
        // Out of Montgomery form: multiply by plain 1.
        multiply(m, m_inv, acc, one, acc);
        status = from_limbs(result, acc, n);
        // One product of zeros overwrites the multiplication's temporaries on the stack.
        multiply(m, m_inv, zero, zero, factor);
    }
    mbedtls_platform_zeroize(table, sizeof(table));
    mbedtls_platform_zeroize(x, sizeof(x));
    mbedtls_platform_zeroize(acc, sizeof(acc));
    mbedtls_platform_zeroize(factor, sizeof(factor));
    mbedtls_platform_zeroize(e, sizeof(e));
    mbedtls_mpi_free(&reduced);
    mbedtls_mpi_free(&r_squared);
    return status;
}
