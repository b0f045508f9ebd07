// SPDX-License-Identifier: Apache-2.0
#include "keys/key_files.hpp"
#include "seal/sealing.hpp"

#include <gtest/gtest.h>
#include <mbedtls/bignum.h>

#include <cstring>
#include <string>

#include "seal/rsa_signing.hpp"
#include "tests/test_support.hpp"

namespace {

TEST(Sealing, DigestWordsAreLittleEndianWithoutLeadingZeros) {
    uint8_t bytes[32];
    for (size_t i = 0; i < 32; ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0;
    EXPECT_EQ(capture_stdout([&] { print_digest_words("Sig: 0x%x 0x%x 0x%x 0x%x\r\n", bytes); }),
              "Sig: 0x4030201 0x0 0xc0b0a09 0x100f0e0d\r\n"
              "        0x14131211 0x18171615 0x1c1b1a19 0x201f1e1d\r\n");
}

struct PrepareCase {
    int chip;
    bool rsa;
    bool prepared;
};

TEST(Sealing, HeaderPreparationClearsTheSecureFieldsOnSecureChipsOnly) {
    const PrepareCase cases[] = {
        {229, false, true}, {341, false, true}, {341, true, true}, {227, false, false},
        {342, false, false}, {0, false, false}};
    for (const PrepareCase& c : cases) {
        SCOPED_TRACE(c.chip);
        memset(ImageBuffer, 0xCC, sizeof(ImageBuffer));
        prepare_secure_header(select_chip_profile(c.chip), c.rsa);
        for (size_t i = 0; i < 1024; ++i) {
            uint8_t want = 0xCC;
            if (c.prepared) {
                if (i == 140) want = 0xAA;
                if (i == 141) want = 0x55;
                if (i == 142 || i == 143 || (i >= 352 && i < 512)) want = 0;
                if (c.rsa && i >= 192 && i < 352) want = 0;
            }
            ASSERT_EQ(ImageBuffer[i], want) << "offset " << i;
        }
    }
}

class RsaOperation : public ::testing::Test {
protected:
    void SetUp() override { rsa_key_init(&key_); }
    void TearDown() override { rsa_key_free(&key_); }
    // A toy key, N = 61 * 53 = 3233, D = 2753, E = 17, stretched to a 128-byte block by the length.
    void toy_key() {
        mbedtls_mpi_lset(&key_.N, 3233);
        mbedtls_mpi_lset(&key_.D, 2753);
        mbedtls_mpi_lset(&key_.P, 61);
        mbedtls_mpi_lset(&key_.Q, 53);
        mbedtls_mpi_lset(&key_.DP, 2753 % 60);
        mbedtls_mpi_lset(&key_.DQ, 2753 % 52);
        mbedtls_mpi_lset(&key_.QP, 38);  // 53 * 38 = 2014 = 33 * 61 + 1
        key_.len = 128;
    }
    RsaKeyContext key_;
};

TEST_F(RsaOperation, CrtMatchesThePlainExponentiation) {
    toy_key();
    uint8_t input[128] = {0};
    uint8_t output[128];
    input[127] = 65;  // 65^2753 mod 3233 = 588
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(rsa_private_crt(&key_, input, output), 0); }), "");
    for (size_t i = 0; i < 126; ++i) ASSERT_EQ(output[i], 0);
    EXPECT_EQ(output[126] << 8 | output[127], 588);
}

TEST_F(RsaOperation, RefusesBlocksNotBelowNAndUnusableKeys) {
    toy_key();
    uint8_t input[128] = {0};
    uint8_t output[128];
    input[126] = 0x0C;  // 3233 = 0x0CA1
    input[127] = 0xA1;
    std::string out = capture_stdout([&] { EXPECT_EQ(rsa_private_crt(&key_, input, output), -1); });
    EXPECT_NE(out.find("too large for this modulus"), std::string::npos);

    input[126] = 0;
    mbedtls_mpi_lset(&key_.P, 62);  // an even prime factor cannot be used
    out = capture_stdout([&] { EXPECT_EQ(rsa_private_crt(&key_, input, output), -1); });
    EXPECT_NE(out.find("not a usable private key"), std::string::npos);

    mbedtls_mpi_lset(&key_.P, 61);
    mbedtls_mpi_lset(&key_.D, 0);  // D must be present although the CRT path does not use it
    out = capture_stdout([&] { EXPECT_EQ(rsa_private_crt(&key_, input, output), -1); });
    EXPECT_NE(out.find("not a usable private key"), std::string::npos);
}

TEST_F(RsaOperation, OnlyTheSignatureBelowNVerifies) {
    toy_key();
    mbedtls_mpi_lset(&key_.E, 17);
    uint8_t block[128] = {0};
    block[127] = 65;
    struct Case {
        unsigned signature;
        bool verifies;
    };
    // 588 and 588 + N both raise to 65; only the one below N is the signature.
    for (const Case c : {Case{588, true}, Case{588 + 3233, false}, Case{589, false}}) {
        uint8_t signature[128] = {0};
        signature[126] = static_cast<uint8_t>(c.signature >> 8);
        signature[127] = static_cast<uint8_t>(c.signature);
        EXPECT_EQ(rsa_signature_verifies(&key_, signature, block), c.verifies) << c.signature;
    }
}

}  // namespace
