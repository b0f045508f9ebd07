// SPDX-License-Identifier: Apache-2.0
#include "keygen/key_making.hpp"

#include <mbedtls/bignum.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "keygen/rsa_keygen.hpp"
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
