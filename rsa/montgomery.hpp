// SPDX-License-Identifier: Apache-2.0
// Modular multiplication and exponentiation in Montgomery form for the RSA sizes of this tool.
#pragma once

#include <cstddef>

#include "rsa/limbs.hpp"

// The largest modulus handled: 1024 bits, the RSA modulus of the header.
constexpr size_t kMontgomeryMaxBits = kMaxLimbBits;

// An odd modulus m of n limbs made ready for Montgomery arithmetic with R = 2^(n * kLimbBits).
struct MontgomeryModulus {
    Limb m[kMaxLimbs];
    Limb rr[kMaxLimbs];  // R^2 mod m, which takes a number into Montgomery form
    Limb m_inv;          // -m^-1 mod 2^kLimbBits
    size_t n;
};

// The powers 0 to 15 of a base, one for each value of a four-bit window of the exponent.
constexpr unsigned kWindowBits = 4;
using PowerTable = Limb[size_t{1} << kWindowBits][kMaxLimbs];

// Makes mod ready for the odd modulus m of n limbs (1 to kMaxLimbs), also when m is secret:
// R^2 mod m is found by doublings and squarings, with no division. top_limb_set, which must be
// public, says that m's top limb is not zero, which saves most of the doublings.
void montgomery_prepare(MontgomeryModulus* mod, const Limb* m, size_t n, bool top_limb_set);

// out = a * b / R mod m, for a below R and b below m; out may alias a or b.
void montgomery_multiply(const MontgomeryModulus* mod, const Limb* a, const Limb* b, Limb* out);

// out = a R mod m, a number of n limbs taken into Montgomery form (any a below R).
void montgomery_enter(const MontgomeryModulus* mod, const Limb* a, Limb* out);

// out = a / R mod m, a number in Montgomery form taken back out.
void montgomery_leave(const MontgomeryModulus* mod, const Limb* a, Limb* out);

// out = base^exponent in Montgomery form, for a base in Montgomery form and a secret exponent of
// exponent_limbs limbs: every window of the exponent, leading zeros included, costs four squarings
// and one multiplication by an entry read from the whole table, so the exponent's value leaves
// no trace in time or in the addresses read. table and factor are the caller's working memory.
void montgomery_power(const MontgomeryModulus* mod, const Limb* base, const Limb* exponent,
                      size_t exponent_limbs, PowerTable table, Limb* factor, Limb* out);

// out = base^exponent in Montgomery form for a public exponent: bit by bit, skipping its leading
// zeros. The base may be secret.
void montgomery_power_public(const MontgomeryModulus* mod, const Limb* base, const Limb* exponent,
                             size_t exponent_limbs, Limb* out);
