// SPDX-License-Identifier: Apache-2.0
#include "rsa/montgomery.hpp"

#include <gtest/gtest.h>
#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>

#include <cstring>

#include "rsa/mod_inverse.hpp"

namespace {

// Reads a non-negative public value below 2^(n * kLimbBits) into n limbs.
int public_limbs(const mbedtls_mpi* value, Limb* limbs, size_t n) {
    uint8_t bytes[kMaxLimbs * sizeof(Limb)];
    const int result = mbedtls_mpi_write_binary_le(value, bytes, n * sizeof(Limb));
    if (result == 0) limbs_from_le_bytes(bytes, n * sizeof(Limb), limbs, n);
    return result;
}

// result = base^exponent mod modulus by the Montgomery code, on public values of at most 1024
// bits (an odd modulus); MBEDTLS_ERR_MPI_BAD_INPUT_DATA for any other. What the tests hold
// against the dependency's exponentiation.
int montgomery_exp_mod(mbedtls_mpi* result, const mbedtls_mpi* base, const mbedtls_mpi* exponent,
                       const mbedtls_mpi* modulus) {
    if (mbedtls_mpi_cmp_int(modulus, 0) <= 0 || mbedtls_mpi_get_bit(modulus, 0) == 0 ||
        mbedtls_mpi_bitlen(modulus) > kMontgomeryMaxBits || mbedtls_mpi_cmp_int(exponent, 0) < 0 ||
        mbedtls_mpi_bitlen(exponent) > kMontgomeryMaxBits || mbedtls_mpi_cmp_int(base, 0) < 0) {
        return MBEDTLS_ERR_MPI_BAD_INPUT_DATA;
    }
    const size_t n = (mbedtls_mpi_bitlen(modulus) + kLimbBits - 1) / kLimbBits;
    MontgomeryModulus mod;
    Limb m[kMaxLimbs] = {0}, x[kMaxLimbs] = {0}, e[kMaxLimbs] = {0}, power[kMaxLimbs] = {0};
    mbedtls_mpi reduced;
    mbedtls_mpi_init(&reduced);
    // The values are public: base mod m is left to the dependency's division.
    int status = public_limbs(modulus, m, n);
    if (status == 0) status = mbedtls_mpi_mod_mpi(&reduced, base, modulus);
    if (status == 0) status = public_limbs(&reduced, x, n);
    if (status == 0) status = public_limbs(exponent, e, kMaxLimbs);
    if (status == 0) {
        montgomery_prepare(&mod, m, n, true);
        montgomery_enter(&mod, x, x);
        montgomery_power_public(&mod, x, e, kMaxLimbs, power);
        montgomery_leave(&mod, power, power);
        uint8_t bytes[kMaxLimbs * sizeof(Limb)];
        limbs_to_be_bytes(power, n, bytes, n * sizeof(Limb));
        status = mbedtls_mpi_read_binary(result, bytes, n * sizeof(Limb));
    }
    mbedtls_mpi_free(&reduced);
    return status;
}

// Compares the Montgomery exponentiation with the dependency's on random odd moduli of every
// limb count, random bases (below and above the modulus) and random exponents.
TEST(Montgomery, AgreesWithTheDependencyOnRandomValues) {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    ASSERT_EQ(mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0), 0);
    mbedtls_mpi m, b, e, ours, theirs;
    mbedtls_mpi* const all[] = {&m, &b, &e, &ours, &theirs};
    for (mbedtls_mpi* v : all) mbedtls_mpi_init(v);

