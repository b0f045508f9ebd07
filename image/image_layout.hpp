// SPDX-License-Identifier: Apache-2.0
// The 32 KiB boot image, the offsets of its header fields and the per-chip profile.
#pragma once

#include <cstddef>
#include <cstdint>

// An AES-128 key: the sealing key, and the key a wr-key image carries wrapped.
constexpr size_t kAesKeySize = 16;
constexpr size_t kImageSize = 0x8000;   // every image is read into, processed and written as 32768 bytes
constexpr size_t kHeaderSize = 512;     // the boot ROM's header; the payload follows it
constexpr size_t kPayloadSize = kImageSize - kHeaderSize;

// Offsets relative to the chip's boot tag.
constexpr size_t kChecksumFromTag = 2;
constexpr size_t kCountFromTag = 8;     // dram_param_count and the four version bytes
constexpr size_t kTableFromTag = 16;

// Fields at the same offset in every layout.
constexpr size_t kKeyStampOffset = 112;
constexpr size_t kKeyStampSize = 16;
constexpr size_t kWrappedKeyOffset = 128;
constexpr size_t kWrappedKeySize = 16;
constexpr size_t kSecureMarkerOffset = 140;
constexpr size_t kDataChecksumOffset = 142;
constexpr size_t kRsaModulusOffset = 192;
constexpr size_t kRsaModulusSize = 128;
constexpr size_t kRsaExponentOffset = 320;
constexpr size_t kRsaExponentSize = 32;
constexpr size_t kRsaSignatureOffset = 352;
constexpr size_t kRsaSignatureSize = 128;
constexpr size_t kAesSignatureOffset = 448;
constexpr size_t kAesSignatureSize = 32;
constexpr size_t kImageDigestOffset = 480;
constexpr size_t kImageDigestSize = 32;
constexpr size_t kPayloadOffset = kHeaderSize;

constexpr uint16_t kBootTagValue = 0xAA55;
constexpr uint16_t kSecureMarkerValue = 0x55AA;
constexpr uint32_t kKeyStampTag = 0x041A0B15;

// The loader image, zero-filled before the input is read into its start.
extern uint8_t ImageBuffer[kImageSize];
// A second image-sized buffer where sealing encrypts a copy of the image.
extern uint8_t ScratchBuffer[kImageSize];

// Where the chip-dependent header fields sit.
struct HeaderLayout {
    size_t boot_tag;
    size_t header_checksum;
    size_t dram_param_count;
    size_t dram_param_table;
};

enum class DramEncoding { kFourBit, kTwoBit };

// What a chip identifier selects.
struct ChipProfile {
    int chip_id;                 // the row's identifier; -1 for the catch-all row
    size_t tag_offset;           // 48 (layout A) or 64 (layout B)
    DramEncoding encoding;
    bool type3_has_data;         // a type-3 table command is followed by a data word
    bool secure_header;          // sealing writes the secure marker and clears the signature fields
    bool can_sign_rsa;           // secure_boot 2 makes an RSA-signed image
    bool reversed_default_key;   // takes the second variant of the built-in default key
    bool never_wr_key;           // secure_boot 3 seals with AES instead of wrapping a key
    const char* version_prefix;  // printed before the chip id: "VX30" or "VX50"
};

// Returns the profile row of chip_id; unknown identifiers take the catch-all row.
const ChipProfile& select_chip_profile(int chip_id);

// Returns the rows of the profile table, the catch-all row last, and their number in count: for a
// description that lists which chips share a fact. A chip's own facts come from
// select_chip_profile.
const ChipProfile* chip_profiles(size_t* count);

// Returns the offsets of the chip-dependent header fields of a profile.
HeaderLayout header_layout(const ChipProfile& profile);

// Stores the low 16 bits of value at image offset pos, low byte first.
void write_u16_le(size_t pos, uint32_t value);

// Reads the 16-bit little-endian value at image offset pos; bytes past the image read as zero.
uint16_t read_u16_le(size_t pos);

// Reads the 32-bit little-endian word at image offset pos; bytes past the image read as zero.
uint32_t read_u32_le(size_t pos);

// Returns 0 when the 16-bit value at pos is the boot tag 0xAA55, -1 otherwise.
int check_boot_tag(size_t pos);

// Returns 0 when the 32-bit word at pos is the key stamp tag 0x041A0B15, -1 otherwise.
int check_key_stamp_tag(size_t pos);
