// SPDX-License-Identifier: Apache-2.0
// Secure program key images: the user's AES key, wrapped under the key-encryption key.
#pragma once

#include <cstdint>

#include "image/image_layout.hpp"
#include "seal/aes_cipher.hpp"

// Assembles the built-in key-encryption key.
void key_encryption_key(uint8_t key[kAesKeySize]);

// Checks the key stamp, wraps the AES key into the image and re-checksums the header.
// Returns 0 or -1.
int make_wr_key_image(const ChipProfile& profile);
