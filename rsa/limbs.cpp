// SPDX-License-Identifier: Apache-2.0
#include "rsa/limbs.hpp"

void limbs_select(Limb mask, const Limb* a, const Limb* b, size_t n, Limb* out) {
    const Limb keep = value_barrier(mask);
    for (size_t i = 0; i < n; ++i) out[i] = (a[i] & keep) | (b[i] & static_cast<Limb>(~keep));
}

Limb limbs_zero_mask(const Limb* a, size_t n) {
    Limb any = 0;
    for (size_t i = 0; i < n; ++i) any |= a[i];
    return mask_if_zero(any);
}

Limb limbs_equal_mask(const Limb* a, const Limb* b, size_t n) {
    Limb difference = 0;
    for (size_t i = 0; i < n; ++i) difference |= a[i] ^ b[i];
    return mask_if_zero(difference);
}

// The carries and borrows come out of the double-width sums as plain bits: a comparison of the
// sum with an operand is what some compilers turn into a jump.
Limb limbs_add(const Limb* a, const Limb* b, size_t n, Limb* out) {
    Limb carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const WideLimb sum = static_cast<WideLimb>(a[i]) + b[i] + carry;
        out[i] = static_cast<Limb>(sum);
        carry = static_cast<Limb>(sum >> kLimbBits);
    }
    return carry;
}

Limb limbs_subtract(const Limb* a, const Limb* b, size_t n, Limb* out) {
    Limb borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const WideLimb difference = static_cast<WideLimb>(a[i]) - b[i] - borrow;
        out[i] = static_cast<Limb>(difference);
        borrow = static_cast<Limb>(difference >> kLimbBits) & 1;
    }
    return borrow;
}

void limbs_reduce_once(const Limb* a, const Limb* m, size_t n, Limb* out) {
    Limb difference[kMaxLimbs];
    const Limb borrow = limbs_subtract(a, m, n, difference);
    // No borrow: a was at least m, keep the difference.
    limbs_select(static_cast<Limb>(borrow - 1), difference, a, n, out);
}

void limbs_add_mod(const Limb* a, const Limb* b, const Limb* m, size_t n, Limb* out) {
    Limb sum[kMaxLimbs];
    Limb difference[kMaxLimbs];
    const Limb carry = limbs_add(a, b, n, sum);
    const Limb borrow = limbs_subtract(sum, m, n, difference);
    // The sum is at least m when it carried out of n limbs or the subtraction did not borrow.
    const Limb keep = mask_if_nonzero(carry) | static_cast<Limb>(borrow - 1);
    limbs_select(keep, difference, sum, n, out);
}

void limbs_double_mod(const Limb* a, const Limb* m, size_t n, Limb* out) {
    Limb twice[kMaxLimbs];
    Limb difference[kMaxLimbs];
    Limb carry = 0, borrow = 0;
    // 2a and 2a - m in one pass.
    for (size_t i = 0; i < n; ++i) {
        twice[i] = static_cast<Limb>(a[i] << 1) | carry;
        carry = a[i] >> (kLimbBits - 1);
        const WideLimb d = static_cast<WideLimb>(twice[i]) - m[i] - borrow;
        difference[i] = static_cast<Limb>(d);
        borrow = static_cast<Limb>(d >> kLimbBits) & 1;
    }
    const Limb keep = mask_if_nonzero(carry) | static_cast<Limb>(borrow - 1);
    limbs_select(keep, difference, twice, n, out);
}

void limbs_subtract_mod(const Limb* a, const Limb* b, const Limb* m, size_t n, Limb* out) {
    Limb correction[kMaxLimbs];
    const Limb borrow = limbs_subtract(a, b, n, out);
    // Below zero: add m back, by adding m masked to zero otherwise.
    const Limb mask = static_cast<Limb>(0 - value_barrier(borrow));
    for (size_t i = 0; i < n; ++i) correction[i] = m[i] & mask;
    limbs_add(out, correction, n, out);
}

void limbs_multiply(const Limb* a, size_t na, const Limb* b, size_t nb, Limb* out) {
    for (size_t i = 0; i < na + nb; ++i) out[i] = 0;
    for (size_t i = 0; i < na; ++i) {
        Limb carry = 0;
        for (size_t j = 0; j < nb; ++j) {
            // At most (2^w - 1)^2 + 2 (2^w - 1) = 2^2w - 1: never overflows.
            const WideLimb t = static_cast<WideLimb>(a[i]) * b[j] + out[i + j] + carry;
            out[i + j] = static_cast<Limb>(t);
            carry = static_cast<Limb>(t >> kLimbBits);
        }
        out[i + nb] = carry;
    }
}

void limbs_from_le_bytes(const uint8_t* bytes, size_t size, Limb* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        Limb limb = 0;
        for (size_t b = 0; b < sizeof(Limb); ++b) {
            const size_t at = i * sizeof(Limb) + b;
            if (at < size) limb |= static_cast<Limb>(bytes[at]) << (8 * b);
        }
        out[i] = limb;
    }
}

void limbs_from_be_bytes(const uint8_t* bytes, size_t size, Limb* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        Limb limb = 0;
        for (size_t b = 0; b < sizeof(Limb); ++b) {
            const size_t at = i * sizeof(Limb) + b;  // counted from the least significant end
            if (at < size) limb |= static_cast<Limb>(bytes[size - 1 - at]) << (8 * b);
        }
        out[i] = limb;
    }
}

void limbs_to_be_bytes(const Limb* a, size_t n, uint8_t* bytes, size_t size) {
    for (size_t at = 0; at < size; ++at) {
        const size_t i = at / sizeof(Limb);
        const Limb limb = i < n ? a[i] : 0;
        bytes[size - 1 - at] = static_cast<uint8_t>(limb >> (8 * (at % sizeof(Limb))));
    }
}
