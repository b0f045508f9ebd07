#include "secure/montgomery.hpp"

#include <gtest/gtest.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>

namespace {

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
