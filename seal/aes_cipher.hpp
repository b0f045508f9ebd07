// SPDX-License-Identifier: Apache-2.0
// AES-128 encryption through the dependency: one context per operation, freed and wiped after.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_layout.hpp"

// Encrypts length bytes (a multiple of 16) in place with AES-128-CBC and an all-zero IV.
// Returns 0 or the dependency's negative error code.
int aes_cbc_encrypt(const uint8_t key[kAesKeySize], uint8_t* data, size_t length);

// Encrypts one 16-byte block with AES-128 in ECB mode. Returns 0 or a negative error code.
int aes_ecb_encrypt(const uint8_t key[kAesKeySize], const uint8_t in[16], uint8_t out[16]);

// Decrypts length bytes (a multiple of 16) in place with AES-128-CBC and an all-zero IV.
int aes_cbc_decrypt(const uint8_t key[kAesKeySize], uint8_t* data, size_t length);

// Decrypts one 16-byte block with AES-128 in ECB mode.
int aes_ecb_decrypt(const uint8_t key[kAesKeySize], const uint8_t in[16], uint8_t out[16]);
