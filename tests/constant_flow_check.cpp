// SPDX-License-Identifier: Apache-2.0
// The constant-flow check of the RSA private-key operation: loads a key the way the tools do,
// marks every secret value undefined for valgrind's memcheck, and signs several blocks, with E
// (blinded, checked with E) and without (checked against the computation from D). Run under
// valgrind --error-exitcode=1, any branch or address that depends on a secret is reported.
// With --planted-leak it also branches on a bit of the key, which memcheck must report: the
// proof that the check sees what it is meant to see. The blinding's inversion runs once more on
// its own, with its modulus secret as well.
//
//     valgrind --error-exitcode=1 constant_flow_check KEY_FOLDER [--planted-leak]
#define MBEDTLS_ALLOW_PRIVATE_ACCESS
#include <mbedtls/bignum.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "image/transcript.hpp"
#include "secure/key_files.hpp"
#include "secure/limbs.hpp"
#include "secure/mod_inverse.hpp"
#include "secure/montgomery.hpp"
#include "secure/rsa_crt.hpp"

#ifndef MBEDTLS_PRIVATE
#define MBEDTLS_PRIVATE(member) member  // the 2.x structures are public
#endif

namespace {

void mark_undefined(const mbedtls_mpi* value) {
    VALGRIND_MAKE_MEM_UNDEFINED(value->MBEDTLS_PRIVATE(p),
                                value->MBEDTLS_PRIVATE(n) * sizeof(mbedtls_mpi_uint));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: constant_flow_check KEY_FOLDER [--planted-leak]\n");
        return 2;
    }
    const std::string priv = std::string(argv[1]) + "/rsa_priv.txt";
    const std::string pub = std::string(argv[1]) + "/rsa_pub.txt";
    const bool planted = argc > 2 && strcmp(argv[2], "--planted-leak") == 0;
    KeySources sources;
    sources.rsa_private_path = priv.c_str();
    sources.rsa_public_path = pub.c_str();
    set_key_sources(sources);
    RsaKeyContext key;
    rsa_key_init(&key);
    mbedtls_mpi public_n;
    mbedtls_mpi_init(&public_n);
    if (load_rsa_private(&key) != 0 || read_rsa_public_quietly(&public_n, &key.E) != 0) return 2;
    // DP^-1 mod P, both secret: DP, below the prime P and not zero, has an inverse. They are read
    // as limbs before the key is marked.
    static Limb p[kMaxLimbs], dp[kMaxLimbs], inverse[kMaxLimbs];
    static uint8_t bytes[kMaxLimbs * sizeof(Limb)];
    const size_t w = (mbedtls_mpi_size(&key.P) + sizeof(Limb) - 1) / sizeof(Limb);
    for (auto [value, limbs] : {std::pair{&key.P, p}, std::pair{&key.DP, dp}}) {
        if (w == 0 || mbedtls_mpi_write_binary_le(value, bytes, w * sizeof(Limb)) != 0) return 2;
        limbs_from_le_bytes(bytes, w * sizeof(Limb), limbs, w);
        VALGRIND_MAKE_MEM_UNDEFINED(limbs, w * sizeof(Limb));
    }
    for (const mbedtls_mpi* secret : {&key.D, &key.P, &key.Q, &key.DP, &key.DQ, &key.QP}) {
        mark_undefined(secret);
    }
    volatile int counter = 0;
    if (planted && (key.DP.MBEDTLS_PRIVATE(p)[0] & 2) != 0) counter = counter + 1;

    int failures = 0;
    uint8_t block[kRsaBlockSize] = {0};
    uint8_t output[kRsaBlockSize];
    for (unsigned round = 0; round < 4; ++round) {
        // Rounds 2 and 3 have no E: the result is checked against the computation from D.
        if (round == 2) mbedtls_mpi_lset(&key.E, 0);
        for (size_t i = 0; i < 32; ++i) block[i] = static_cast<uint8_t>(round * 71 + i * 13);
        if (rsa_private_crt(&key, block, output, &public_n) != 0) ++failures;
        // The signature is public once checked: printing it must raise no report.
        unsigned sum = 0;
        for (uint8_t byte : output) sum += byte;
        if (sum == 0) ++failures;
    }
    MontgomeryModulus mod;
    static InverseWork work;
    montgomery_prepare(&mod, p, w, true);
    Limb invertible = montgomery_inverse(&mod, dp, &work, inverse);
    VALGRIND_MAKE_MEM_DEFINED(&invertible, sizeof(invertible));
    if (invertible != ~Limb{0}) ++failures;
    rsa_key_free(&key);
    mbedtls_mpi_free(&public_n);
    printf("%d signings or inversions failed\n", failures);
    return failures == 0 ? 0 : 1;
}
