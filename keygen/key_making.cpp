// SPDX-License-Identifier: Apache-2.0
#include "keygen/key_making.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/platform_util.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "keygen/rsa_keygen.hpp"
#include "keygen/token_generation.hpp"
#include "keygen/token_keys.hpp"
#include "keys/read_key.hpp"
#include "seal/rsa_signing.hpp"

// E in decimal, as people quote it ("65537").
std::string format_exponent(const RsaKeyContext& key) {
    char text[80] = {0};
    size_t length = 0;
    if (mbedtls_mpi_write_string(&key.E, 10, text, sizeof(text), &length) != 0) return "?";
    return text;
}

// The share of header digests whose signed block is not below N: the block's top 32 bytes are
// the reversed digest, uniformly spread, so the share is about 1 - N / 2^1024.
double unsignable_share(const RsaKeyContext& key) {
    uint8_t top[8] = {0};
    uint8_t modulus[kKeyBytes] = {0};
    if (mbedtls_mpi_write_binary(&key.N, modulus, sizeof(modulus)) != 0) return 1.0;
    memcpy(top, modulus, sizeof(top));
    double fraction = 0;
    for (int i = 7; i >= 0; --i) fraction = (fraction + top[i]) / 256.0;
    return 1.0 - fraction;
}

namespace {

// Generates a new pair, or reads the one of a PEM or DER file. Returns 0 or 1 after saying why.
int make_key(const char* from_pem, bool with_pem, RsaKeyContext* key,
             mbedtls_ctr_drbg_context* drbg) {
    if (from_pem == nullptr) {
        const int result = generate_rsa_key(key, mbedtls_ctr_drbg_random, drbg);
        if (result == 0) return 0;
        fprintf(stderr, "bootseal-keygen: key generation failed (%d)\n", result);
        return 1;
    }
    KeyReading reading;
    if (read_rsa_key(from_pem, KeyHalf::kPrivate, KeyForms::kPemOrDer, key, &reading) != 0) {
        fprintf(stderr, "bootseal-keygen: %s; nothing written\n", reading.why.c_str());
        return 1;
    }
    if (reading.was_encrypted) {
        fprintf(stderr,
                "bootseal-keygen: note: %s is encrypted; rsa_priv.txt%s hold%s the key "
                "decrypted, readable by its owner only\n",
                from_pem, with_pem ? " and private.pem" : "", with_pem ? "" : "s");
    }
    if (key->len != kKeyBytes) {
        fprintf(stderr,
                "bootseal-keygen: %s holds a %u-bit modulus; the header takes a 1024-bit key (a "
                "modulus of 1017 to 1024 bits); nothing written\n",
                from_pem, static_cast<unsigned>(mbedtls_mpi_bitlen(&key->N)));
        return 1;
    }
    const char* exponent_fault = public_exponent_fault(&key->E);
    if (exponent_fault[0] != '\0') {
        fprintf(stderr, "bootseal-keygen: %s: %s; nothing written\n", from_pem, exponent_fault);
        return 1;
    }
    if (mbedtls_mpi_size(&key->E) > 32) {
        fprintf(stderr, "bootseal-keygen: %s has a public exponent too large for the header\n",
                from_pem);
        return 1;
    }
    return 0;
}

}  // namespace

int make_keys(const KeyOrigin& origin, MadeKeys* made) {
    rsa_key_init(&made->key);
    mbedtls_platform_zeroize(made->aes_key, sizeof(made->aes_key));
    made->attempts = 0;
    made->made_in_token = false;
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    const char personal[] = "bootseal-keygen";
    int status = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                                       reinterpret_cast<const unsigned char*>(personal),
                                       sizeof(personal) - 1) == 0
                     ? 0
                     : 1;
    if (status != 0) fprintf(stderr, "bootseal-keygen: no random source\n");
    if (status == 0 && origin.export_public) {
        status = read_token_public_key("bootseal-keygen", origin.token_uri, &made->key);
    } else if (status == 0 && origin.token_uri != nullptr) {
        status = make_token_key("bootseal-keygen", origin.token_uri, origin.min_top_byte,
                                &made->key, &made->attempts);
        made->made_in_token = status == 0;
    } else if (status == 0) {
        status = make_key(origin.from_pem, origin.with_pem, &made->key, &drbg);
    }
    if (status == 0 && origin.with_aes &&
        mbedtls_ctr_drbg_random(&drbg, made->aes_key, sizeof(made->aes_key)) != 0) {
        fprintf(stderr, "bootseal-keygen: no random source\n");
        status = 1;
    }
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
    return status;
}

void free_made_keys(MadeKeys* made) {
    mbedtls_platform_zeroize(made->aes_key, sizeof(made->aes_key));
    rsa_key_free(&made->key);
}

void print_key_set_report(const KeyFile keys[kKeySetFiles], const MadeKeys& made) {
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        if (keys[i].wanted) {
            printf("wrote %s%s\n", keys[i].path.c_str(),
                   keys[i].mode == 0600 ? " (mode 0600)" : "");
        }
    }
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        if (keys[i].kept) {
            printf("kept the replaced %s as %s%s\n", keys[i].path.c_str(), keys[i].path.c_str(),
                   kBackupSuffix);
        }
    }
    if (made.made_in_token) {
        printf("generated the private key inside the token (%d pair%s made)\n", made.attempts,
               made.attempts == 1 ? "" : "s");
    }
    uint8_t modulus[kKeyBytes] = {0};
    mbedtls_mpi_write_binary(&made.key.N, modulus, sizeof(modulus));
    printf("modulus: %u bits, top byte 0x%02X, E = %s\n",
           static_cast<unsigned>(mbedtls_mpi_bitlen(&made.key.N)), modulus[0],
           format_exponent(made.key).c_str());
    if (modulus[0] != 0xFF) {
        printf(
            "warning: with a top byte below 0xFF about %.1f%% of images cannot be signed "
            "with this key (their signed block is not below the modulus)\n",
            100.0 * unsignable_share(made.key));
    }
}
