// SPDX-License-Identifier: Apache-2.0
// The constant-flow check of reading a private key and of the RSA private-key operation: loads
// the key of KEY_FOLDER the way the tools do, from its text file, its PEM file (PKCS#1) and its
// DER file (PKCS#8), each file's bytes marked undefined for valgrind's memcheck by the reader
// the moment they are read, and signs several blocks with each, with E (blinded, checked with
// E) and without (checked against the computation from D). Run under valgrind
// --error-exitcode=1, any branch or address that depends on a secret, in the reader or the
// operation, is reported. With --planted-leak it also branches on a bit of each key as loaded,
// which memcheck must report: the proof that the reader's marks are there and that the check
// sees what it is meant to see. The blinding's inversion runs once more on its own, with its
// modulus secret as well, and an AES key is read from aes.txt's text the same way.
//
//     valgrind --error-exitcode=1 constant_flow_check KEY_FOLDER [--planted-leak]
#define MBEDTLS_ALLOW_PRIVATE_ACCESS
#include <mbedtls/bignum.h>
#include <unistd.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "rsa/limbs.hpp"
#include "rsa/mod_inverse.hpp"
#include "rsa/montgomery.hpp"
#include "seal/rsa_private_key.hpp"

#ifndef MBEDTLS_PRIVATE
#define MBEDTLS_PRIVATE(member) member  // the 2.x structures are public
#endif

namespace {

// Signs four blocks with the key, the last two without E. Returns the number of failures.
int sign_rounds(RsaKeyContext* key, const mbedtls_mpi* public_n) {
    int failures = 0;
    uint8_t block[kRsaBlockSize] = {0};
    uint8_t output[kRsaBlockSize];
    for (unsigned round = 0; round < 4; ++round) {
        // Rounds 2 and 3 have no E: the result is checked against the computation from D.
        if (round == 2) mbedtls_mpi_lset(&key->E, 0);
        for (size_t i = 0; i < 32; ++i) block[i] = static_cast<uint8_t>(round * 71 + i * 13);
        if (rsa_private_crt(key, block, output, public_n) != 0) ++failures;
        // The signature is public once checked: printing it must raise no report.
        unsigned sum = 0;
        for (uint8_t byte : output) sum += byte;
        if (sum == 0) ++failures;
    }
    return failures;
}

// Reads an AES key from aes.txt's text, with comments and an upper-case key, in a folder of its
// own: the words are found and the digits turned into bytes without a branch or an address on
// them. The key's bytes must come out marked secret (valgrind's own account of them says so),
// so that a reader that lost its marks fails rather than passes. Returns the number of
// failures.
int aes_key_rounds() {
    char folder[] = "/tmp/constant-flow-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    const std::string path = std::string(folder) + "/aes.txt";
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) return 1;
    fputs("#one\t#two\r\n  00112233445566778899AABBCCddeeff trailing words\n", file);
    fclose(file);
    uint8_t key[kAesKeySize];
    const AesKeyRead read = read_aes_key_file(path.c_str(), false, key);
    remove(path.c_str());
    rmdir(folder);
    if (read != AesKeyRead::kKey) return 1;
    unsigned char bits[kAesKeySize];
    int failures = 0;
    if (VALGRIND_GET_VBITS(key, bits, sizeof(key)) == 1) {
        for (unsigned char b : bits) failures += b == 0xFF ? 0 : 1;
    }
    // The value, once its marks are seen: the key as written.
    VALGRIND_MAKE_MEM_DEFINED(key, sizeof(key));
    const uint8_t want[kAesKeySize] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                       0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    if (memcmp(key, want, sizeof(key)) != 0) ++failures;
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: constant_flow_check KEY_FOLDER [--planted-leak]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string pub = folder + "/rsa_pub.txt";
    const bool planted = argc > 2 && strcmp(argv[2], "--planted-leak") == 0;
    mbedtls_mpi public_n, public_e;
    mbedtls_mpi_init(&public_n);
    mbedtls_mpi_init(&public_e);
    int failures = 0;
    volatile int counter = 0;
    static Limb p[kMaxLimbs], dp[kMaxLimbs], inverse[kMaxLimbs];
    // Room for any value the reader takes, so that writing one out does not look at its top.
    static uint8_t bytes[1280];
    size_t w = 0;
    for (const char* name : {"rsa_priv.txt", "private.pem", "private.der"}) {
        const std::string priv = folder + "/" + name;
        KeySources sources;
        sources.rsa_private_path = priv.c_str();
        sources.rsa_public_path = pub.c_str();
        sources.pem_keys = true;
        set_key_sources(sources);
        RsaKeyContext key;
        rsa_key_init(&key);
        if (load_rsa_private(&key) != 0 || read_rsa_public_quietly(&public_n, &public_e) != 0) {
            fprintf(stderr, "%s: the key does not load\n", priv.c_str());
            return 2;
        }
        if (mbedtls_mpi_cmp_int(&key.E, 0) == 0 && mbedtls_mpi_copy(&key.E, &public_e) != 0) {
            return 2;
        }
        if (planted && (key.DP.MBEDTLS_PRIVATE(p)[0] & 2) != 0) counter = counter + 1;
        // DP^-1 mod P, both secret (as read): DP, below the prime P and not zero, has an
        // inverse. The width comes from the public key length.
        w = (key.len / 2 + sizeof(Limb) - 1) / sizeof(Limb);
        for (auto [value, limbs] : {std::pair{&key.P, p}, std::pair{&key.DP, dp}}) {
            if (w == 0 || mbedtls_mpi_write_binary_le(value, bytes, sizeof(bytes)) != 0) return 2;
            limbs_from_le_bytes(bytes, sizeof(bytes), limbs, w);
        }
        failures += sign_rounds(&key, &public_n);
        rsa_key_free(&key);
    }
    failures += aes_key_rounds();
    MontgomeryModulus mod;
    static InverseWork work;
    montgomery_prepare(&mod, p, w, true);
    Limb invertible = montgomery_inverse(&mod, dp, &work, inverse);
    VALGRIND_MAKE_MEM_DEFINED(&invertible, sizeof(invertible));
    if (invertible != ~Limb{0}) ++failures;
    mbedtls_mpi_free(&public_n);
    mbedtls_mpi_free(&public_e);
    printf("%d signings or inversions failed\n", failures);
    return failures == 0 ? 0 : 1;
}
