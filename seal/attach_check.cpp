// SPDX-License-Identifier: Apache-2.0
#include "seal/attach_check.hpp"

#include <mbedtls/bignum.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/image_file.hpp"
#include "keys/read_key.hpp"
#include "platform/file_open.hpp"
#include "platform/file_status.hpp"
#include "seal/rsa_signing.hpp"

namespace {

std::string quoted(const char* path) { return std::string("'") + path + "'"; }

std::string hex16(uint16_t value) {
    char text[8];
    snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// Reads the raw signature: exactly kRsaBlockSize bytes. Returns "" or why not.
std::string read_signature(const char* path, uint8_t signature[kRsaBlockSize]) {
    FILE* file = open_file(path, "rb");
    if (file != nullptr && open_file_kind(file) == PathKind::kFolder) {
        fclose(file);
        file = nullptr;
        errno = EISDIR;
    }
    if (file == nullptr) return "cannot open " + quoted(path) + ": " + strerror(errno);
    uint8_t bytes[kRsaBlockSize + 1];
    const size_t got = fread(bytes, 1, sizeof(bytes), file);
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) return "cannot read " + quoted(path) + ": " + strerror(EIO);
    if (got != kRsaBlockSize) {
        return quoted(path) + " holds " + (got > kRsaBlockSize ? "more than " : "") +
               std::to_string(got > kRsaBlockSize ? kRsaBlockSize : got) +
               " bytes; a raw RSA signature for the header is 128 bytes";
    }
    memcpy(signature, bytes, kRsaBlockSize);
    return "";
}

// What the first step left in the image in ImageBuffer, checked without the AES key. Returns ""
// or the reason, to follow "... is not an unsigned image from --to-sign: ".
std::string unsigned_image_fault(const ChipProfile& profile, long size) {
    if (size != static_cast<long>(kImageSize)) {
        return size > static_cast<long>(kImageSize)
                   ? "it holds more than 32768 bytes"
                   : "it holds " + std::to_string(size) + " bytes, not 32768";
    }
    const HeaderLayout layout = header_layout(profile);
    const uint16_t tag = read_u16_le(layout.boot_tag);
    if (tag != kBootTagValue) return "its boot tag is " + hex16(tag) + ", not 0xAA55";
    const uint16_t marker = read_u16_le(kSecureMarkerOffset);
    if (profile.secure_header && marker != kSecureMarkerValue) {
        return "its secure marker is " + hex16(marker) + ", not 0x55AA";
    }
    // The key before the signature field: an AES-signed image has a signature there, and no key.
    RsaKeyContext header_key;
    rsa_key_init(&header_key);
    read_header_rsa_key(ImageBuffer, &header_key.N, &header_key.E);
    const size_t bits = mbedtls_mpi_bitlen(&header_key.N);
    rsa_key_free(&header_key);
    if (bits <= 1016) {
        return "its header carries no 1024-bit RSA public key (is it an AES-signed image?)";
    }
    for (size_t i = 0; i < kRsaSignatureSize; ++i) {
        if (ImageBuffer[kRsaSignatureOffset + i] != 0) {
            return "its signature field is not all zero (is it signed already?)";
        }
    }
    const uint16_t data_checksum = read_u16_le(kDataChecksumOffset);
    if (data_checksum != payload_checksum(ImageBuffer)) {
        return "its data checksum does not match its encrypted payload (changed after it was "
               "written?)";
    }
    const uint16_t header_checksum = read_u16_le(layout.header_checksum);
    if (header_checksum != sealed_header_checksum(data_checksum)) {
        return "its header checksum " + hex16(header_checksum) + " is not the " +
               hex16(sealed_header_checksum(data_checksum)) +
               " that sealing leaves with its data checksum (changed after it was written?)";
    }
    return "";
}

// Checks the header's key against the key file at path. Returns "" or why not.
std::string pinned_key_fault(const RsaKeyContext& header_key, const char* image, const char* path) {
    RsaKeyContext key;
    rsa_key_init(&key);
    KeyReading reading;
    const int read = read_rsa_key(path, KeyHalf::kPublic, KeyForms::kAny, &key, &reading);
    const int error = errno;
    const bool same = read == 0 && mbedtls_mpi_cmp_mpi(&key.N, &header_key.N) == 0 &&
                      mbedtls_mpi_cmp_mpi(&key.E, &header_key.E) == 0;
    rsa_key_free(&key);
    if (read == kRsaFileMissing) {
        return "cannot open the --rsa-pub key " + quoted(path) + ": " + strerror(error);
    }
    if (read != 0) return reading.why;
    if (same) return "";
    return quoted(image) + " carries another RSA key than " + quoted(path) +
           ": its header's modulus and exponent are not that key's (was it made with another "
           "--rsa-pub?)";
}

}  // namespace

int attach_signature(const AttachFiles& files, const ChipProfile& profile,
                     uint8_t digest[kHeaderDigestSize], std::string* why) {
    uint8_t signature[kRsaBlockSize];
    *why = read_signature(files.signature, signature);
    if (!why->empty()) return 1;
    const long size = load_image_file(files.image);
    if (size < 0) {
        *why = "cannot read " + quoted(files.image) + ": " + strerror(errno);
        return 1;
    }
    const std::string fault = unsigned_image_fault(profile, size);
    if (!fault.empty()) {
        *why = quoted(files.image) + " is not an unsigned image from --to-sign: " + fault;
        return 1;
    }
    recompute_header_digest(ImageBuffer, true, digest);
    uint8_t block[kRsaBlockSize];
    rsa_signed_block(digest, block);

    RsaKeyContext key;
    rsa_key_init(&key);
    read_header_rsa_key(ImageBuffer, &key.N, &key.E);
    const std::string exponent_fault = public_exponent_fault(&key.E);
    if (!exponent_fault.empty()) {
        *why = quoted(files.image) + " carries an RSA key that signs nothing: " + exponent_fault;
    } else if (files.public_key != nullptr) {
        *why = pinned_key_fault(key, files.image, files.public_key);
    }
    if (why->empty() && !rsa_signature_verifies(&key, signature, block)) {
        *why = quoted(files.signature) + " is not a signature of " + quoted(files.image) +
               ": it does not verify with the public key in its header over its header digest";
    }
    rsa_key_free(&key);
    if (!why->empty()) return 1;
    memcpy(ImageBuffer + kRsaSignatureOffset, signature, kRsaSignatureSize);
    return 0;
}
