// SPDX-License-Identifier: Apache-2.0
#include "rsa/rsa_crt.hpp"

#include <mbedtls/platform_util.h>

#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/random_bytes.hpp"
#include "platform/stack_wipe.hpp"
#include "rsa/mod_inverse.hpp"
#include "rsa/montgomery.hpp"
#include "rsa/secret_marks.hpp"

#if defined(BOOTSEAL_FAULT_POINTS)
void (*rsa_fault_point)(void* data, size_t size) = nullptr;
#endif

namespace {

constexpr size_t kDoubleLimbs = 2 * kMaxLimbs;

// The working memory of the private-key operation. Every value computed from the key lives here
// rather than on the stack, and the whole of it is wiped when the operation returns.
struct CrtWork {
    Limb p[kMaxLimbs], q[kMaxLimbs], d[kMaxLimbs], dp[kMaxLimbs], dq[kMaxLimbs], qp[kMaxLimbs];
    // DP, DQ and D with a random multiple of P - 1, Q - 1 and (P - 1)(Q - 1) added: the same
    // powers, from an exponent that is new at every signature.
    Limb dp_blinded[kMaxLimbs + 1], dq_blinded[kMaxLimbs + 1], d_blinded[kMaxLimbs + 1];
    Limb less_one[kMaxLimbs];         // P - 1 or Q - 1
    Limb phi[kDoubleLimbs];           // (P - 1)(Q - 1)
    Limb multiple[kDoubleLimbs + 1];  // k times one of them
    Limb k[1];                        // the random multiplier
    Limb n[kDoubleLimbs];  // P Q, the modulus the CRT values work in: N for a consistent key
    Limb e[kMaxLimbs];
    Limb key_n[kDoubleLimbs], public_n[kDoubleLimbs];  // N and the public N, to compare with P Q
    Limb t[kMaxLimbs];  // the block to sign
    MontgomeryModulus mod_p, mod_q, mod_n;
    PowerTable table;
    Limb factor[kMaxLimbs];
    Limb r[kMaxLimbs];                      // the random blinding factor
    InverseWork inverse;                    // r^-1 on its way
    Limb blinded[kMaxLimbs];                // T r^E mod N
    Limb unblind[kMaxLimbs];                // r^-1 R mod N
    Limb low[kMaxLimbs], high[kMaxLimbs];   // a number split for its reduction
    Limb x_p[kMaxLimbs], x_q[kMaxLimbs];    // the base mod P and Q, in Montgomery form
    Limb m1[kMaxLimbs], m2[kMaxLimbs], h[kMaxLimbs];
    Limb wide[kDoubleLimbs];
    Limb s[kDoubleLimbs];      // the signature
    uint8_t unblinded[kRsaBlockSize];  // a refused one computed again, to say why
    Limb check[kDoubleLimbs], expected[kDoubleLimbs], difference[kDoubleLimbs];
    uint8_t random_bytes[kMaxLimbs * sizeof(Limb)];
};

CrtWork Work;

// Copies a secret key value into the operation's memory, where a test may corrupt it.
void take_secret(const Limb* value, Limb* out) {
    memcpy(out, value, kMaxLimbs * sizeof(Limb));
    FAULT_POINT(out, kMaxLimbs * sizeof(Limb));
}

// Two verdicts on the bytes to release, each all ones for a release. They are made by different
// instructions (an exclusive or, a subtraction), each ends behind its own volatile barrier and
// each masks the output by instructions of its own, so that one skipped instruction changes at
// most one of them, and either one alone keeps a refused result at zero. a, a power of the bytes
// to release, is never zero for a block that is not, and the difference starts as all ones: a
// corrupted address that makes both read zeros, or a subtraction that writes elsewhere, is no
// match. The instruction-fault campaign in CI tries every such skip and random register bits.
struct Verdicts {
    Limb first;
    Limb second;
};

Verdicts equal_verdicts(const Limb* a, const Limb* b, size_t n) {
    Verdicts verdicts;
    verdicts.first =
        verdict_barrier(limbs_equal_mask(a, b, n) & static_cast<Limb>(~limbs_zero_mask(a, n)));
    memset(Work.difference, 0xFF, sizeof(Work.difference));
    Limb any = limbs_subtract(b, a, n, Work.difference) | limbs_zero_mask(b, n);
    for (size_t i = 0; i < n; ++i) any |= Work.difference[i];
    verdicts.second = verdict_barrier(mask_if_zero(verdict_barrier(any)));
    mark_public(&verdicts, sizeof(verdicts));
    return verdicts;
}

// Whether a verdict is a release: all ones, not merely non-zero, so that a flipped bit of a
// refusal stays a refusal.
bool is_release(Limb verdict) { return verdict == ~Limb{0}; }

// Keeps output only where both verdicts are all ones, masking with each in turn.
void mask_output(uint8_t* output, Verdicts verdicts) {
    const Limb first = mask_if_zero(static_cast<Limb>(~verdict_barrier(verdicts.first)));
    for (size_t i = 0; i < kRsaBlockSize; ++i) output[i] &= static_cast<uint8_t>(first);
    const Limb second = mask_if_zero(static_cast<Limb>(~verdict_barrier(verdicts.second)));
    for (size_t i = 0; i < kRsaBlockSize; ++i) output[i] &= static_cast<uint8_t>(second);
}

// Whether P Q (2w limbs) is n (kDoubleLimbs limbs, zero above the key's length).
bool is_modulus(const Limb* n, size_t w) { return limbs_equal_mask(n, Work.n, 2 * w) != 0; }

// Fills out with a random number of n limbs below 2^bits, from the operating system.
bool random_below(Limb* out, size_t n, size_t bits) {
    const size_t size = n * sizeof(Limb);
    if (!random_bytes(Work.random_bytes, size)) return false;
    mark_secret(Work.random_bytes, size);
    limbs_from_le_bytes(Work.random_bytes, size, out, n);
    for (size_t i = 0; i < n; ++i) {
        const size_t first = i * kLimbBits;
        if (first >= bits) {
            out[i] = 0;
        } else if (bits - first < kLimbBits) {
            out[i] &= (Limb{1} << (bits - first)) - 1;
        }
    }
    return true;
}

// out = a mod m in Montgomery form for a number a of nn limbs and a modulus of w limbs, w at
// least nn / 2: a = high R + low, so a R = high R^2 + low R.
void enter_reduced(const MontgomeryModulus* mod, const Limb* a, size_t nn, Limb* out) {
    const size_t w = mod->n;
    memset(Work.low, 0, sizeof(Work.low));
    memset(Work.high, 0, sizeof(Work.high));
    memcpy(Work.low, a, (nn < w ? nn : w) * sizeof(Limb));
    if (nn > w) memcpy(Work.high, a + w, (nn - w) * sizeof(Limb));
    montgomery_enter(mod, Work.low, Work.low);
    montgomery_enter(mod, Work.high, Work.high);
    montgomery_enter(mod, Work.high, Work.high);
    limbs_add_mod(Work.low, Work.high, mod->m, w, out);
}

// s (2w limbs) = base^D mod P Q: base^DP mod P and base^DQ mod Q, joined by Garner's formula
// s = m2 + ((m1 - m2) QP mod P) Q. The exponents are the blinded DP and DQ.
void crt(const Limb* base, size_t nn, size_t w, Limb* s) {
    enter_reduced(&Work.mod_p, base, nn, Work.x_p);
    enter_reduced(&Work.mod_q, base, nn, Work.x_q);
    FAULT_POINT(Work.x_p, w * sizeof(Limb));
    FAULT_POINT(Work.x_q, w * sizeof(Limb));
    montgomery_power(&Work.mod_p, Work.x_p, Work.dp_blinded, w + 1, Work.table, Work.factor,
                     Work.m1);
    montgomery_power(&Work.mod_q, Work.x_q, Work.dq_blinded, w + 1, Work.table, Work.factor,
                     Work.m2);
    montgomery_leave(&Work.mod_q, Work.m2, Work.m2);
    FAULT_POINT(Work.m1, w * sizeof(Limb));
    FAULT_POINT(Work.m2, w * sizeof(Limb));
    montgomery_enter(&Work.mod_p, Work.m2, Work.h);
    limbs_subtract_mod(Work.m1, Work.h, Work.mod_p.m, w, Work.h);  // (m1 - m2) R mod P
    montgomery_multiply(&Work.mod_p, Work.qp, Work.h, Work.h);     // (m1 - m2) QP mod P
    FAULT_POINT(Work.h, w * sizeof(Limb));
    limbs_multiply(Work.h, w, Work.q, w, s);
    memset(Work.wide, 0, sizeof(Work.wide));
    memcpy(Work.wide, Work.m2, w * sizeof(Limb));
    limbs_add(s, Work.wide, 2 * w, s);
    FAULT_POINT(s, 2 * w * sizeof(Limb));
}

// out (n + 1 limbs) = exponent + k order for a fresh random k below 2^(kLimbBits - 2), so that
// the sum cannot carry out. For a base prime to the modulus, the power is the same as with the
// exponent itself (order is a multiple of the group's order); for any other base it is zero
// both ways, the exponent being non-zero.
bool blind_exponent(const Limb* exponent, const Limb* order, size_t n, Limb* out) {
    if (!random_below(Work.k, 1, kLimbBits - 2)) return false;
    limbs_multiply(Work.k, 1, order, n, Work.multiple);
    memcpy(out, exponent, n * sizeof(Limb));
    out[n] = 0;
    limbs_add(out, Work.multiple, n + 1, out);
    FAULT_POINT(out, (n + 1) * sizeof(Limb));
    return true;
}

// Blinds DP and DQ by multiples of P - 1 and Q - 1 and, where D checks the result (P Q fits in
// nn limbs, and so does (P - 1)(Q - 1)), D by a multiple of (P - 1)(Q - 1). P and Q are odd, so
// P - 1 is P with its lowest bit cleared. Returns false when the operating system gives no
// random bytes.
bool blind_exponents(size_t nn, size_t w, bool with_d) {
    memcpy(Work.less_one, Work.p, w * sizeof(Limb));
    Work.less_one[0] &= ~Limb{1};
    if (!blind_exponent(Work.dp, Work.less_one, w, Work.dp_blinded)) return false;
    memcpy(Work.h, Work.less_one, w * sizeof(Limb));
    memcpy(Work.less_one, Work.q, w * sizeof(Limb));
    Work.less_one[0] &= ~Limb{1};
    if (!blind_exponent(Work.dq, Work.less_one, w, Work.dq_blinded)) return false;
    if (!with_d) return true;
    limbs_multiply(Work.h, w, Work.less_one, w, Work.phi);
    return blind_exponent(Work.d, Work.phi, nn, Work.d_blinded);
}

// Makes the blinding pair: r^E R mod N to multiply the block by, and r^-1 R mod N to take the
// result back, for a random r. The inversion is constant-time like the rest, so r^-1 comes from
// r itself. Returns 0; 1 when none of eight r has an inverse, which only a modulus with small
// factors, not a product of two large primes, makes likely; or -1 when the operating system
// gives no random bytes.
int make_blinding(size_t nn, size_t n_bits, size_t e_limbs) {
    const MontgomeryModulus* mod = &Work.mod_n;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (!random_below(Work.r, nn, n_bits - 1)) return -1;
        const Limb invertible = montgomery_inverse(mod, Work.r, &Work.inverse, Work.unblind);
        if (!mask_holds(invertible)) continue;
        montgomery_enter(mod, Work.r, Work.r);                                // r R
        montgomery_power_public(mod, Work.r, Work.e, e_limbs, Work.blinded);  // r^E R
        FAULT_POINT(Work.blinded, nn * sizeof(Limb));
        FAULT_POINT(Work.unblind, nn * sizeof(Limb));
        return 0;
    }
    return 1;
}