    const size_t modulus_bits[] = {2, 3, 31, 32, 33, 63, 64, 65, 127, 128, 129, 500, 512, 513,
                                   767, 1000, 1017, 1023, 1024};
    for (size_t bits : modulus_bits) {
        for (int round = 0; round < 6; ++round) {
            SCOPED_TRACE(testing::Message() << bits << " bits, round " << round);
            ASSERT_EQ(mbedtls_mpi_fill_random(&m, (bits + 7) / 8, mbedtls_ctr_drbg_random, &drbg), 0);
            ASSERT_EQ(mbedtls_mpi_shift_r(&m, (bits + 7) / 8 * 8 - bits), 0);
            ASSERT_EQ(mbedtls_mpi_set_bit(&m, bits - 1, 1), 0);
            ASSERT_EQ(mbedtls_mpi_set_bit(&m, 0, 1), 0);
            ASSERT_EQ(mbedtls_mpi_fill_random(&b, 128 + 8 * static_cast<size_t>(round % 2),
                                              mbedtls_ctr_drbg_random, &drbg),
                      0);
            const size_t exponent_bytes[] = {0, 1, 3, 64, 65, 128};
            ASSERT_EQ(mbedtls_mpi_fill_random(&e, exponent_bytes[round], mbedtls_ctr_drbg_random,
                                              &drbg),
                      0);
            ASSERT_EQ(montgomery_exp_mod(&ours, &b, &e, &m), 0);
            ASSERT_EQ(mbedtls_mpi_exp_mod(&theirs, &b, &e, &m, nullptr), 0);
            EXPECT_EQ(mbedtls_mpi_cmp_mpi(&ours, &theirs), 0);
        }
    }
    for (mbedtls_mpi* v : all) mbedtls_mpi_free(v);
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
}

TEST(Montgomery, SmallKnownAnswersAndRefusals) {
    mbedtls_mpi m, b, e, r;
    mbedtls_mpi_init(&m);
    mbedtls_mpi_init(&b);
    mbedtls_mpi_init(&e);
    mbedtls_mpi_init(&r);
    mbedtls_mpi_lset(&m, 3233);
    mbedtls_mpi_lset(&b, 65);
    mbedtls_mpi_lset(&e, 17);
    ASSERT_EQ(montgomery_exp_mod(&r, &b, &e, &m), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&r, 2790), 0);  // 65^17 mod 3233
    mbedtls_mpi_lset(&e, 0);
    ASSERT_EQ(montgomery_exp_mod(&r, &b, &e, &m), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&r, 1), 0);
    mbedtls_mpi_lset(&m, 1);
    ASSERT_EQ(montgomery_exp_mod(&r, &b, &e, &m), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&r, 0), 0);

    mbedtls_mpi_lset(&m, 3234);  // even
    EXPECT_EQ(montgomery_exp_mod(&r, &b, &e, &m), MBEDTLS_ERR_MPI_BAD_INPUT_DATA);
    mbedtls_mpi_lset(&m, 0);
    EXPECT_EQ(montgomery_exp_mod(&r, &b, &e, &m), MBEDTLS_ERR_MPI_BAD_INPUT_DATA);
    mbedtls_mpi_lset(&m, 1);
    mbedtls_mpi_shift_l(&m, 1024);
    mbedtls_mpi_add_int(&m, &m, 1);  // 1025 bits
    EXPECT_EQ(montgomery_exp_mod(&r, &b, &e, &m), MBEDTLS_ERR_MPI_BAD_INPUT_DATA);
    mbedtls_mpi_free(&m);
    mbedtls_mpi_free(&b);
    mbedtls_mpi_free(&e);
    mbedtls_mpi_free(&r);
}

}  // namespace

