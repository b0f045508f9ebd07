// SPDX-License-Identifier: Apache-2.0
#include "seal/sealing.hpp"

#include <mbedtls/platform_util.h>

#include <cstdio>
#include <cstring>

#include "digest/sha256.hpp"
#include "image/image_checksum.hpp"
#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "seal/aes_cipher.hpp"
#include "seal/key_fingerprint.hpp"
#include "seal/rsa_signing.hpp"

namespace {

constexpr size_t kDigestSize = 32;

void le_words(const uint8_t* bytes, uint32_t words[4]) {
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* p = bytes + 4 * i;
        words[i] = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
}

// Signs the header digest with the AES key that encrypted the payload, echoing it again when it
// came from a file as the transcript always has: its CBC encryption goes into the header.
int sign_header_aes(const uint8_t key[kAesKeySize], bool from_file,
                    uint8_t header_digest[kDigestSize]) {
    if (from_file) say_aes_key("%02x ", key);
    if (aes_cbc_encrypt(key, header_digest, kDigestSize) != 0) return -1;
    print_digest_words("Encypt Sig: 0x%x 0x%x 0x%x 0x%x\r\n", header_digest);
    memcpy(ImageBuffer + kAesSignatureOffset, header_digest, kAesSignatureSize);
    return 0;
}

// Encrypts the payload with key, stores its checksum, the re-checksum and the image digest, and
// leaves the header digest in header_digest. Returns 0 or -1.
int encrypt_and_digest(const ChipProfile& profile, const uint8_t key[kAesKeySize],
                       uint8_t header_digest[kDigestSize]) {
    // The data checksum covers the ciphertext, taken from an encrypted copy of the payload.
    memcpy(ScratchBuffer + kPayloadOffset, ImageBuffer + kPayloadOffset, kPayloadSize);
    int result = aes_cbc_encrypt(key, ScratchBuffer + kPayloadOffset, kPayloadSize);
    if (result == 0) {
        const uint16_t data_checksum = image_checksum(ScratchBuffer + kPayloadOffset, kPayloadSize);
        say("Data CheckSum: 0x%04X\n\n", data_checksum);
        write_u16_le(kDataChecksumOffset, data_checksum);

        // Summed with the first header checksum still in its field, which it then replaces.
        const uint16_t re_checksum = image_checksum(ImageBuffer, kImageSize);
        say("Re-CheckSum: 0x%04X\n\n", re_checksum);
        write_u16_le(header_layout(profile).header_checksum, re_checksum);

        uint8_t image_digest[kDigestSize];
        sha256_digest(ImageBuffer, static_cast<int32_t>(kImageSize), image_digest);
        memcpy(ImageBuffer + kImageDigestOffset, image_digest, kImageDigestSize);
        print_digest_words("SHA256: 0x%x 0x%x 0x%x 0x%x\r\n", image_digest);

        // The payload is the copy's ciphertext, the one the data checksum was taken over: the
        // same plaintext under the same key and zero IV, so it is copied, not encrypted again.
        // Everything written since the copy lies in the header.
        static_assert(kDataChecksumOffset + 2 <= kPayloadOffset &&
                          kImageDigestOffset + kImageDigestSize <= kPayloadOffset,
                      "the fields written after the copy must lie in the header");
        memcpy(ImageBuffer + kPayloadOffset, ScratchBuffer + kPayloadOffset, kPayloadSize);
    }
    if (result != 0) return -1;

    sha256_digest(ImageBuffer, static_cast<int32_t>(kHeaderSize), header_digest);
    print_digest_words("Sig: 0x%x 0x%x 0x%x 0x%x\r\n", header_digest);
    return 0;
}

}  // namespace

void print_digest_words(const char* first_format, const uint8_t bytes[32]) {
    uint32_t words[4];
    le_words(bytes, words);
    say(first_format, words[0], words[1], words[2], words[3]);
    le_words(bytes + 16, words);
    say("        0x%x 0x%x 0x%x 0x%x\r\n", words[0], words[1], words[2], words[3]);
}

