// SPDX-License-Identifier: Apache-2.0
// The private-key operation with each of its intermediate values corrupted in turn, as a fault of
// the machine would: it may refuse, or give the right signature, but never a wrong one, which
// would give a factor of N away.
#include <gtest/gtest.h>
#include <mbedtls/bignum.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "rsa/limbs.hpp"
#include "rsa/secret_marks.hpp"
#include "seal/rsa_private_key.hpp"

namespace {

size_t calls;
size_t target;
size_t bit;

void count_or_flip(void* data, size_t size) {
    if (calls++ == target) static_cast<uint8_t*>(data)[(bit / 8) % size] ^= uint8_t(1u << (bit % 8));
}

bool verifies(const RsaKeyContext& key, const uint8_t signature[kRsaBlockSize],
              const uint8_t block[kRsaBlockSize]) {
    mbedtls_mpi s, t, r;
    mbedtls_mpi_init(&s);
    mbedtls_mpi_init(&t);
    mbedtls_mpi_init(&r);
    const bool ok = mbedtls_mpi_read_binary(&s, signature, kRsaBlockSize) == 0 &&
                    mbedtls_mpi_read_binary(&t, block, kRsaBlockSize) == 0 &&
                    mbedtls_mpi_exp_mod(&r, &s, &key.E, &key.N, nullptr) == 0 &&
                    mbedtls_mpi_cmp_mpi(&r, &t) == 0;
    mbedtls_mpi_free(&s);
    mbedtls_mpi_free(&t);
    mbedtls_mpi_free(&r);
    return ok;
}

// The key of pair-high, loaded as the tools load it, and the public key to check with; the
// operation's refusals go to a buffer in memory.
class RsaFaults : public ::testing::Test {
protected:
    void SetUp() override {
        KeySources sources;
        sources.rsa_private_path = priv_.c_str();
        sources.rsa_public_path = pub_.c_str();
        set_key_sources(sources);
        rsa_key_init(&key);
        rsa_key_init(&check);
        ASSERT_EQ(load_rsa_private(&key), 0);
        ASSERT_EQ(load_rsa_public(&check), 0);
        quiet_ = fmemopen(transcript_, sizeof(transcript_), "w");
        ASSERT_NE(quiet_, nullptr);
        set_transcript(quiet_);
    }
    void TearDown() override {
        set_transcript(stdout);
        if (quiet_ != nullptr) fclose(quiet_);
        rsa_key_free(&key);
        rsa_key_free(&check);
    }
    const std::string keys_ = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    const std::string priv_ = keys_ + "rsa_priv.txt", pub_ = keys_ + "rsa_pub.txt";
    RsaKeyContext key, check;
    char transcript_[4096];
    FILE* quiet_ = nullptr;
};

TEST_F(RsaFaults, NoCorruptedIntermediateValueReleasesAWrongSignature) {
    uint8_t block[kRsaBlockSize] = {0};
    for (size_t i = 0; i < 32; ++i) block[i] = uint8_t(0x5A ^ (i * 37));
    uint8_t output[kRsaBlockSize];

    // With E the blinded result is checked with it; without E, against a second computation.
    for (const bool with_e : {true, false}) {
        SCOPED_TRACE(with_e ? "with E" : "without E");
        mbedtls_mpi_lset(&key.E, 0);
        if (with_e) {
            ASSERT_EQ(mbedtls_mpi_copy(&key.E, &check.E), 0);
        }
        rsa_fault_point = count_or_flip;
        target = SIZE_MAX;
        calls = 0;
        ASSERT_EQ(rsa_private_crt(&key, block, output), 0);
        ASSERT_TRUE(verifies(check, output, block));
        const size_t points = calls;
        ASSERT_GT(points, 200u);  // every window of both exponentiations, at least
        size_t refused = 0, released = 0;
        for (target = 0; target < points; ++target) {
            for (const size_t b : {size_t{0}, target * 61 + 7, size_t{511}}) {
                bit = b;
                calls = 0;
                const int result = rsa_private_crt(&key, block, output);
                if (result == 0) {
                    EXPECT_TRUE(verifies(check, output, block)) << "fault " << target << " bit " << b;
                    ++released;
                } else {
                    const uint8_t zero[kRsaBlockSize] = {0};
                    EXPECT_EQ(memcmp(output, zero, sizeof(zero)), 0) << "fault " << target;
                    ++refused;
                }
            }
        }
        // Both ways out are taken with E: faults in values that do not reach the result (D's,
        // which only the check without E uses), and refusals. Without E every value does.
        EXPECT_GT(refused, 0u);
        if (with_e) {
            EXPECT_GT(released, 0u);
        }
    }
    rsa_fault_point = nullptr;
}

// The blinded DP and DQ (the only values of nine limbs, with 64-bit limbs) of each signature.
std::vector<std::vector<uint8_t>> exponents;

void keep_exponents(void* data, size_t size) {
    if (size == 9 * 8) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        exponents.emplace_back(bytes, bytes + size);
    }
}

TEST_F(RsaFaults, EverySignatureHasFreshlyBlindedExponentsWithOrWithoutE) {
    if (sizeof(Limb) != 8) GTEST_SKIP() << "the exponents are told apart by their size";
    uint8_t dp[9 * 8] = {0};
    ASSERT_EQ(mbedtls_mpi_write_binary_le(&key.DP, dp, 8 * 8), 0);
    uint8_t block[kRsaBlockSize] = {0x11, 0x22, 0x33};
    uint8_t output[kRsaBlockSize];
    for (const bool with_e : {true, false}) {
        SCOPED_TRACE(with_e ? "with E" : "without E");
        mbedtls_mpi_lset(&key.E, 0);
        if (with_e) {
            ASSERT_EQ(mbedtls_mpi_copy(&key.E, &check.E), 0);
        }
        exponents.clear();
        rsa_fault_point = keep_exponents;
        for (int run = 0; run < 2; ++run) {
            ASSERT_EQ(rsa_private_crt(&key, block, output), 0);
            EXPECT_TRUE(verifies(check, output, block));
        }
        rsa_fault_point = nullptr;
        ASSERT_EQ(exponents.size(), 4u);  // DP and DQ, twice
        EXPECT_NE(exponents[0], exponents[2]) << "DP blinded alike in two signatures";
        EXPECT_NE(exponents[1], exponents[3]) << "DQ blinded alike in two signatures";
        EXPECT_NE(exponents[0], std::vector<uint8_t>(dp, dp + sizeof(dp))) << "DP not blinded";
    }
}

}  // namespace
