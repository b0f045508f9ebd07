// SPDX-License-Identifier: Apache-2.0
#include "keys/encrypted_pkcs8.hpp"

#include <mbedtls/asn1.h>
#include <mbedtls/cipher.h>
#include <mbedtls/md.h>
#include <mbedtls/pkcs5.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/version.h>

#include <cstring>

namespace {

// A key is stretched at most this many times: far above what any tool writes (openssl 2,048,
// Python's cryptography a few hundred thousand), low enough that a hostile file cannot hold a
// run for more than seconds.
constexpr int kMaxIterations = 10000000;
constexpr size_t kMaxKeySize = 32;

// The object identifiers, as their DER contents.
const uint8_t kPbes2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
const uint8_t kPbkdf2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};

struct Prf {
    uint8_t last;  // the last byte of 1.2.840.113549.2.x
    mbedtls_md_type_t md;
};
const uint8_t kHmacPrefix[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02};
const Prf kPrfs[] = {{7, MBEDTLS_MD_SHA1},
                     {8, MBEDTLS_MD_SHA224},
                     {9, MBEDTLS_MD_SHA256},
                     {10, MBEDTLS_MD_SHA384},
                     {11, MBEDTLS_MD_SHA512}};

struct Cipher {
    uint8_t oid[9];
    mbedtls_cipher_type_t type;
    size_t key_size;
    size_t iv_size;
    const char* name;
};
const Cipher kCiphers[] = {
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x02},
     MBEDTLS_CIPHER_AES_128_CBC,
     16,
     16,
     "AES-128-CBC"},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x16},
     MBEDTLS_CIPHER_AES_192_CBC,
     24,
     16,
     "AES-192-CBC"},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A},
     MBEDTLS_CIPHER_AES_256_CBC,
     32,
     16,
     "AES-256-CBC"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07, 0x00},
     MBEDTLS_CIPHER_DES_EDE3_CBC,
     24,
     8,
     "DES-EDE3-CBC"},
};

bool oid_is(const mbedtls_asn1_buf& oid, const uint8_t* value, size_t size) {
    return oid.len == size && memcmp(oid.p, value, size) == 0;
}

// The algorithm and the encrypted bytes of an EncryptedPrivateKeyInfo. Returns false when der is
// not one.
bool split(const uint8_t* der, size_t size, mbedtls_asn1_buf* alg, mbedtls_asn1_buf* params,
           mbedtls_asn1_buf* data) {
    unsigned char* p = const_cast<unsigned char*>(der);
    const unsigned char* end = der + size;
    size_t length = 0;
    if (mbedtls_asn1_get_tag(&p, end, &length, MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE) ||
        p + length != end || mbedtls_asn1_get_alg(&p, end, alg, params) != 0 ||
        mbedtls_asn1_get_tag(&p, end, &data->len, MBEDTLS_ASN1_OCTET_STRING) != 0 ||
        p + data->len != end) {
        return false;
    }
    data->p = p;
    return true;
}

// Reads PBES2's parameters: the salt, count, hash and cipher of the key derivation, and the IV.
// Returns false with the reason in *why.
bool read_pbes2(const mbedtls_asn1_buf& params, mbedtls_asn1_buf* salt, int* iterations,
                mbedtls_md_type_t* md, const Cipher** cipher, mbedtls_asn1_buf* iv,
                std::string* why) {
    *why = "its encryption parameters are damaged";
    if (params.tag != (MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE)) return false;
    unsigned char* p = params.p;
    const unsigned char* end = params.p + params.len;
    mbedtls_asn1_buf kdf, kdf_params, enc, enc_params;
    if (mbedtls_asn1_get_alg(&p, end, &kdf, &kdf_params) != 0 ||
        mbedtls_asn1_get_alg(&p, end, &enc, &enc_params) != 0 || p != end) {
        return false;
    }
    if (!oid_is(kdf, kPbkdf2, sizeof(kPbkdf2))) {
        *why = "its key is derived by a function other than PBKDF2";
        return false;
    }
    p = kdf_params.p;
    end = kdf_params.p + kdf_params.len;
    int key_size = 0;
    if (kdf_params.tag != (MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE) ||
        mbedtls_asn1_get_tag(&p, end, &salt->len, MBEDTLS_ASN1_OCTET_STRING) != 0) {
        return false;
    }
    salt->p = p;
    p += salt->len;
    if (mbedtls_asn1_get_int(&p, end, iterations) != 0 || *iterations < 1) return false;
    if (p < end && *p == MBEDTLS_ASN1_INTEGER && mbedtls_asn1_get_int(&p, end, &key_size) != 0) {
        return false;
    }
    *md = MBEDTLS_MD_SHA1;  // the default when no function is named
    if (p < end) {
        mbedtls_asn1_buf prf, prf_params;
        if (mbedtls_asn1_get_alg(&p, end, &prf, &prf_params) != 0) return false;
        *md = MBEDTLS_MD_NONE;
        for (const Prf& known : kPrfs) {
            if (prf.len == sizeof(kHmacPrefix) + 1 &&
                memcmp(prf.p, kHmacPrefix, sizeof(kHmacPrefix)) == 0 &&
                prf.p[sizeof(kHmacPrefix)] == known.last) {
                *md = known.md;
            }
        }
        if (*md == MBEDTLS_MD_NONE) {
            *why =
                "its key is derived with a hash other than SHA-1, SHA-224, SHA-256, SHA-384 "
                "or SHA-512";
            return false;
        }
    }
    if (p != end) return false;
    *cipher = nullptr;
    for (const Cipher& known : kCiphers) {
        const size_t oid_size = known.oid[8] == 0 ? 8 : 9;
        if (oid_is(enc, known.oid, oid_size)) *cipher = &known;
    }
    if (*cipher == nullptr) {
        *why = "it is encrypted with a cipher other than AES-128/192/256-CBC or DES-EDE3-CBC";
        return false;
    }
    if (key_size != 0 && static_cast<size_t>(key_size) != (*cipher)->key_size) return false;
    if (*iterations > kMaxIterations) {
        *why =
            "its passphrase is stretched more than 10,000,000 times, more than this tool "
            "accepts";
        return false;
    }
    p = enc_params.p;
    end = enc_params.p + enc_params.len;
    if (enc_params.tag != MBEDTLS_ASN1_OCTET_STRING) return false;
    iv->p = p;
    iv->len = enc_params.len;
    return true;
}