// Whether output, the bytes to release, raised to E gives T mod N.
Verdicts verifies_with_e(const uint8_t* output, size_t len, size_t nn, size_t e_limbs) {
    const MontgomeryModulus* mod = &Work.mod_n;
    limbs_from_be_bytes(output, len, Work.check, nn);
    montgomery_enter(mod, Work.check, Work.check);
    montgomery_power_public(mod, Work.check, Work.e, e_limbs, Work.check);
    montgomery_enter(mod, Work.t, Work.expected);
    return equal_verdicts(Work.check, Work.expected, nn);
}

// Without E: whether output is T^D mod N, computed from D without the CRT (with a blinded D).
Verdicts agrees_with_d(const uint8_t* output, size_t len, size_t nn) {
    const MontgomeryModulus* mod = &Work.mod_n;
    montgomery_enter(mod, Work.t, Work.x_p);
    montgomery_power(mod, Work.x_p, Work.d_blinded, nn + 1, Work.table, Work.factor, Work.check);
    montgomery_leave(mod, Work.check, Work.check);
    limbs_from_be_bytes(output, len, Work.expected, nn);
    return equal_verdicts(Work.check, Work.expected, nn);
}

RsaOutcome sign_block(const RsaLimbKey* key, const uint8_t* input, uint8_t* output) {
    const size_t len = key->len;
    const size_t nn = (len + sizeof(Limb) - 1) / sizeof(Limb);
    for (auto [value, copy] :
         {std::pair{key->p, Work.p}, std::pair{key->q, Work.q}, std::pair{key->dp, Work.dp},
          std::pair{key->dq, Work.dq}, std::pair{key->qp, Work.qp}, std::pair{key->d, Work.d}}) {
        take_secret(value, copy);
    }
    const bool d_fits = key->has_d;
    const Limb d_present = d_fits ? ~limbs_zero_mask(Work.d, nn) : ~Limb{0};
    const Limb usable = mask_if_nonzero(Work.p[0] & Work.q[0] & 1) & d_present &
                        ~limbs_zero_mask(Work.dp, nn) &
                        ~limbs_zero_mask(Work.dq, nn) & ~limbs_zero_mask(Work.qp, nn);
    if (!mask_holds(usable)) return RsaOutcome::kNotUsable;
    limbs_from_be_bytes(input, len, Work.t, nn);
    memcpy(Work.key_n, key->n, sizeof(key->n));
    memcpy(Work.public_n, key->public_n, sizeof(key->public_n));
    // Both public: the block comes from the image, N from the key.
    if (limbs_subtract(Work.t, Work.key_n, nn, Work.difference) == 0) {
        return RsaOutcome::kNotBelowModulus;
    }

    // The halves work in half the width where P, Q and their values fit in it (any key of two
    // primes of equal size): that much of the key's shape is public.
    const size_t half = (nn + 1) / 2;
    Limb upper = 0;
    for (const Limb* value : {Work.p, Work.q, Work.dp, Work.dq, Work.qp}) {
        for (size_t i = half; i < nn; ++i) upper |= value[i];
    }
    const size_t w = mask_holds(mask_if_zero(upper)) ? half : nn;
    // So is whether their top limbs are set, as they are for primes of half the modulus's size.
    const bool top_limbs_set =
        mask_holds(mask_if_nonzero(Work.p[w - 1]) & mask_if_nonzero(Work.q[w - 1]));
    montgomery_prepare(&Work.mod_p, Work.p, w, top_limbs_set);
    montgomery_prepare(&Work.mod_q, Work.q, w, top_limbs_set);
    FAULT_POINT(Work.mod_p.rr, w * sizeof(Limb));
    FAULT_POINT(Work.mod_q.rr, w * sizeof(Limb));

    // P Q is the key's modulus, public; the blinding and the checks work modulo it.
    limbs_multiply(Work.p, w, Work.q, w, Work.n);
    mark_public(Work.n, sizeof(Work.n));
    bool n_fits = true;
    for (size_t i = nn; i < 2 * w; ++i) n_fits = n_fits && Work.n[i] == 0;
    if (n_fits) montgomery_prepare(&Work.mod_n, Work.n, nn, Work.n[nn - 1] != 0);
    // A public key whose modulus is not P Q, the key's own N, is another key's: nothing is
    // signed for it.
    if (key->has_public_n && n_fits && is_modulus(Work.key_n, w) && !is_modulus(Work.public_n, w)) {
        return RsaOutcome::kOtherPublicKey;
    }
    size_t n_bits = 0;
    for (size_t i = 0; i < nn * kLimbBits; ++i) {
        if ((Work.n[i / kLimbBits] >> (i % kLimbBits)) & 1) n_bits = i + 1;
    }
    const bool e_usable = n_fits && n_bits > 1 && key->has_e;
    if (e_usable) memcpy(Work.e, key->e, sizeof(key->e));

    const int blinding = e_usable ? make_blinding(nn, n_bits, nn) : 1;
    if (blinding < 0 || !blind_exponents(nn, w, n_fits && d_fits)) return RsaOutcome::kNoRandom;
    if (e_usable && blinding != 0) return RsaOutcome::kSmallFactors;
    const bool blinded = blinding == 0;
    if (blinded) montgomery_multiply(&Work.mod_n, Work.t, Work.blinded, Work.blinded);  // T r^E
    crt(blinded ? Work.blinded : Work.t, nn, w, Work.s);
    if (blinded) {
        montgomery_multiply(&Work.mod_n, Work.s, Work.unblind, Work.s);  // s r^-1
        memset(Work.s + nn, 0, (kDoubleLimbs - nn) * sizeof(Limb));
    }

    // Only a key whose values do not belong together gives a result longer than the key.
    Limb beyond = 0;
    for (size_t at = len; at < 2 * w * sizeof(Limb); ++at) {
        beyond |= (Work.s[at / sizeof(Limb)] >> (8 * (at % sizeof(Limb)))) & 0xFF;
    }
    if (mask_holds(mask_if_nonzero(beyond))) return RsaOutcome::kResultTooLong;
    limbs_to_be_bytes(Work.s, 2 * w, output, len);
    // A result that fails its check is never released: one computed wrong by a fault of the
    // machine, or from values that do not belong together, is right modulo one prime and wrong
    // modulo the other, and so gives the factors of N away. P Q must be a public modulus, or a
    // P or Q that is no factor of it could pass a check made modulo P Q.
    const bool p_q_is_n = n_fits && (is_modulus(Work.key_n, w) ||
                                     (key->has_public_n && is_modulus(Work.public_n, w)));
    Verdicts verdicts = {0, 0};
    bool other_key = false;
    if (p_q_is_n && e_usable) {
        verdicts = verifies_with_e(output, len, nn, nn);
        if (!(is_release(verdicts.first) && is_release(verdicts.second)) && d_fits) {
            // Refused. The CRT and D agreeing without the random base (which E blinds wrong when
            // E is another key's) tells that the key is sound and E is not its own. That result
            // is never released.
            crt(Work.t, nn, w, Work.s);
            limbs_to_be_bytes(Work.s, 2 * w, Work.unblinded, len);
            const Verdicts from_d = agrees_with_d(Work.unblinded, len, nn);
            other_key = is_release(from_d.first) && is_release(from_d.second);
        }
    } else if (p_q_is_n && d_fits) {
        verdicts = agrees_with_d(output, len, nn);
    }
    mask_output(output, verdicts);
    if (!is_release(verdicts.first) || !is_release(verdicts.second)) {
        mbedtls_platform_zeroize(output, kRsaBlockSize);
        return other_key ? RsaOutcome::kOtherPublicKey : RsaOutcome::kDoesNotCheckOut;
    }
    mark_public(output, len);
    return RsaOutcome::kSigned;
}

}  // namespace

RsaOutcome rsa_private_operation(const RsaLimbKey* key, const uint8_t input[kRsaBlockSize],
                                 uint8_t output[kRsaBlockSize]) {
    memset(output, 0, kRsaBlockSize);
    const RsaOutcome result = sign_block(key, input, output);
    mbedtls_platform_zeroize(&Work, sizeof(Work));
    wipe_stack_below();
    clear_vector_registers();
    return result;
}
