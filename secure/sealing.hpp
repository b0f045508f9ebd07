// SPDX-License-Identifier: Apache-2.0
// Turning a checksummed loader image into a secure-boot image.
#pragma once

#include <cstdint>

#include "image/image_layout.hpp"

// Prints 32 bytes as eight little-endian words: four with first_format, four on a second line.
void print_digest_words(const char* first_format, const uint8_t bytes[32]);

// On chips with a secure header, writes the secure marker and clears the checksum, digest and
// signature fields (and the RSA key fields of an RSA-signed image) before the header checksum.
void prepare_secure_header(const ChipProfile& profile, bool rsa_signed);

// The header digest that the last seal_image signed (public: it is what the signature covers).
extern uint8_t SealedHeaderDigest[32];

// Encrypts the payload, stores the data checksum, re-checksum and image digest, and signs the
// header with the AES key or, for an RSA-signed image, the RSA key. Returns 0 or -1.
int seal_image(const ChipProfile& profile, bool rsa_signed);
