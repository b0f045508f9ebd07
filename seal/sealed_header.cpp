// SPDX-License-Identifier: Apache-2.0
#include "seal/sealed_header.hpp"

#include <cstring>

#include "digest/sha256.hpp"
#include "image/image_checksum.hpp"
#include "image/image_layout.hpp"

namespace {

int read_le_field(const uint8_t* image, mbedtls_mpi* value, size_t offset, size_t size) {
    uint8_t big_endian[kRsaModulusSize];
    for (size_t i = 0; i < size; ++i) big_endian[i] = image[offset + size - 1 - i];
    return mbedtls_mpi_read_binary(value, big_endian, size);
}

}  // namespace

uint16_t payload_checksum(const uint8_t* image) {
    const uint32_t sum = image_checksum_sum(image + kPayloadOffset, kPayloadSize);
    return static_cast<uint16_t>(0x10000u - (sum & 0xFFFFu));
}

uint16_t sealed_header_checksum(uint16_t data_checksum) {
    return static_cast<uint16_t>(0x10000u - data_checksum);
}

void recompute_header_digest(const uint8_t* image, bool rsa_signed,
                             uint8_t digest[kHeaderDigestSize]) {
    uint8_t header[kHeaderSize];
    memcpy(header, image, kHeaderSize);
    // The RSA signature field holds the AES one; the RSA key fields lie just before it.
    const size_t signature_from = rsa_signed ? kRsaModulusOffset : kAesSignatureOffset;
    memset(header + signature_from, 0, kImageDigestOffset - signature_from);
    sha256_digest(header, static_cast<int32_t>(kHeaderSize), digest);
}

void rsa_signed_block(const uint8_t digest[kHeaderDigestSize], uint8_t block[kRsaBlockSize]) {
    memset(block, 0, kRsaBlockSize);
    for (size_t i = 0; i < kHeaderDigestSize; ++i) block[kHeaderDigestSize - 1 - i] = digest[i];
}

int read_header_rsa_key(const uint8_t* image, mbedtls_mpi* n, mbedtls_mpi* e) {
    const int result = read_le_field(image, n, kRsaModulusOffset, kRsaModulusSize);
    return result != 0 ? result : read_le_field(image, e, kRsaExponentOffset, kRsaExponentSize);
}

bool is_sealed_image(const ChipProfile& profile, const uint8_t* image, size_t size) {
    if (size != kImageSize) return false;
    auto u16 = [image](size_t pos) {
        return static_cast<uint16_t>(image[pos] | image[pos + 1] << 8);
    };
    if (profile.secure_header && u16(kSecureMarkerOffset) != kSecureMarkerValue) return false;
    const uint16_t data_checksum = u16(kDataChecksumOffset);
    return data_checksum == payload_checksum(image) &&
           u16(header_layout(profile).header_checksum) == sealed_header_checksum(data_checksum);
}
