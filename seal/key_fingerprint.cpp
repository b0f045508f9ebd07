// SPDX-License-Identifier: Apache-2.0
#include "seal/key_fingerprint.hpp"

#include "digest/sha256.hpp"
#include "image/report_text.hpp"

namespace {

std::string sealed_aes_fingerprint;

std::string json_or_null(const std::string& text) {
    return text.empty() ? "null" : json_string(text);
}

}  // namespace

std::string sha256_hex(const uint8_t* data, size_t size) {
    uint8_t digest[32];
    sha256_digest(data, static_cast<int32_t>(size), digest);
    return hex_bytes(digest, sizeof(digest));
}

std::string aes_key_fingerprint(const uint8_t key[kAesKeySize]) {
    return sha256_hex(key, kAesKeySize);
}

std::string header_form_fingerprint(const mbedtls_mpi* n, const mbedtls_mpi* e) {
    static_assert(kRsaModulusOffset + kRsaModulusSize == kRsaExponentOffset,
                  "the exponent field follows the modulus field");
    uint8_t fields[kRsaModulusSize + kRsaExponentSize];
    if (mbedtls_mpi_write_binary_le(n, fields, kRsaModulusSize) != 0 ||
        mbedtls_mpi_write_binary_le(e, fields + kRsaModulusSize, kRsaExponentSize) != 0) {
        return "";
    }
    return sha256_hex(fields, sizeof(fields));
}

std::string image_key_fingerprint() {
    return sha256_hex(ImageBuffer + kRsaModulusOffset, kRsaModulusSize + kRsaExponentSize);
}

std::string json_key_use(const KeyUse& key) {
    return "{\"source\": " + json_string(key.source) + ", \"file\": " + json_or_null(key.file) +
           ", \"fingerprint\": " + json_or_null(key.fingerprint) + "}";
}

const std::string& sealed_aes_key_fingerprint() { return sealed_aes_fingerprint; }

void note_sealed_aes_key(const uint8_t key[kAesKeySize]) {
    sealed_aes_fingerprint = aes_key_fingerprint(key);
}
