// SPDX-License-Identifier: Apache-2.0
#include "image/image_layout.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct ProfileRow {
    int chip;
    size_t tag;
    DramEncoding encoding;
    bool type3_data, secure, rsa, reversed_key, never_wr_key;
    const char* prefix;
};

TEST(ChipProfile, EveryIdentifierSelectsItsRow) {
    const auto four = DramEncoding::kFourBit;
    const auto two = DramEncoding::kTwoBit;
    const ProfileRow rows[] = {
        {341, 48, four, false, true, true, true, true, "VX30"},
        {342, 48, two, false, false, false, false, false, "VX50"},
        {227, 48, four, false, false, false, false, false, "VX30"},
        {228, 48, four, false, false, false, false, false, "VX30"},
        {229, 48, four, false, true, false, false, false, "VX30"},
        {173, 64, two, true, false, false, false, false, "VX30"},
        {0, 64, two, false, false, false, false, false, "VX30"},
        {340, 64, two, false, false, false, false, false, "VX30"},
        {-1, 64, two, false, false, false, false, false, "VX30"},
        {-341, 64, two, false, false, false, false, false, "VX30"},
    };
    for (const ProfileRow& row : rows) {
        SCOPED_TRACE(row.chip);
        const ChipProfile& p = select_chip_profile(row.chip);
        EXPECT_EQ(p.tag_offset, row.tag);
        EXPECT_EQ(p.encoding, row.encoding);
        EXPECT_EQ(p.type3_has_data, row.type3_data);
        EXPECT_EQ(p.secure_header, row.secure);
        EXPECT_EQ(p.can_sign_rsa, row.rsa);
        EXPECT_EQ(p.reversed_default_key, row.reversed_key);
        EXPECT_EQ(p.never_wr_key, row.never_wr_key);
        EXPECT_STREQ(p.version_prefix, row.prefix);
    }
}

TEST(HeaderLayout, FieldsFollowTheTag) {
    const HeaderLayout a = header_layout(select_chip_profile(229));
    EXPECT_EQ(a.boot_tag, 48u);
    EXPECT_EQ(a.header_checksum, 50u);
    EXPECT_EQ(a.dram_param_count, 56u);
    EXPECT_EQ(a.dram_param_table, 64u);
    const HeaderLayout b = header_layout(select_chip_profile(173));
    EXPECT_EQ(b.boot_tag, 64u);
    EXPECT_EQ(b.header_checksum, 66u);
    EXPECT_EQ(b.dram_param_count, 72u);
    EXPECT_EQ(b.dram_param_table, 80u);
}

TEST(ImageFields, SixteenBitWritesAreLittleEndianAndKeepOnlyLowBits) {
    memset(ImageBuffer, 0xEE, sizeof(ImageBuffer));
    write_u16_le(10, 0x12ABCD);
    EXPECT_EQ(ImageBuffer[9], 0xEE);
    EXPECT_EQ(ImageBuffer[10], 0xCD);
    EXPECT_EQ(ImageBuffer[11], 0xAB);
    EXPECT_EQ(ImageBuffer[12], 0xEE);
}

TEST(ImageFields, ReadsPastTheEndAreZeroAndWritesThereAreDropped) {
    memset(ImageBuffer, 0xFF, sizeof(ImageBuffer));
    EXPECT_EQ(read_u32_le(kImageSize - 4), 0xFFFFFFFFu);
    EXPECT_EQ(read_u32_le(kImageSize - 2), 0x0000FFFFu);
    EXPECT_EQ(read_u32_le(kImageSize), 0u);
    EXPECT_EQ(read_u16_le(kImageSize - 1), 0x00FFu);
    write_u16_le(kImageSize - 1, 0);  // must not touch memory past the image
    EXPECT_EQ(ImageBuffer[kImageSize - 1], 0xFF);
}

TEST(TagChecks, BootTagMustBe55ThenAA) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    ImageBuffer[48] = 0x55;
    ImageBuffer[49] = 0xAA;
    EXPECT_EQ(check_boot_tag(48), 0);
    ImageBuffer[48] = 0xAA;
    ImageBuffer[49] = 0x55;
    EXPECT_EQ(check_boot_tag(48), -1);
    EXPECT_EQ(check_boot_tag(64), -1);
}

TEST(TagChecks, KeyStampTagIsOneLittleEndianWord) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    const uint8_t stamp[] = {0x15, 0x0B, 0x1A, 0x04};
    memcpy(ImageBuffer + kKeyStampOffset, stamp, 4);
    EXPECT_EQ(check_key_stamp_tag(kKeyStampOffset), 0);
    ImageBuffer[kKeyStampOffset + 3] = 0x05;
    EXPECT_EQ(check_key_stamp_tag(kKeyStampOffset), -1);
}

}  // namespace
