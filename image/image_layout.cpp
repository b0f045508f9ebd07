// SPDX-License-Identifier: Apache-2.0
#include "image/image_layout.hpp"

uint8_t ImageBuffer[kImageSize];
uint8_t ScratchBuffer[kImageSize];

namespace {

constexpr size_t kLayoutA = 48;
constexpr size_t kLayoutB = 64;

// One row per chip identifier; the last row serves every identifier not listed.
constexpr ChipProfile kChipProfiles[] = {
    // id   tag       encoding               t3data secure rsa    revkey nowrkey prefix
    {341, kLayoutA, DramEncoding::kFourBit, false, true, true, true, true, "VX30"},
    {342, kLayoutA, DramEncoding::kTwoBit, false, false, false, false, false, "VX50"},
    {227, kLayoutA, DramEncoding::kFourBit, false, false, false, false, false, "VX30"},
    {228, kLayoutA, DramEncoding::kFourBit, false, false, false, false, false, "VX30"},
    {229, kLayoutA, DramEncoding::kFourBit, false, true, false, false, false, "VX30"},
    {173, kLayoutB, DramEncoding::kTwoBit, true, false, false, false, false, "VX30"},
    {-1, kLayoutB, DramEncoding::kTwoBit, false, false, false, false, false, "VX30"},
};
constexpr size_t kProfileCount = sizeof(kChipProfiles) / sizeof(kChipProfiles[0]);

}  // namespace

const ChipProfile& select_chip_profile(int chip_id) {
    for (size_t i = 0; i + 1 < kProfileCount; ++i) {
        if (kChipProfiles[i].chip_id == chip_id) return kChipProfiles[i];
    }
    return kChipProfiles[kProfileCount - 1];
}

const ChipProfile* chip_profiles(size_t* count) {
    *count = kProfileCount;
    return kChipProfiles;
}

HeaderLayout header_layout(const ChipProfile& profile) {
    const size_t tag = profile.tag_offset;
    return {tag, tag + kChecksumFromTag, tag + kCountFromTag, tag + kTableFromTag};
}

void write_u16_le(size_t pos, uint32_t value) {
    if (pos + 2 > kImageSize) return;
    ImageBuffer[pos] = static_cast<uint8_t>(value & 0xFF);
    ImageBuffer[pos + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

static uint8_t byte_at(size_t pos) { return pos < kImageSize ? ImageBuffer[pos] : 0; }

uint16_t read_u16_le(size_t pos) {
    return static_cast<uint16_t>(byte_at(pos) | (byte_at(pos + 1) << 8));
}

uint32_t read_u32_le(size_t pos) {
    return static_cast<uint32_t>(byte_at(pos)) | static_cast<uint32_t>(byte_at(pos + 1)) << 8 |
           static_cast<uint32_t>(byte_at(pos + 2)) << 16 |
           static_cast<uint32_t>(byte_at(pos + 3)) << 24;
}

int check_boot_tag(size_t pos) { return read_u16_le(pos) == kBootTagValue ? 0 : -1; }

int check_key_stamp_tag(size_t pos) { return read_u32_le(pos) == kKeyStampTag ? 0 : -1; }