void prepare_secure_header(const ChipProfile& profile, bool rsa_signed) {
    if (!profile.secure_header) return;
    write_u16_le(kSecureMarkerOffset, kSecureMarkerValue);
    write_u16_le(kDataChecksumOffset, 0);
    // The RSA signature field includes the AES signature field.
    memset(ImageBuffer + kRsaSignatureOffset, 0, kRsaSignatureSize);
    memset(ImageBuffer + kImageDigestOffset, 0, kImageDigestSize);
    if (rsa_signed) {
        memset(ImageBuffer + kRsaExponentOffset, 0, kRsaExponentSize);
        memset(ImageBuffer + kRsaModulusOffset, 0, kRsaModulusSize);
    }
}

uint8_t SealedHeaderDigest[32];

int seal_image(const ChipProfile& profile, bool rsa_signed) {
    // The AES key is read once (its file may be a pipe) and kept here for both of its uses.
    uint8_t key[kAesKeySize] = {0};
    bool from_file = false;
    uint8_t header_digest[kDigestSize];
    if (load_aes_key(profile, "%02x ", true, key, &from_file) != 0 ||
        encrypt_and_digest(profile, key, header_digest) != 0) {
        mbedtls_platform_zeroize(key, sizeof(key));
        return -1;
    }
    note_sealed_aes_key(key);
    if (rsa_signed) mbedtls_platform_zeroize(key, sizeof(key));
    memcpy(SealedHeaderDigest, header_digest, kDigestSize);
    say("WIN32 system !!\r\n");
    int result = rsa_signed ? sign_header_rsa(header_digest)
                            : sign_header_aes(key, from_file, header_digest);
    mbedtls_platform_zeroize(key, sizeof(key));
    // The image as it will be written is checked once more, from its own fields, so that a fault
    // that has the signing step report success without a signature stops here.
    if (result == 0 && rsa_signed && key_sources().signer != RsaSigner::kDeferred &&
        !image_signature_verifies(header_digest)) {
        say(" failed\n  ! The image's RSA signature does not verify with the key in its header:"
            " nothing was written\n\n");
        result = -1;
    }
    mbedtls_platform_zeroize(header_digest, sizeof(header_digest));
    return result;
}

std::vector<SealedField> sealed_header_fields(const ChipProfile& profile, bool rsa_signed) {
    const HeaderLayout layout = header_layout(profile);
    std::vector<SealedField> fields = {
        {"the header checksum", layout.header_checksum, layout.header_checksum + 2}};
    if (profile.secure_header) {
        fields.push_back({"the secure marker", kSecureMarkerOffset, kSecureMarkerOffset + 2});
    }
    fields.push_back({"the data checksum", kDataChecksumOffset, kDataChecksumOffset + 2});
    // An RSA-signed image's key and signature fields are written whether or not the header was
    // prepared; an AES-signed one's signature field is the last quarter of the RSA signature's.
    if (rsa_signed) {
        fields.push_back(
            {"the RSA modulus", kRsaModulusOffset, kRsaModulusOffset + kRsaModulusSize});
        fields.push_back(
            {"the RSA exponent", kRsaExponentOffset, kRsaExponentOffset + kRsaExponentSize});
        fields.push_back(
            {"the RSA signature", kRsaSignatureOffset, kRsaSignatureOffset + kRsaSignatureSize});
    } else if (profile.secure_header) {
        fields.push_back(
            {"the RSA signature", kRsaSignatureOffset, kRsaSignatureOffset + kRsaSignatureSize});
    } else {
        fields.push_back(
            {"the AES signature", kAesSignatureOffset, kAesSignatureOffset + kAesSignatureSize});
    }
    fields.push_back(
        {"the image digest", kImageDigestOffset, kImageDigestOffset + kImageDigestSize});
    return fields;
}
