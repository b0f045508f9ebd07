// SPDX-License-Identifier: Apache-2.0
// Which keys made or check an image, said without giving them away: the SHA-256 of the AES key's
// 16 bytes, and of the RSA public key laid out as the header holds it (N's 128 bytes, then E's
// 32, low byte first). bootseal-sign and bootseal-verify report them alike, so that a pipeline
// can hold an image to the keys it expects.
#pragma once

#include <mbedtls/bignum.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_layout.hpp"

// A key that a run used.
struct KeyUse {
    std::string source = "none";  // "file", "built-in", "header", "token" or "none"
    std::string file;             // the file it came from; empty when none
    std::string fingerprint;      // lower-case hexadecimal SHA-256; empty when it was not read
};

// Lower-case hexadecimal SHA-256 of size bytes.
std::string sha256_hex(const uint8_t* data, size_t size);

// The AES key's fingerprint.
std::string aes_key_fingerprint(const uint8_t key[kAesKeySize]);

// The fingerprint of N and E laid out as the header stores them; empty for a key too large for
// the header's fields.
std::string header_form_fingerprint(const mbedtls_mpi* n, const mbedtls_mpi* e);

// The fingerprint of the RSA key fields of the image in ImageBuffer.
std::string image_key_fingerprint();

// The key as one JSON object: {"source": ..., "file": ... or null, "fingerprint": ... or null}.
std::string json_key_use(const KeyUse& key);

// The fingerprint of the AES key the last sealing or key wrapping used (kept as its digest
// only); empty before one.
const std::string& sealed_aes_key_fingerprint();

// Keeps the fingerprint of key as the one that sealing used.
void note_sealed_aes_key(const uint8_t key[kAesKeySize]);
