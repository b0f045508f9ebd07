// SPDX-License-Identifier: Apache-2.0
#include "image/dram_table.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

struct WalkCase {
    const char* name;
    int chip;
    std::vector<uint32_t> words;  // written from the table offset on
    int count;
    const char* printed;
};

void load_table(size_t pos, const std::vector<uint32_t>& words) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    for (size_t i = 0; i < words.size(); ++i) {
        const uint32_t w = words[i];
        for (size_t b = 0; b < 4; ++b) ImageBuffer[pos + 4 * i + b] = static_cast<uint8_t>(w >> (8 * b));
    }
}

TEST(DramTable, WalkCountsAndDescribesEntries) {
    const WalkCase cases[] = {
        {"empty table", 229, {0}, 0, ""},
        {"four-bit type 2 with value 0", 229, {0x02000000, 0}, 1, ""},
        {"type 8 prints the efuse halfword", 229, {0x08000013, 0}, 1, "Load efuse halfword 0x13\r\n"},
        {"type 8 keeps five bits", 341, {0x08FFFFF3, 0}, 1, "Load efuse halfword 0x13\r\n"},
        {"type 9 decodes mode, leg, range, base", 227, {0x49001234, 0}, 1,
         "Compensate driving: Odd only, PLEG, range 0x12, base 0x34\r\n"},
        {"type 9 other mode and leg", 228, {0xA90000FF, 0}, 1,
         "Compensate driving: Even only, NLEG, range 0x0, base 0xff\r\n"},
        {"type 9 dummy mode", 228, {0xC9000000, 0}, 1,
         "Compensate driving: Dummy, PLEG, range 0x0, base 0x0\r\n"},
        {"type 10 enabled then disabled", 229, {0x0A000001, 0x0A000002, 0}, 2,
         "Duty average is ENABLED\r\nDuty average is DISABLED\r\n"},
        {"types 0 and 1 take a data word", 229, {0x00000001, 0x08000001, 0x01000000, 0x08000002, 0}, 2,
         ""},
        {"types 5 to 7 take a data word", 229,
         {0x05000000, 0x08000001, 0x06000000, 0x08000001, 0x07000000, 0x08000001, 0}, 3, ""},
        {"types 11 to 15 are skipped", 229,
         {0x0B000000, 0x0C000000, 0x0D000000, 0x0E000000, 0x0F000000, 0x04000000, 0}, 1, ""},
        {"two-bit type 1 with a data word", 0, {0x20000005, 0x00000000, 0}, 1, ""},
        {"two-bit type 3 has no data word", 0, {0x60000000, 0x40000000, 0}, 2, ""},
        {"chip 173 type 3 takes a data word", 173, {0x60000000, 0x40000000, 0}, 1, ""},
        {"two-bit zero type with value", 342, {0x00000007, 0x00000000, 0x40000001, 0}, 2, ""},
        {"two-bit ignores bits 24..27 as type", 0, {0x0A000001, 0}, 1, ""},
        {"two-bit value keeps bit 31", 0, {0x80000000, 0x12345678, 0}, 1, ""},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ChipProfile& profile = select_chip_profile(c.chip);
        const size_t table = profile.tag_offset + kTableFromTag;
        load_table(table, c.words);
        int count = -1;
        const std::string out = capture_stdout([&] { count = count_dram_params(table, profile); });
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(out, c.printed);
    }
}

TEST(DramTable, WalkStopsAtTheEndOfTheImage) {
    const ChipProfile& profile = select_chip_profile(229);
    // Type 2 words fill the whole image from the table on; the last word is a type-0 command
    // whose data word lies past the image and reads as zero.
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    for (size_t pos = 64; pos < kImageSize; pos += 4) ImageBuffer[pos + 3] = 0x02;
    ImageBuffer[kImageSize - 1] = 0x00;
    ImageBuffer[kImageSize - 4] = 0x01;
    int count = 0;
    capture_stdout([&] { count = count_dram_params(64, profile); });
    EXPECT_EQ(count, static_cast<int>((kImageSize - 64) / 4));
}

TEST(DramTable, LastWordEfuseCommandIsStillHandled) {
    const ChipProfile& profile = select_chip_profile(229);
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    for (size_t pos = 64; pos < kImageSize - 4; pos += 4) ImageBuffer[pos + 3] = 0x0B;  // skipped
    ImageBuffer[kImageSize - 1] = 0x08;
    ImageBuffer[kImageSize - 4] = 0x05;
    int count = 0;
    const std::string out = capture_stdout([&] { count = count_dram_params(64, profile); });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(out, "Load efuse halfword 0x5\r\n");
}

TEST(DramTable, CountStoreKeepsTwelveBitsAndTheHighNibble) {
    struct StoreCase {
        int count;
        uint8_t before0, before1, after0, after1;
    };
    const StoreCase cases[] = {
        {0xABC, 0x12, 0x34, 0xBC, 0x3A},
        {0, 0xFF, 0xFF, 0x00, 0xF0},
        {4095, 0x00, 0x00, 0xFF, 0x0F},
        {4096, 0x77, 0x55, 0x00, 0x50},
        {0x1234, 0x00, 0xC0, 0x34, 0xC2},
    };
    for (const StoreCase& c : cases) {
        SCOPED_TRACE(c.count);
        memset(ImageBuffer, 0, sizeof(ImageBuffer));
        ImageBuffer[56] = c.before0;
        ImageBuffer[57] = c.before1;
        store_dram_param_count(56, c.count);
        EXPECT_EQ(ImageBuffer[55], 0);
        EXPECT_EQ(ImageBuffer[56], c.after0);
        EXPECT_EQ(ImageBuffer[57], c.after1);
        EXPECT_EQ(ImageBuffer[58], 0);
    }
}

}  // namespace