// PBKDF2 with the named HMAC. The call that takes a hash type came with 3.3; before it, the
// call takes a prepared HMAC context.
int derive_key(mbedtls_md_type_t md, const uint8_t* passphrase, size_t passphrase_size,
               const mbedtls_asn1_buf& salt, int iterations, size_t key_size, uint8_t* key) {
#if MBEDTLS_VERSION_NUMBER >= 0x03030000
    return mbedtls_pkcs5_pbkdf2_hmac_ext(md, passphrase, passphrase_size, salt.p, salt.len,
                                         static_cast<unsigned>(iterations),
                                         static_cast<uint32_t>(key_size), key);
#else
    const mbedtls_md_info_t* info = mbedtls_md_info_from_type(md);
    if (info == nullptr) return -1;
    mbedtls_md_context_t context;
    mbedtls_md_init(&context);
    int result = mbedtls_md_setup(&context, info, 1);
    if (result == 0) {
        result = mbedtls_pkcs5_pbkdf2_hmac(&context, passphrase, passphrase_size, salt.p, salt.len,
                                           static_cast<unsigned>(iterations),
                                           static_cast<uint32_t>(key_size), key);
    }
    mbedtls_md_free(&context);
    return result;
#endif
}

}  // namespace

bool is_encrypted_pkcs8(const uint8_t* der, size_t size) {
    mbedtls_asn1_buf alg, params, data;
    return split(der, size, &alg, &params, &data);
}

int decrypt_pkcs8(const uint8_t* der, size_t size, const uint8_t* passphrase,
                  size_t passphrase_size, uint8_t* plain, size_t* plain_size, std::string* why) {
    mbedtls_asn1_buf alg, params, data, salt, iv;
    if (!split(der, size, &alg, &params, &data)) {
        *why = "it is not an encrypted PKCS#8 key";
        return -1;
    }
    if (!oid_is(alg, kPbes2, sizeof(kPbes2))) return kPkcs8NotPbes2;
    int iterations = 0;
    mbedtls_md_type_t md = MBEDTLS_MD_NONE;
    const Cipher* cipher = nullptr;
    if (!read_pbes2(params, &salt, &iterations, &md, &cipher, &iv, why)) return -1;
    const mbedtls_cipher_info_t* info = mbedtls_cipher_info_from_type(cipher->type);
    // The decryption writes at most the encrypted bytes and a block, which the caller's room of
    // size bytes (the whole structure) always holds.
    if (info == nullptr || iv.len != cipher->iv_size || data.len == 0 || data.len + 16 > size) {
        *why = std::string("its ") + cipher->name + " parameters are damaged";
        return -1;
    }
    uint8_t key[kMaxKeySize];
    int result =
        derive_key(md, passphrase, passphrase_size, salt, iterations, cipher->key_size, key);
    mbedtls_cipher_context_t context;
    mbedtls_cipher_init(&context);
    if (result == 0) result = mbedtls_cipher_setup(&context, info);
    // Named, not left to the release's default: 3.x sets no padding of its own.
    if (result == 0) result = mbedtls_cipher_set_padding_mode(&context, MBEDTLS_PADDING_PKCS7);
    if (result == 0) {
        result = mbedtls_cipher_setkey(&context, key, static_cast<int>(8 * cipher->key_size),
                                       MBEDTLS_DECRYPT);
    }
    if (result == 0) {
        result = mbedtls_cipher_crypt(&context, iv.p, iv.len, data.p, data.len, plain, plain_size);
        // A wrong passphrase shows as padding that does not come out right; rarely the padding
        // passes and the key's structure then does not parse, which the caller reports alike.
        if (result != 0) *why = "wrong passphrase (or the file is damaged)";
    } else {
        *why = std::string("this build cannot decrypt ") + cipher->name;
    }
    mbedtls_cipher_free(&context);
    mbedtls_platform_zeroize(key, sizeof(key));
    if (result == 0) why->clear();
    return result == 0 ? 0 : -1;
}
