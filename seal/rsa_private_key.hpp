// SPDX-License-Identifier: Apache-2.0
// The private-key operation on a key as the key readers give it: its values taken into limbs
// without a branch on them, the refusals said in the transcript.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keys/key_files.hpp"
#include "rsa/rsa_crt.hpp"

// The transcript's reason, and what to do, when the block to sign is not below the modulus; the
// same whichever signer meets it.
inline constexpr char kBlockNotBelowModulus[] =
    " failed\n  ! The header digest of this image is too large for this modulus: the signed block"
    " is not below N.\n  ! Change the image (for example its version bytes) or use a key whose"
    " modulus has a high top byte.\n\n";

// What rsa_private_crt returns, without a word, when the public key is another key's; nothing
// is signed.
constexpr int kRsaOtherPublicKey = 1;

// Computes output = input^D mod N as key->len big-endian bytes with rsa_private_operation, with
// the key's E where it has one and public_n, the public key file's N, when it was read. Prints
// why and returns -1, with output all zero, when the key cannot be used, input is not below N
// or the result does not check out; returns kRsaOtherPublicKey without a word. The key's values
// in limbs are wiped on every way out.
int rsa_private_crt(const RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                    uint8_t output[kRsaBlockSize], const mbedtls_mpi* public_n = nullptr);
