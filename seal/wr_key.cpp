// SPDX-License-Identifier: Apache-2.0
#include "seal/wr_key.hpp"

#include <mbedtls/platform_util.h>

#include <cstdio>

#include "image/header_display.hpp"
#include "image/image_checksum.hpp"
#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "seal/key_fingerprint.hpp"

void key_encryption_key(uint8_t key[kAesKeySize]) {
    // The boot ROM unwraps with the same sixteen bytes as the first default-key variant.
    default_aes_key(false, key);
}

int make_wr_key_image(const ChipProfile& profile) {
    if (check_key_stamp_tag(kKeyStampOffset) != 0) {
        say("Not valid wr key code!\n");
        return -1;
    }
    show_key_stamp(kKeyStampOffset);

    uint8_t key[kAesKeySize] = {0};
    uint8_t kek[kAesKeySize] = {0};
    uint8_t wrapped[kAesKeySize] = {0};
    int result = load_aes_key(profile, "%02x", true, key);
    if (result == 0) {
        note_sealed_aes_key(key);
        key_encryption_key(kek);
        result = aes_ecb_encrypt(kek, key, wrapped);
    }
    mbedtls_platform_zeroize(key, sizeof(key));
    mbedtls_platform_zeroize(kek, sizeof(kek));
    if (result != 0) return -1;

    say("AES-wr-key:\r\n");
    for (size_t i = 0; i < kWrappedKeySize; ++i) {
        say("%02x", wrapped[i]);
        ImageBuffer[kWrappedKeyOffset + i] = wrapped[i];
    }
    say("\r\n");

    // The checksum is taken after the wrapped key is in place, so it covers it.
    const HeaderLayout layout = header_layout(profile);
    write_u16_le(layout.boot_tag, kBootTagValue);
    write_u16_le(layout.header_checksum, 0);
    store_header_checksum(layout);
    return 0;
}
