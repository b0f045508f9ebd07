#include "secure/aes_cipher.hpp"

#include <mbedtls/aes.h>
#include <mbedtls/platform_util.h>

namespace {

int cbc(const uint8_t key[kAesKeySize], int mode, uint8_t* data, size_t length) {
    // The CBC routine advances the IV in place, so every operation starts from a fresh zero IV.
    unsigned char iv[16] = {0};
    mbedtls_aes_context context;
    mbedtls_aes_init(&context);
    int result = mode == MBEDTLS_AES_ENCRYPT ? mbedtls_aes_setkey_enc(&context, key, 128)
                                             : mbedtls_aes_setkey_dec(&context, key, 128);
    if (result == 0) result = mbedtls_aes_crypt_cbc(&context, mode, length, iv, data, data);
    mbedtls_aes_free(&context);
    mbedtls_platform_zeroize(iv, sizeof(iv));
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
