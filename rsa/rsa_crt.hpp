// SPDX-License-Identifier: Apache-2.0
// The RSA private-key operation on the header's 128-byte block, in constant time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keys/key_files.hpp"

constexpr size_t kRsaBlockSize = 128;

// The transcript's reason, and what to do, when the block to sign is not below the modulus; the
// same whichever signer meets it.
inline constexpr char kBlockNotBelowModulus[] =
    " failed\n  ! The header digest of this image is too large for this modulus: the signed block"
    " is not below N.\n  ! Change the image (for example its version bytes) or use a key whose"
    " modulus has a high top byte.\n\n";

// What rsa_private_crt returns, without a word, when the public key is another key's (P Q is the
// key's N but not public_n, or E does not undo a result that D confirms); nothing is signed.
constexpr int kRsaOtherPublicKey = 1;

// Computes output = input^D mod N as key->len big-endian bytes, by the Chinese remainder theorem
// from P, Q, DP, DQ and QP, with no branch or memory address that depends on a secret. P Q must
// be the key's N or public_n, the public key file's (when it was read). Every signature is
// blinded: DP and DQ by fresh random multiples of P - 1 and Q - 1, and, with the key's E, the
// input by a fresh random factor. The bytes to release are checked by raising them to E, or
// without E against the computation from D; two verdicts of that check, kept apart, each mask
// the output. So a result that fails its check, which would give a factor of N away, leaves as
// zeros. Prints why and returns -1, with output all zero, when the key cannot be used, input is
// not below N or the result does not check out; returns kRsaOtherPublicKey without a word. Every
// intermediate value is wiped.
int rsa_private_crt(const RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                    uint8_t output[kRsaBlockSize], const mbedtls_mpi* public_n = nullptr);
