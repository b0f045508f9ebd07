// SPDX-License-Identifier: Apache-2.0
#include "seal/rsa_private_key.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>

#include <cerrno>
#include <cstring>

#include "image/transcript.hpp"
#include "rsa/limbs.hpp"
#include "rsa/secret_marks.hpp"

namespace {

// Room for any key value a key file holds: a text line has at most 2480 hexadecimal digits, and
// the key reader takes values of at most 1241 bytes.
constexpr size_t kExportBytes = 1280;

// The key in limbs, and one value as the dependency writes it out; wiped after every use.
RsaLimbKey Key;
uint8_t Exported[kExportBytes];

// Copies a key value into the kMaxLimbs limbs of out, keeping n. The dependency writes it out,
// least significant byte first, into a buffer larger than any value a key file holds, which
// takes the same steps whatever the value. Returns all ones when the value fits in n limbs.
Limb value_limbs(const mbedtls_mpi* value, Limb* out, size_t n) {
    if (mbedtls_mpi_write_binary_le(value, Exported, sizeof(Exported)) != 0) return 0;
    memset(out, 0, kMaxLimbs * sizeof(Limb));
    limbs_from_le_bytes(Exported, sizeof(Exported), out, n);
    Limb beyond = 0;
    for (size_t i = n * sizeof(Limb); i < sizeof(Exported); ++i) beyond |= Exported[i];
    return mask_if_zero(beyond);
}

void say_not_usable(const char* path) {
    say(" failed\n  ! %s is not a usable private key: N, P and Q must be odd and"
        " D, DP, DQ and QP non-zero\n\n",
        path);
}

int sign_with_limbs(const RsaKeyContext* key, const uint8_t* input, uint8_t* output,
                    const mbedtls_mpi* public_n) {
    const char* path = key_sources().rsa_private_path;
    const size_t len = key->len;
    if (len == 0 || len > kRsaBlockSize || mbedtls_mpi_cmp_int(&key->N, 0) <= 0 ||
        mbedtls_mpi_get_bit(&key->N, 0) == 0) {
        say_not_usable(path);
        return -1;
    }
    const size_t nn = (len + sizeof(Limb) - 1) / sizeof(Limb);
    Key.len = len;
    const Limb fits = value_limbs(&key->P, Key.p, nn) & value_limbs(&key->Q, Key.q, nn) &
                      value_limbs(&key->DP, Key.dp, nn) & value_limbs(&key->DQ, Key.dq, nn) &
                      value_limbs(&key->QP, Key.qp, nn);
    if (!mask_holds(fits)) {
        say(" failed\n  ! %s is not a usable private key: P, Q, DP, DQ and QP must each fit"
            " in %u bits\n\n",
            path, static_cast<unsigned>(len * 8));
        return -1;
    }
    // D checks the result where there is no E; a D too long for that is left unused.
    Key.has_d = mask_holds(value_limbs(&key->D, Key.d, nn));
    if (!Key.has_d) memset(Key.d, 0, sizeof(Key.d));
    // N, E and the public N are public; a value longer than the key is no use to the operation.
    const bool n_taken = mask_holds(value_limbs(&key->N, Key.n, nn));
    Key.has_e = mbedtls_mpi_cmp_int(&key->E, 0) > 0 && mask_holds(value_limbs(&key->E, Key.e, nn));
    Key.has_public_n = public_n != nullptr && mbedtls_mpi_cmp_int(public_n, 0) > 0 &&
                       mask_holds(value_limbs(public_n, Key.public_n, nn));
    if (!n_taken) memset(Key.n, 0, sizeof(Key.n));
    if (!Key.has_e) memset(Key.e, 0, sizeof(Key.e));
    if (!Key.has_public_n) memset(Key.public_n, 0, sizeof(Key.public_n));
    switch (rsa_private_operation(&Key, input, output)) {
        case RsaOutcome::kSigned:
            return 0;
        case RsaOutcome::kOtherPublicKey:
            return kRsaOtherPublicKey;
        case RsaOutcome::kNotUsable:
            say_not_usable(path);
            break;
        case RsaOutcome::kNotBelowModulus:
            say("%s", kBlockNotBelowModulus);
            break;
        case RsaOutcome::kNoRandom:
            say(" failed\n  ! No random blinding value could be made for the RSA private-key"
                " operation: %s\n\n",
                strerror(errno));
            break;
        case RsaOutcome::kSmallFactors:
            say(" failed\n  ! %s is not a usable private key: P Q has small factors (no random"
                " blinding value has an inverse modulo it)\n\n",
                path);
            break;
        case RsaOutcome::kResultTooLong:
            say(" failed\n  ! The RSA private-key operation gave a result longer than the key:"
                " check that %s lists N, D, P, Q, DP, DQ and QP in that order\n\n",
                path);
            break;
        case RsaOutcome::kDoesNotCheckOut:
            say(" failed\n  ! The RSA private-key operation gave a result that does not check"
                " out: %s does not hold one consistent key, or the machine made a fault. Nothing"
                " was signed.\n\n",
                path);
            break;
    }
    return -1;
}

}  // namespace

int rsa_private_crt(const RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                    uint8_t output[kRsaBlockSize], const mbedtls_mpi* public_n) {
    memset(output, 0, kRsaBlockSize);
    const int result = sign_with_limbs(key, input, output, public_n);
    mbedtls_platform_zeroize(&Key, sizeof(Key));
    mbedtls_platform_zeroize(Exported, sizeof(Exported));
    return result;
}
