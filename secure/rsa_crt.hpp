// SPDX-License-Identifier: Apache-2.0
// The RSA private-key operation on the header's 128-byte block, in constant time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "secure/key_files.hpp"

constexpr size_t kRsaBlockSize = 128;

// The transcript's reason, and what to do, when the block to sign is not below the modulus; the
// same whichever signer meets it.
inline constexpr char kBlockNotBelowModulus[] =
    " failed\n  ! The header digest of this image is too large for this modulus: the signed block"
    " is not below N.\n  ! Change the image (for example its version bytes) or use a key whose"
    " modulus has a high top byte.\n\n";

// Computes output = input^D mod N as key->len big-endian bytes, by the Chinese remainder theorem
// from P, Q, DP, DQ and QP, with no branch or memory address that depends on a secret. P Q must
// be the key's N or public_n, the public key file's (when it was read). With the key's E the
// input is blinded by a fresh random factor and the result is checked by raising it to E;
// without E, or when that check fails, the result is computed again from D without the CRT and
// the two must agree. So no wrong result, which would give away a factor of N, ever leaves.
// Prints why and returns -1, with output all zero, when the key cannot be used, input is not
// below N or the result does not check out. Every intermediate value is wiped.
int rsa_private_crt(const RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                    uint8_t output[kRsaBlockSize], const mbedtls_mpi* public_n = nullptr);