namespace {

// Reads a non-negative value below 2^(n * kLimbBits) into n limbs.
void to_limbs(const mbedtls_mpi* value, Limb* limbs, size_t n) {
    uint8_t bytes[kMaxLimbs * sizeof(Limb)];
    ASSERT_EQ(mbedtls_mpi_write_binary(value, bytes, n * sizeof(Limb)), 0);
    limbs_from_be_bytes(bytes, n * sizeof(Limb), limbs, n);
}

// The secret modulus's R^2, against the dependency's arithmetic on random odd moduli of every
// limb count, with the top limb set or not.
TEST(Montgomery, PreparationAgreesWithTheDependency) {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    ASSERT_EQ(mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0), 0);
    mbedtls_mpi m, r, expected;
    mbedtls_mpi* const all[] = {&m, &r, &expected};
    for (mbedtls_mpi* v : all) mbedtls_mpi_init(v);
    for (size_t n = 1; n <= kMaxLimbs; ++n) {
        for (int round = 0; round < 8; ++round) {
            SCOPED_TRACE(testing::Message() << n << " limbs, round " << round);
            // Rounds 0 to 3 fill the top limb; the others leave some of its top bits clear.
            const size_t clear[] = {0, 0, 0, 0, 1, kLimbBits / 4, kLimbBits / 2, kLimbBits - 2};
            const size_t bits = n * kLimbBits - clear[round];
            ASSERT_EQ(mbedtls_mpi_fill_random(&m, (bits + 7) / 8, mbedtls_ctr_drbg_random, &drbg), 0);
            ASSERT_EQ(mbedtls_mpi_shift_r(&m, (bits + 7) / 8 * 8 - bits), 0);
            ASSERT_EQ(mbedtls_mpi_set_bit(&m, bits - 1, 1), 0);
            ASSERT_EQ(mbedtls_mpi_set_bit(&m, 0, 1), 0);
            Limb ml[kMaxLimbs] = {0}, want[kMaxLimbs] = {0};
            to_limbs(&m, ml, n);
            MontgomeryModulus mod;
            // The short way for a set top limb, and the long way, which works for any modulus.
            montgomery_prepare(&mod, ml, n, round % 2 == 0);
            ASSERT_EQ(mbedtls_mpi_lset(&r, 1), 0);
            ASSERT_EQ(mbedtls_mpi_shift_l(&r, n * kLimbBits), 0);  // R
            ASSERT_EQ(mbedtls_mpi_mul_mpi(&expected, &r, &r), 0);
            ASSERT_EQ(mbedtls_mpi_mod_mpi(&expected, &expected, &m), 0);
            to_limbs(&expected, want, n);
            EXPECT_EQ(memcmp(mod.rr, want, n * sizeof(Limb)), 0) << "R^2 mod m";
        }
    }
    for (mbedtls_mpi* v : all) mbedtls_mpi_free(v);
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
}

