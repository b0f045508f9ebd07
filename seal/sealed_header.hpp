// SPDX-License-Identifier: Apache-2.0
// What sealing left in an image's header, recomputed from the image without the AES key: the
// checksums, the header digest that the signature covers, and the header's RSA public key.
#pragma once

#include <mbedtls/bignum.h>

#include <cstddef>
#include <cstdint>

#include "image/image_layout.hpp"
#include "rsa/rsa_crt.hpp"

constexpr size_t kHeaderDigestSize = 32;

// The data checksum sealing stores for the encrypted payload of image: the value that brings the
// payload's 16-bit sum (halfwords plus their indexes) to zero.
uint16_t payload_checksum(const uint8_t* image);

// The header checksum sealing leaves once the data checksum is stored: the first checksum
// brought the whole sum to zero, so the second, taken with the data checksum added, is its
// two's complement.
uint16_t sealed_header_checksum(uint16_t data_checksum);

// The digest of image's header as it was signed: the first 512 bytes with the signature fields
// (and for an RSA-signed image the key fields) zero and the image digest in place.
void recompute_header_digest(const uint8_t* image, bool rsa_signed,
                             uint8_t digest[kHeaderDigestSize]);

// The 128-byte block the RSA signature raises to D: the digest in reverse byte order, then zeros.
void rsa_signed_block(const uint8_t digest[kHeaderDigestSize], uint8_t block[kRsaBlockSize]);

// Reads the RSA modulus and exponent of image's header, stored least significant byte first.
// Returns 0 or the dependency's non-zero code.
int read_header_rsa_key(const uint8_t* image, mbedtls_mpi* n, mbedtls_mpi* e);

// Whether the size bytes of image are a secure image already, as sealing leaves one: 32768
// bytes, the secure marker (on chips whose header has one), a data checksum that matches the
// payload and the header checksum that sealing leaves with it. Sealing it again would encrypt
// its payload twice.
bool is_sealed_image(const ChipProfile& profile, const uint8_t* image, size_t size);
