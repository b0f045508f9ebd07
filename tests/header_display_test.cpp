// SPDX-License-Identifier: Apache-2.0
#include "image/header_display.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "image/image_layout.hpp"
#include "tests/test_support.hpp"

namespace {

void put_image_u32(size_t pos, uint32_t value) {
    for (size_t b = 0; b < 4; ++b) ImageBuffer[pos + b] = static_cast<uint8_t>(value >> (8 * b));
}

TEST(HeaderDisplay, VersionBytesAreShownUnsignedInAddressOrder) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    const uint8_t version[] = {0x01, 0x02, 0x80, 0xFF};
    memcpy(ImageBuffer + 56, version, 4);
    EXPECT_EQ(capture_stdout([] { show_version(48); }), "VersionNumber: 01,02,80,FF\n");
    memcpy(ImageBuffer + 72, version, 4);
    ImageBuffer[72] = 0xAB;
    EXPECT_EQ(capture_stdout([] { show_version(64); }), "VersionNumber: AB,02,80,FF\n");
}

TEST(HeaderDisplay, KeyStampShowsDateSerialAndTime) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    put_image_u32(112, 0x041A0B15);
    put_image_u32(116, (23u << 16) | (7u << 28) | (5u << 24));
    // year field 2, month 9, day 6, bit 11 set (not shown), serial 0x12
    put_image_u32(120, 2u | (9u << 3) | (6u << 7) | (1u << 11) | (0x12u << 12));
    EXPECT_EQ(capture_stdout([] { show_key_stamp(112); }),
              "=>Secure program key\n=>[2015-09-06-00012-23.07.05]\n");
}

TEST(HeaderDisplay, KeyStampExtremes) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    put_image_u32(112, 0x041A0B15);
    put_image_u32(116, 0xFFFFFFFF);
    put_image_u32(120, 0xFFFFFFFF);
    EXPECT_EQ(capture_stdout([] { show_key_stamp(112); }),
              "=>Secure program key\n=>[2020-15-15-fffff-255.15.15]\n");
}

TEST(HeaderDisplay, KeyStampWithAnotherTagPrintsNothing) {
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    put_image_u32(112, 0x041A0B16);
    put_image_u32(120, 0x12345);
    EXPECT_EQ(capture_stdout([] { show_key_stamp(112); }), "");
}

}  // namespace
