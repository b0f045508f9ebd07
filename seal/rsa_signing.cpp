// SPDX-License-Identifier: Apache-2.0
#include "seal/rsa_signing.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image/image_layout.hpp"
#include "image/transcript.hpp"
#include "keys/mpi_try.hpp"
#include "seal/sealed_header.hpp"

uint8_t DeferredBlock[kRsaBlockSize];

namespace {

bool is_positive(const mbedtls_mpi* value) { return mbedtls_mpi_cmp_int(value, 0) > 0; }
bool is_odd_positive(const mbedtls_mpi* value) {
    return is_positive(value) && mbedtls_mpi_get_bit(value, 0) == 1;
}

void say_mismatch(const char* private_name, const char* public_path) {
    say(" failed\n  ! %s and %s do not belong together: the signature"
        " does not verify with the public key\n\n",
        private_name, public_path);
}

// Stores value, which fits in size bytes, at image offset pos least significant byte first.
void store_little_endian(const mbedtls_mpi* value, size_t pos, size_t size) {
    uint8_t big_endian[kRsaBlockSize] = {0};
    mbedtls_mpi_write_binary(value, big_endian, size);
    for (size_t i = 0; i < size; ++i) ImageBuffer[pos + i] = big_endian[size - 1 - i];
}

void print_signature(const uint8_t output[kRsaBlockSize]) {
    say("Encypt Sig(RSA): \r\n");
    for (size_t row = 0; row < kRsaBlockSize; row += 8) {
        say("0x%x 0x%x 0x%x 0x%x ", output[row], output[row + 1], output[row + 2],
               output[row + 3]);
        say("0x%x 0x%x 0x%x 0x%x\r\n", output[row + 4], output[row + 5], output[row + 6],
               output[row + 7]);
    }
}

}  // namespace

bool rsa_signature_verifies(const RsaKeyContext* key, const uint8_t signature[kRsaBlockSize],
                        const uint8_t input[kRsaBlockSize]) {
    mbedtls_mpi s, recovered, expected;
    mbedtls_mpi_init(&s);
    mbedtls_mpi_init(&recovered);
    mbedtls_mpi_init(&expected);
    int result = 0;
    bool verified = false;
    if (!is_odd_positive(&key->N) || public_exponent_fault(&key->E)[0] != '\0') goto done;
    MPI_TRY(mbedtls_mpi_read_binary(&s, signature, kRsaBlockSize));
    MPI_TRY(mbedtls_mpi_read_binary(&expected, input, kRsaBlockSize));
    // s and s + N raise to the same value; only the one below N is the signature, so that one
    // signature never makes two images that check out.
    if (mbedtls_mpi_cmp_mpi(&s, &key->N) >= 0) goto done;
    // The dependency's exponentiation: the check is made by other code than the signer's, so that
    // a lasting fault of the signer's arithmetic cannot pass its own check.
    MPI_TRY(mbedtls_mpi_exp_mod(&recovered, &s, &key->E, &key->N, nullptr));
    verified = mbedtls_mpi_cmp_mpi(&recovered, &expected) == 0;
done:
    mbedtls_mpi_free(&s);
    mbedtls_mpi_free(&recovered);
    mbedtls_mpi_free(&expected);
    return verified;
}

