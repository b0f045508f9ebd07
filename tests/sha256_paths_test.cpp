// SPDX-License-Identifier: Apache-2.0
// The two SHA-256 compressions, each chosen explicitly. Needs nothing but the digest code, so
// that it also runs where the tool is cross-built (tools/arm64-check.sh).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "digest/sha256.hpp"
#include "digest/sha256_hardware.hpp"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

std::string digest_hex(const Bytes& data) {
    uint8_t out[32];
    sha256_digest(data.data(), static_cast<int32_t>(data.size()), out);
    std::string text;
    char pair[3];
    for (uint8_t byte : out) {
        snprintf(pair, sizeof(pair), "%02x", byte);
        text += pair;
    }
    return text;
}

// The published examples on each, and the same digests from both on many pseudo-random messages
// of every length up to five blocks.
TEST(Sha256, HardwareAndPortableCompressionsAgree) {
    if (!sha256_hardware_available()) {
        GTEST_SKIP() << "this processor has no SHA-256 instructions";
    }
    uint32_t seed = 12345;
    for (size_t n = 0; n <= 320; ++n) {
        Bytes data(n);
        for (uint8_t& byte : data) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<uint8_t>(seed >> 16);
        }
        sha256_use_portable(true);
        const std::string portable = digest_hex(data);
        sha256_use_portable(false);
        ASSERT_EQ(digest_hex(data), portable) << "length " << n;
    }
    // One block straight into both, from a state that is not the initial one.
    uint32_t portable_state[8], hardware_state[8];
    for (uint32_t i = 0; i < 8; ++i) portable_state[i] = hardware_state[i] = 0x9e3779b9u * (i + 1);
    Bytes block(64);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 131 + 17);
    sha256_compress_portable(portable_state, block.data());
    sha256_compress_hardware(hardware_state, block.data());
    EXPECT_EQ(memcmp(portable_state, hardware_state, sizeof(portable_state)), 0);
}

#if defined(__x86_64__)
// The choice follows the processor's own answer to cpuid (leaf 1: SSSE3, SSE4.1; leaf 7: SHA),
// asked here directly, whatever the tool reads it from.
TEST(Sha256, HardwarePathIsChosenExactlyWhenTheProcessorHasIt) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_TRUE(__get_cpuid(1, &a, &b, &c, &d));
    const bool sse = (c & bit_SSSE3) != 0 && (c & bit_SSE4_1) != 0;
    const bool sha = __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA) != 0;
    EXPECT_EQ(sha256_hardware_available(), sse && sha);
}
#endif

TEST(Sha256, PublishedExamplesOnEachCompression) {
    for (const bool portable : {true, false}) {
        SCOPED_TRACE(portable ? "portable" : "fastest available");
        sha256_use_portable(portable);
        const std::string abc = "abc";
        EXPECT_EQ(digest_hex(Bytes(abc.begin(), abc.end())),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(digest_hex(Bytes(1000000, 'a')),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
        EXPECT_EQ(digest_hex(Bytes()),
                  "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    }
    sha256_use_portable(false);
}

}  // namespace
