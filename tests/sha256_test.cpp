// SPDX-License-Identifier: Apache-2.0
#include "digest/sha256.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

std::string digest_hex(const Bytes& data) {
    uint8_t out[32];
    EXPECT_EQ(sha256_digest(data.data(), static_cast<int32_t>(data.size()), out), 0);
    return hex(out, 32);
}

std::string digest_in_pieces(const Bytes& data, size_t seed) {
    Sha256Context context;
    memset(&context, 0, sizeof(context));
    sha256_start(&context);
    size_t pos = 0;
    size_t step = seed;
    while (pos < data.size()) {
        step = (step * 7 + 3) % 97;  // piece sizes 0..96, crossing block borders at odd places
        const size_t piece = std::min(step, data.size() - pos);
        sha256_update(&context, data.data() + pos, static_cast<int32_t>(piece));
        pos += piece;
    }
    uint8_t out[32];
    sha256_finish(&context, out);
    return hex(out, 32);
}

Bytes pattern(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>((i * 131 + 17) ^ (i >> 8));
    return data;
}

const char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(Sha256, PublishedExamples) {
    const std::string abc = "abc";
    EXPECT_EQ(digest_hex(Bytes(abc.begin(), abc.end())),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(digest_hex(Bytes(two_blocks.begin(), two_blocks.end())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest_hex(Bytes(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, EmptyZeroAndNegativeLengthsDigestTheEmptyMessage) {
    uint8_t data[4] = {1, 2, 3, 4};
    uint8_t out[32];
    for (int32_t length : {0, -1, -64, INT32_MIN}) {
        SCOPED_TRACE(length);
        sha256_digest(data, length, out);
        EXPECT_EQ(hex(out, 32), kEmptyDigest);
    }
}

class Sha256AgainstOpenssl : public TempDirTest {
protected:
    std::string openssl_digest(const Bytes& data) {
        write_file(path("data.bin"), data);
        return shell_output("openssl dgst -sha256 -r " + path("data.bin")).substr(0, 64);
    }
};

TEST_F(Sha256AgainstOpenssl, EveryLengthUpTo200AndTheImageSizes) {
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 200; ++n) sizes.push_back(n);
    sizes.push_back(512);
    sizes.push_back(32768);
    for (size_t n : sizes) {
        SCOPED_TRACE(n);
        const Bytes data = pattern(n);
        const std::string expected = openssl_digest(data);
        ASSERT_EQ(expected.size(), 64u) << "openssl did not answer";
        EXPECT_EQ(digest_hex(data), expected);
        EXPECT_EQ(digest_in_pieces(data, n), expected);
    }
}

TEST(Sha256, RepeatedDigestsAgreeBecauseEachStartsFromACleanContext) {
    const Bytes data = pattern(32768);
    const std::string first = digest_hex(data);
    EXPECT_EQ(digest_hex(pattern(55)), digest_hex(pattern(55)));
    EXPECT_EQ(digest_hex(data), first);
}

TEST(Sha256, ByteCountCarriesIntoTheHighWord) {
    Sha256Context context;
    memset(&context, 0, sizeof(context));
    sha256_start(&context);
    context.byte_count_low = 0xFFFFFFC0u;  // as if 2^32 - 64 bytes had been absorbed
    const Bytes block = pattern(64);
    sha256_update(&context, block.data(), 64);
    EXPECT_EQ(context.byte_count_low, 0u);
    EXPECT_EQ(context.byte_count_high, 1u);
    sha256_update(&context, block.data(), 10);
    EXPECT_EQ(context.byte_count_low, 10u);
    EXPECT_EQ(context.byte_count_high, 1u);
}

}  // namespace
