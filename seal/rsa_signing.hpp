// SPDX-License-Identifier: Apache-2.0
// Signing the header digest with the 1024-bit RSA key of rsa_priv.txt and rsa_pub.txt.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keys/key_files.hpp"
#include "seal/rsa_private_key.hpp"

// The block that a deferred signature must raise to D, kept by the last deferred signing.
extern uint8_t DeferredBlock[kRsaBlockSize];

// Checks signature^E mod N against the signed block with the key's public values, so that a
// signature the boot ROM would reject is never written. A key whose exponent signs nothing
// (public_exponent_fault) verifies nothing.
bool rsa_signature_verifies(const RsaKeyContext* key, const uint8_t signature[kRsaBlockSize],
                            const uint8_t block[kRsaBlockSize]);

// Whether the signature in the image's header verifies, with the key in its header, over the
// block made from header_digest: the image as it will be written, checked from its own fields.
bool image_signature_verifies(const uint8_t header_digest[32]);

// Signs the header digest with the chosen signer: stores the signature (zero when it is deferred),
// N and E in the image. Returns 0 or -1.
int sign_header_rsa(const uint8_t header_digest[32]);