// The constant-time inverse against the dependency's, on odd moduli from one limb to 1024 bits (a
// spare limb leaves the top one zero): random values, also above m, the edges 1 and m - 1, and
// values with no inverse: zero, and multiples of a factor of m (3, or a prime of an RSA-like m),
// which must be refused with a zero result.
TEST(Montgomery, ConstantTimeInverseAgreesWithTheDependency) {
    enum Value { kRandom, kZero, kOne, kMinusOne, kMultipleOfFactor };
    // factor 0: m is a product of two primes of bits / 2 bits each.
    struct Row {
        size_t bits, spare_limbs;
        unsigned factor;
        Value value;
        int rounds;
    };
    const Row rows[] = {{2, 0, 1, kRandom, 8},
                        {5, 0, 1, kRandom, 16},
                        {kLimbBits, 0, 1, kRandom, 16},
                        {kLimbBits + 1, 0, 1, kRandom, 16},
                        {3 * kLimbBits, 1, 1, kRandom, 8},
                        {1000, 0, 1, kRandom, 8},
                        {1024, 0, 1, kRandom, 16},
                        {1024, 0, 1, kOne, 2},
                        {1024, 0, 1, kMinusOne, 2},
                        {1024, 0, 1, kZero, 2},
                        {1024, 0, 3, kRandom, 8},
                        {kLimbBits + 7, 0, 3, kMultipleOfFactor, 8},
                        {900, 1, 3, kMultipleOfFactor, 4},
                        {1024, 0, 0, kRandom, 2},
                        {1024, 0, 0, kMultipleOfFactor, 2}};
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    ASSERT_EQ(mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0), 0);
    mbedtls_mpi m, factor, x, want;
    mbedtls_mpi* const all[] = {&m, &factor, &x, &want};
    for (mbedtls_mpi* v : all) mbedtls_mpi_init(v);
    for (const Row& row : rows) {
        for (int round = 0; round < row.rounds; ++round) {
            SCOPED_TRACE(testing::Message() << "row " << &row - rows << ", round " << round);
            if (row.factor == 0) {
                ASSERT_EQ(
                    mbedtls_mpi_gen_prime(&factor, row.bits / 2, 0, mbedtls_ctr_drbg_random, &drbg),
                    0);
                ASSERT_EQ(
                    mbedtls_mpi_gen_prime(&x, row.bits / 2, 0, mbedtls_ctr_drbg_random, &drbg), 0);
                ASSERT_EQ(mbedtls_mpi_mul_mpi(&m, &factor, &x), 0);
            } else {
                const size_t bits = row.bits - (row.factor == 3 ? 2 : 0);
                ASSERT_EQ(
                    mbedtls_mpi_fill_random(&m, (bits + 7) / 8, mbedtls_ctr_drbg_random, &drbg), 0);
                ASSERT_EQ(mbedtls_mpi_shift_r(&m, (bits + 7) / 8 * 8 - bits), 0);
                ASSERT_EQ(mbedtls_mpi_set_bit(&m, bits - 1, 1), 0);
                ASSERT_EQ(mbedtls_mpi_set_bit(&m, 0, 1), 0);
                ASSERT_EQ(mbedtls_mpi_mul_int(&m, &m, row.factor), 0);
                ASSERT_EQ(mbedtls_mpi_lset(&factor, row.factor), 0);
            }
            const size_t n = (mbedtls_mpi_bitlen(&m) + kLimbBits - 1) / kLimbBits + row.spare_limbs;
            ASSERT_EQ(mbedtls_mpi_fill_random(&x, n * sizeof(Limb), mbedtls_ctr_drbg_random, &drbg),
                      0);
            if (row.value == kMultipleOfFactor) {
                ASSERT_EQ(mbedtls_mpi_mod_mpi(&x, &x, &m), 0);
                ASSERT_EQ(mbedtls_mpi_div_mpi(&x, nullptr, &x, &factor), 0);
                ASSERT_EQ(mbedtls_mpi_mul_mpi(&x, &x, &factor), 0);
            }
            if (row.value == kZero || row.value == kOne) {
                ASSERT_EQ(mbedtls_mpi_lset(&x, row.value == kOne ? 1 : 0), 0);
            }
            if (row.value == kMinusOne) {
                ASSERT_EQ(mbedtls_mpi_sub_int(&x, &m, 1), 0);
            }

            Limb ml[kMaxLimbs] = {0}, xl[kMaxLimbs] = {0}, expected[kMaxLimbs] = {0},
                 out[kMaxLimbs];
            memset(out, 0xA5, sizeof(out));
            to_limbs(&m, ml, n);
            to_limbs(&x, xl, n);
            MontgomeryModulus mod;
            montgomery_prepare(&mod, ml, n, row.spare_limbs == 0);
            InverseWork work;
            const Limb verdict = montgomery_inverse(&mod, xl, &work, out);
            const bool invertible = mbedtls_mpi_inv_mod(&want, &x, &m) == 0;
            if (invertible) {  // x^-1 R mod m
                ASSERT_EQ(mbedtls_mpi_shift_l(&want, n * kLimbBits), 0);
                ASSERT_EQ(mbedtls_mpi_mod_mpi(&want, &want, &m), 0);
                to_limbs(&want, expected, n);
            }
            EXPECT_EQ(verdict, invertible ? ~Limb{0} : Limb{0});
            EXPECT_EQ(memcmp(out, expected, n * sizeof(Limb)), 0) << "x^-1 R mod m, or zero";
        }
    }
    for (mbedtls_mpi* v : all) mbedtls_mpi_free(v);
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
}

}  // namespace
