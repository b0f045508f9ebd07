// SPDX-License-Identifier: Apache-2.0
// The inverse of a secret number modulo an odd modulus, in constant time.
#pragma once

#include <cstddef>

#include "rsa/limbs.hpp"
#include "rsa/montgomery.hpp"

// The working memory of one inversion: everything it holds comes from the number inverted, so
// the caller keeps it with its other secrets and wipes it with them.
struct InverseWork {
    Limb f[kMaxLimbs + 1], g[kMaxLimbs + 1];  // signed, two's complement
    Limb d[kMaxLimbs], e[kMaxLimbs];          // f = d x / R and g = e x / R modulo m
    Limb sum[kMaxLimbs + 1], other[kMaxLimbs + 1];
};

// out = x^-1 R mod m, the Montgomery form of the inverse of x modulo the odd modulus of mod
// (above 1), for any x of mod->n limbs. Returns all ones when x has an inverse; else zero, with
// out zero. The instructions run and the addresses touched depend on the modulus's limb count
// only, never on x or on the modulus's value.
Limb montgomery_inverse(const MontgomeryModulus* mod, const Limb* x, InverseWork* work, Limb* out);
