// SPDX-License-Identifier: Apache-2.0
// The verifier against images made by the sealing path itself, in-process: random loaders of
// every chip and mode pass, and no flipped bit of a signed image passes.
#include "check/image_checks.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "image/image_layout.hpp"
#include "image/seal_mode.hpp"
#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "seal/make_image.hpp"
#include "tests/test_support.hpp"

namespace {

const std::string kKeys = std::string(TEST_DATA_DIR) + "/keys/";
const char* const kPairs[] = {"pair-high", "pair-a", "pair-b"};

class SealedImages : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        quiet_ = fopen("/dev/null", "w");
        set_transcript(quiet_);
    }
    void TearDown() override {
        set_transcript(stdout);
        fclose(quiet_);
        set_key_sources(KeySources());
        TempDirTest::TearDown();
    }

    // A loader in ImageBuffer: random bytes, the boot tag, and a table of count random commands
    // (each type of either encoding, with its data word where one follows) ending in a zero word,
    // or running on through the random bytes when terminated is false.
    void make_loader(const ChipProfile& profile, size_t count, bool terminated) {
        for (uint8_t& byte : ImageBuffer) byte = static_cast<uint8_t>(random_());
        write_u16_le(profile.tag_offset, kBootTagValue);
        size_t pos = header_layout(profile).dram_param_table;
        const int type_shift = profile.encoding == DramEncoding::kFourBit ? 24 : 29;
        for (size_t i = 0; i < count && pos + 8 <= kImageSize; ++i, pos += 8) {
            const uint32_t type = static_cast<uint32_t>(random_() % 16);
            put(pos, static_cast<uint32_t>(random_()) | type << type_shift | 1);
        }
        if (terminated && pos + 4 <= kImageSize) put(pos, 0);
    }
    void put(size_t pos, uint32_t word) {
        write_u16_le(pos, word & 0xFFFF);
        write_u16_le(pos + 2, word >> 16);
    }

    std::mt19937_64 random_{19};
    FILE* quiet_ = nullptr;
};

// Whether any check failed, and the lines of those that did not pass, for the failure message.
bool any_failed(const std::vector<CheckResult>& results, std::string* lines) {
    bool failed = false;
    for (const CheckResult& r : results) {
        if (r.status == CheckStatus::kOk) continue;
        failed = failed || r.status == CheckStatus::kFail;
        *lines += r.name + " " + status_name(r.status) + " " + r.detail + "\n";
    }
    return failed;
}

TEST_F(SealedImages, EverySealedImagePassesAndNoFlippedBitOfASignedOnePasses) {
    write_text(path("aes.txt"), "#release 00112233445566778899aabbccddeeff\n");
    const std::string aes_file = path("aes.txt");
    const std::string no_file = path("none/aes.txt");
    const int chips[] = {341, 342, 227, 228, 229, 173, 0, 7, 1000, -5};
    size_t sealed = 0, confirmed_short_tables = 0, unchecked_counts = 0;
    for (int round = 0; round < 300; ++round) {
        for (const int chip : chips) {
            const ChipProfile& profile = select_chip_profile(chip);
            const int secure = 1 + round % 2;
            const bool file_key = round % 3 != 0;
            const std::string pair = kKeys + kPairs[round % 3] + "/";
            const std::string priv = pair + "rsa_priv.txt", pub = pair + "rsa_pub.txt";
            KeySources sources;
            sources.aes_path = file_key ? aes_file.c_str() : nullptr;
            sources.rsa_private_path = priv.c_str();
            sources.rsa_public_path = pub.c_str();
            set_key_sources(sources);
            // Table lengths from empty to past the image's end, short ones most often.
            const size_t count = random_() % 2 ? random_() % 24 : random_() % 4200;
            make_loader(profile, count, random_() % 4 != 0);
            const SealMode mode = decide_mode(profile, secure);
            if (make_image(profile, mode, chip) != 0) {
                ASSERT_EQ(mode, SealMode::kRsaSigned) << chip;  // a digest above the modulus
                continue;
            }
            ++sealed;
            VerifyOutcome outcome;
            const std::vector<CheckResult> results = verify_image(
                kImageSize,
                {chip, secure, file_key ? aes_file : no_file, file_key, pub, true, false},
                &outcome);
            std::string lines;
            ASSERT_FALSE(any_failed(results, &lines))
                << "chip " << chip << " mode " << secure << " table " << count << "\n" << lines;
            for (const CheckResult& r : results) {
                if (r.name != "dram count") continue;
                if (r.status == CheckStatus::kUnchecked) ++unchecked_counts;
                // A table that ends within the header's first field bytes is always confirmed.
                if (count < 4 && r.status == CheckStatus::kOk) ++confirmed_short_tables;
            }
        }
    }
    EXPECT_GT(sealed, 2700u);
    EXPECT_GT(confirmed_short_tables, 100u);
    EXPECT_GT(unchecked_counts, 100u);

    // Every bit of the header, and every seventeenth bit of the payload, with the right keys
    // given: no flip passes. Where the image confirms its key, each flip fails a check; on a chip
    // whose header sealing does not prepare, what it cannot confirm leaves the result at least
    // UNCHECKED, and --strict fails it.
    struct FlipCase {
        int chip;
        int secure;
        bool strict;
        CheckStatus at_least;
    };
    const FlipCase flips[] = {{229, 1, false, CheckStatus::kFail},
                              {341, 2, false, CheckStatus::kFail},
                              {342, 1, false, CheckStatus::kUnchecked},
                              {342, 1, true, CheckStatus::kFail}};
    for (const FlipCase& f : flips) {
        const ChipProfile& profile = select_chip_profile(f.chip);
        const std::string pub = kKeys + "pair-high/rsa_pub.txt";
        const std::string priv = kKeys + "pair-high/rsa_priv.txt";
        KeySources sources;
        sources.aes_path = aes_file.c_str();
        sources.rsa_private_path = priv.c_str();
        sources.rsa_public_path = pub.c_str();
        set_key_sources(sources);
        make_loader(profile, 40, true);
        ASSERT_EQ(make_image(profile, decide_mode(profile, f.secure), f.chip), 0);
        const Bytes good(ImageBuffer, ImageBuffer + kImageSize);
        const VerifyRequest request = {f.chip, f.secure, aes_file, true, pub, true, f.strict};
        for (size_t bit = 0; bit < kImageSize * 8; bit += bit < kHeaderSize * 8 ? 1 : 17) {
            memcpy(ImageBuffer, good.data(), kImageSize);
            ImageBuffer[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            VerifyOutcome outcome;
            const CheckTally tally = tally_checks(verify_image(kImageSize, request, &outcome));
            const bool unchecked_enough = f.at_least == CheckStatus::kUnchecked && tally.unchecked;
            ASSERT_TRUE(tally.failed || unchecked_enough)
                << "chip " << f.chip << (f.strict ? " --strict" : "") << ", bit " << bit
                << " passes";
        }
    }
}

}  // namespace
