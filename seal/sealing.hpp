// SPDX-License-Identifier: Apache-2.0
// Turning a checksummed loader image into a secure-boot image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// A header field that sealing writes after the DRAM parameter count was taken.
struct SealedField {
    const char* name;
    size_t from;
    size_t to;  // one past the field's last byte
};

// The header fields that sealing (prepare_secure_header, then seal_image) overwrites in a boot
// image of the profile, in offset order; the payload, which it encrypts, is not among them.
std::vector<SealedField> sealed_header_fields(const ChipProfile& profile, bool rsa_signed);
