// SPDX-License-Identifier: Apache-2.0
#include "seal/aes_cipher.hpp"

#include <mbedtls/aes.h>
#include <mbedtls/platform_util.h>

#include <cstring>

namespace {

constexpr size_t kBlock = 16;

void xor_block(uint8_t* target, const uint8_t* other) {
    // Two 64-bit words rather than sixteen bytes: the chaining is half the cost of a block.
    uint64_t t[2], o[2];
    memcpy(t, target, kBlock);
    memcpy(o, other, kBlock);
    t[0] ^= o[0];
    t[1] ^= o[1];
    memcpy(target, t, kBlock);
}

// AES-128-CBC with an all-zero IV, chained here around the dependency's block operation: every
// operation starts from a fresh zero IV. The chaining needs no copies: encryption XORs each block
// with the ciphertext just written before it, and decryption runs from the last block to the
// first, so the ciphertext block before the one being decrypted is still in place.
int cbc(const uint8_t key[kAesKeySize], int mode, uint8_t* data, size_t length) {
    if (length % kBlock != 0) return MBEDTLS_ERR_AES_INVALID_INPUT_LENGTH;
    static const uint8_t kZeroIv[kBlock] = {0};
    mbedtls_aes_context context;
    mbedtls_aes_init(&context);
    int result = mode == MBEDTLS_AES_ENCRYPT ? mbedtls_aes_setkey_enc(&context, key, 128)
                                             : mbedtls_aes_setkey_dec(&context, key, 128);
    if (mode == MBEDTLS_AES_ENCRYPT) {
        const uint8_t* previous = kZeroIv;
        for (size_t pos = 0; result == 0 && pos < length; pos += kBlock) {
            uint8_t* block = data + pos;
            xor_block(block, previous);
            result = mbedtls_aes_crypt_ecb(&context, mode, block, block);
            previous = block;
        }
    } else {
        for (size_t pos = length; result == 0 && pos > 0;) {
            pos -= kBlock;
            uint8_t* block = data + pos;
            result = mbedtls_aes_crypt_ecb(&context, mode, block, block);
            xor_block(block, pos == 0 ? kZeroIv : block - kBlock);
        }
    }
    mbedtls_aes_free(&context);
    return result;
}

int ecb(const uint8_t key[kAesKeySize], int mode, const uint8_t in[16], uint8_t out[16]) {
    mbedtls_aes_context context;
    mbedtls_aes_init(&context);
    int result = mode == MBEDTLS_AES_ENCRYPT ? mbedtls_aes_setkey_enc(&context, key, 128)
                                             : mbedtls_aes_setkey_dec(&context, key, 128);
    if (result == 0) result = mbedtls_aes_crypt_ecb(&context, mode, in, out);
    mbedtls_aes_free(&context);
    return result;
}

}  // namespace

int aes_cbc_encrypt(const uint8_t key[kAesKeySize], uint8_t* data, size_t length) {
    return cbc(key, MBEDTLS_AES_ENCRYPT, data, length);
}

int aes_ecb_encrypt(const uint8_t key[kAesKeySize], const uint8_t in[16], uint8_t out[16]) {
    return ecb(key, MBEDTLS_AES_ENCRYPT, in, out);
}

int aes_cbc_decrypt(const uint8_t key[kAesKeySize], uint8_t* data, size_t length) {
    return cbc(key, MBEDTLS_AES_DECRYPT, data, length);
}

int aes_ecb_decrypt(const uint8_t key[kAesKeySize], const uint8_t in[16], uint8_t out[16]) {
    return ecb(key, MBEDTLS_AES_DECRYPT, in, out);
}
