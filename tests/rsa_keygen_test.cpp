// SPDX-License-Identifier: Apache-2.0
#include "keygen/rsa_keygen.hpp"

#include <gtest/gtest.h>
#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>

#include <cstdint>
#include <cstdio>

#include "keys/key_set.hpp"
#include "seal/rsa_signing.hpp"
#include "tests/test_support.hpp"

namespace {

class RsaKeygen : public ::testing::Test {
protected:
    void SetUp() override {
        mbedtls_entropy_init(&entropy_);
        mbedtls_ctr_drbg_init(&drbg_);
        ASSERT_EQ(mbedtls_ctr_drbg_seed(&drbg_, mbedtls_entropy_func, &entropy_, nullptr, 0), 0);
    }
    void TearDown() override {
        mbedtls_ctr_drbg_free(&drbg_);
        mbedtls_entropy_free(&entropy_);
    }
    // How many of count random header digests give a block that is not below n.
    int unsignable(const mbedtls_mpi* n, int count) {
        int refused = 0;
        mbedtls_mpi block_value;
        mbedtls_mpi_init(&block_value);
        for (int i = 0; i < count; ++i) {
            uint8_t digest[32];
            mbedtls_ctr_drbg_random(&drbg_, digest, sizeof(digest));
            uint8_t block[128] = {0};
            for (size_t b = 0; b < 32; ++b) block[31 - b] = digest[b];
            mbedtls_mpi_read_binary(&block_value, block, sizeof(block));
            if (mbedtls_mpi_cmp_mpi(&block_value, n) >= 0) ++refused;
        }
        mbedtls_mpi_free(&block_value);
        return refused;
    }
    mbedtls_entropy_context entropy_;
    mbedtls_ctr_drbg_context drbg_;
};

TEST_F(RsaKeygen, KeysAreConsistentAndStartWithFF) {
    RsaKeyContext key;
    rsa_key_init(&key);
    ASSERT_EQ(generate_rsa_key(&key, mbedtls_ctr_drbg_random, &drbg_), 0);
    EXPECT_EQ(key.len, 128u);
    EXPECT_EQ(mbedtls_mpi_bitlen(&key.N), 1024u);
    uint8_t modulus[128];
    ASSERT_EQ(mbedtls_mpi_write_binary(&key.N, modulus, sizeof(modulus)), 0);
    EXPECT_EQ(modulus[0], 0xFF);

    // The CRT signature of a block verifies with E and N.
    uint8_t input[128] = {0}, output[128];
    input[0] = 0xAB;
    input[31] = 0x01;
    ASSERT_EQ(capture_stdout([&] { EXPECT_EQ(rsa_private_crt(&key, input, output), 0); }), "");
    mbedtls_mpi s, recovered, expected;
    mbedtls_mpi_init(&s);
    mbedtls_mpi_init(&recovered);
    mbedtls_mpi_init(&expected);
    mbedtls_mpi_read_binary(&s, output, 128);
    mbedtls_mpi_read_binary(&expected, input, 128);
    ASSERT_EQ(mbedtls_mpi_exp_mod(&recovered, &s, &key.E, &key.N, nullptr), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_mpi(&recovered, &expected), 0);
    mbedtls_mpi_free(&s);
    mbedtls_mpi_free(&recovered);
    mbedtls_mpi_free(&expected);

    const std::string priv = format_rsa_private(key);
    EXPECT_EQ(priv.substr(0, 6), "N = FF");
    EXPECT_NE(priv.find("\nQP = "), std::string::npos);
    rsa_key_free(&key);
}

TEST_F(RsaKeygen, AlmostEveryDigestCanBeSignedWithAGeneratedKey) {
    constexpr int kDigests = 400;
    RsaKeyContext key;
    rsa_key_init(&key);
    ASSERT_EQ(generate_rsa_key(&key, mbedtls_ctr_drbg_random, &drbg_), 0);
    const int with_ff = unsignable(&key.N, kDigests);

    // A key from an ordinary generator: modulus top byte 0xBE, about a quarter refused.
    RsaKeyContext ordinary;
    rsa_key_init(&ordinary);
    mbedtls_mpi* const values[] = {&ordinary.N, &ordinary.E};
    ASSERT_EQ(read_rsa_file((std::string(TEST_DATA_DIR) + "/keys/pair-a/rsa_pub.txt").c_str(),
                            values, 2, 2),
              0);
    const int with_be = unsignable(&ordinary.N, kDigests);
    RecordProperty("unsignable_with_ff_modulus", with_ff);
    RecordProperty("unsignable_with_be_modulus", with_be);
    printf("unsignable digests of %d: %d with the generated key, %d with a 0xBE modulus\n",
           kDigests, with_ff, with_be);
    EXPECT_LE(with_ff, kDigests / 100);  // expected about 0.4%
    EXPECT_GE(with_be, kDigests / 6);    // expected about 26%
    rsa_key_free(&key);
    rsa_key_free(&ordinary);
}

}  // namespace
