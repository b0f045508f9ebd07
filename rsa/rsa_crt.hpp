// SPDX-License-Identifier: Apache-2.0
// The RSA private-key operation on the header's 128-byte block, in constant time: arithmetic on
// limbs only, no file, no message and no big number of the dependency.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rsa/limbs.hpp"

constexpr size_t kRsaBlockSize = 128;

// A private key as the operation takes it. Every value is kMaxLimbs limbs, least significant
// first, and zero above the key's length; the length and the flags are public, as are N, E and
// the public N.
struct RsaLimbKey {
    size_t len;  // the key's length in bytes, 1 to kRsaBlockSize
    Limb n[kMaxLimbs];
    Limb p[kMaxLimbs], q[kMaxLimbs], d[kMaxLimbs], dp[kMaxLimbs], dq[kMaxLimbs], qp[kMaxLimbs];
    bool has_d;  // D is there to check a result with, where there is no E
    Limb e[kMaxLimbs];
    bool has_e;  // E is positive
    Limb public_n[kMaxLimbs];
    bool has_public_n;  // the public key file's N
};

// How the operation ended.
enum class RsaOutcome {
    kSigned,
    kNotUsable,        // P or Q is even, or DP, DQ, QP or a given D is zero
    kNotBelowModulus,  // the block is not below N
    kNoRandom,         // the operating system gave no random bytes (errno says why)
    kSmallFactors,     // no random blinding value has an inverse modulo P Q
    kResultTooLong,    // a result longer than the key: values that do not belong together
    kOtherPublicKey,   // the public key is another key's (P Q is N but not the public N, or E
                       // does not undo a result that D confirms)
    kDoesNotCheckOut,  // the result failed its check
};

// Computes output = input^D mod N as key->len big-endian bytes, from the len bytes of input, by the
// Chinese remainder theorem from P, Q, DP, DQ and QP, with no branch or memory address that depends
// on a secret. P Q must be N or the public N. Every signature is blinded: DP and DQ by fresh random
// multiples of P - 1 and Q - 1, and, with E, the input by a fresh random factor. The bytes to
// release are checked by raising them to E, or without E against the power computed from D; two
// verdicts of that check, kept apart, each mask the output. So a result that fails its check, which
// would give a factor of N away, leaves as zeros: output is all zero unless the outcome is kSigned.
// Every intermediate value, the stack below and the vector registers are wiped.
RsaOutcome rsa_private_operation(const RsaLimbKey* key, const uint8_t input[kRsaBlockSize],
                                 uint8_t output[kRsaBlockSize]);