namespace {

// The header takes a key of 128 bytes: a modulus of 1017 to 1024 bits.
bool has_header_size(const RsaKeyContext* key, const char* path) {
    if (key->len == kRsaBlockSize) return true;
    say(" failed\n  ! %s holds a %u-bit modulus; the header takes a 1024-bit key"
        " (a modulus of 1017 to 1024 bits)\n\n",
        path, static_cast<unsigned>(mbedtls_mpi_bitlen(&key->N)));
    return false;
}

// Says why the public key that the image will carry cannot take a signature, before anything is
// signed: values too large for the header (which also bounds the cost of checking with them),
// or an exponent that signs nothing. Returns whether it can.
bool public_key_fits(const mbedtls_mpi* n, const mbedtls_mpi* e, const char* path) {
    if (mbedtls_mpi_size(n) > kRsaModulusSize || mbedtls_mpi_size(e) > kRsaExponentSize) {
        say(" failed\n  ! %s holds a value too large for the header (N at most 128"
            " bytes, E at most 32 bytes)\n\n",
            path);
        return false;
    }
    const char* fault = public_exponent_fault(e);
    if (fault[0] != '\0') {
        say(" failed\n  ! %s: %s\n\n", path, fault);
        return false;
    }
    return true;
}

// Whether the block can be signed with the key's modulus at all; says why not.
bool block_below_modulus(const RsaKeyContext* key, const uint8_t input[kRsaBlockSize]) {
    mbedtls_mpi t;
    mbedtls_mpi_init(&t);
    const bool below = mbedtls_mpi_read_binary(&t, input, kRsaBlockSize) == 0 &&
                       mbedtls_mpi_cmp_mpi(&t, &key->N) < 0;
    mbedtls_mpi_free(&t);
    if (!below) {
        say("%s", kBlockNotBelowModulus);
    }
    return below;
}

// Leaves the signature to another machine: checks that the block can be signed with the public
// key's modulus, and keeps it.
int defer_signature(RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                    uint8_t output[kRsaBlockSize]) {
    const KeySources& sources = key_sources();
    if (load_rsa_public(key) != 0) return -1;
    key->len = (mbedtls_mpi_bitlen(&key->N) + 7) / 8;
    if (!has_header_size(key, sources.rsa_public_path)) return -1;
    if (!public_key_fits(&key->N, &key->E, sources.rsa_public_path)) return -1;
    if (!block_below_modulus(key, input)) return -1;
    memcpy(DeferredBlock, input, kRsaBlockSize);
    memset(output, 0, kRsaBlockSize);
    return 0;
}

// Signs in a key store outside the tool, with the public key it holds or the one named.
int sign_externally(RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                    uint8_t output[kRsaBlockSize]) {
    const KeySources& sources = key_sources();
    if (sources.rsa_public_path != nullptr) {
        if (load_rsa_public(key) != 0) return -1;
    } else if (sources.external_public_key == nullptr ||
               mbedtls_mpi_copy(&key->N, &sources.external_public_key->N) != 0 ||
               mbedtls_mpi_copy(&key->E, &sources.external_public_key->E) != 0) {
        say(" failed\n  ! %s shows no public key: name the public key file too\n\n",
            sources.external_name);
        return -1;
    }
    key->len = (mbedtls_mpi_bitlen(&key->N) + 7) / 8;
    const char* public_path =
        sources.rsa_public_path ? sources.rsa_public_path : sources.external_name;
    if (!has_header_size(key, sources.external_name) ||
        !public_key_fits(&key->N, &key->E, public_path) || !block_below_modulus(key, input)) {
        return -1;
    }
    const char* why = "";
    if (sources.external_operation(input, output, &why) != 0) {
        say(" failed\n  ! %s\n\n", why);
        return -1;
    }
    // The token's answer is checked before any byte of it is shown or stored.
    if (!rsa_signature_verifies(key, output, input)) {
        memset(output, 0, kRsaBlockSize);
        say_mismatch(sources.external_name,
                     sources.rsa_public_path ? sources.rsa_public_path : sources.external_name);
        return -1;
    }
    print_signature(output);
    return 0;
}

// Signs with the private key file. The public key is read quietly first, once (its file may be
// a pipe): a run that cannot load it fails here, with its messages, before anything is signed;
// its E blinds the operation; the signature is checked with it before any byte is printed; and
// its N and E then go into the key, after the signature, in the transcript's order.
int sign_with_private_key(RsaKeyContext* key, const uint8_t input[kRsaBlockSize],
                          uint8_t output[kRsaBlockSize]) {
    const KeySources& sources = key_sources();
    if (load_rsa_private(key) != 0) return -1;
    if (!has_header_size(key, sources.rsa_private_path)) return -1;
    const char* public_path =
        sources.rsa_public_path ? sources.rsa_public_path : sources.rsa_private_path;
    RsaKeyContext public_key;
    rsa_key_init(&public_key);
    int result = -1;
    std::string failure;
    bool have_public = read_rsa_public_quietly(&public_key.N, &public_key.E, &failure) == 0;
    if (!have_public && sources.rsa_public_path == nullptr && is_positive(&key->E)) {
        // A PEM or DER private key carries its own public key.
        have_public = mbedtls_mpi_copy(&public_key.N, &key->N) == 0 &&
                      mbedtls_mpi_copy(&public_key.E, &key->E) == 0;
    }
    if (!have_public && !failure.empty()) {
        // The run would fail there after signing: say why, now.
        say("%s", failure.c_str());
    } else if (!have_public) {
        // No public key file, and none in the private key: the loader says so.
        load_rsa_public(&public_key);
    } else if (public_key_fits(&public_key.N, &public_key.E, public_path) &&
               mbedtls_mpi_copy(&key->E, &public_key.E) == 0) {
        const int made = rsa_private_crt(key, input, output, &public_key.N);
        if (made == kRsaOtherPublicKey ||
            (made == 0 && !rsa_signature_verifies(&public_key, output, input))) {
            mbedtls_platform_zeroize(output, kRsaBlockSize);
            say_mismatch(sources.rsa_private_path, public_path);
        } else if (made == 0) {
            print_signature(output);
            // N of the public key file replaces the private key's, as loading it would.
            result = mbedtls_mpi_copy(&key->N, &public_key.N) == 0 ? 0 : -1;
        }
    }
    rsa_key_free(&public_key);
    return result;
}

int sign_with(RsaKeyContext* key, const uint8_t header_digest[32], uint8_t input[kRsaBlockSize],
              uint8_t output[kRsaBlockSize]) {
    const KeySources& sources = key_sources();
    rsa_signed_block(header_digest, input);
    if (sources.signer == RsaSigner::kDeferred) {
        if (defer_signature(key, input, output) != 0) return -1;
    } else if (sources.signer == RsaSigner::kExternal) {
        if (sign_externally(key, input, output) != 0) return -1;
    } else if (sign_with_private_key(key, input, output) != 0) {
        return -1;
    }
    memcpy(ImageBuffer + kRsaSignatureOffset, output, kRsaSignatureSize);

    const char* private_name = sources.signer == RsaSigner::kExternal ? sources.external_name
                                                                        : sources.rsa_private_path;
    const char* public_path = sources.rsa_public_path ? sources.rsa_public_path : private_name;
    // The key as loaded now must fit the header too. The signature was checked with the public
    // key before it was printed; the image it goes into is checked, from its own fields, before
    // it is written.
    if (!public_key_fits(&key->N, &key->E, public_path)) return -1;
    store_little_endian(&key->N, kRsaModulusOffset, kRsaModulusSize);
    store_little_endian(&key->E, kRsaExponentOffset, kRsaExponentSize);
    return 0;
}

}  // namespace

bool image_signature_verifies(const uint8_t header_digest[32]) {
    RsaKeyContext key;
    rsa_key_init(&key);
    read_header_rsa_key(ImageBuffer, &key.N, &key.E);
    uint8_t block[kRsaBlockSize];
    rsa_signed_block(header_digest, block);
    const bool verified = rsa_signature_verifies(&key, ImageBuffer + kRsaSignatureOffset, block);
    rsa_key_free(&key);
    return verified;
}

int sign_header_rsa(const uint8_t header_digest[32]) {
    RsaKeyContext key;
    rsa_key_init(&key);
    uint8_t input[kRsaBlockSize];
    uint8_t output[kRsaBlockSize];
    const int result = sign_with(&key, header_digest, input, output);
    mbedtls_platform_zeroize(input, sizeof(input));
    mbedtls_platform_zeroize(output, sizeof(output));
    rsa_key_free(&key);
    return result;
}
