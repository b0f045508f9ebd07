// SPDX-License-Identifier: Apache-2.0
// Key pairs in the formats bootseal reads.
#pragma once

#include <cstddef>
#include <string>

#include "keys/key_files.hpp"

// A random-number source in the dependency's form.
using RandomSource = int (*)(void* state, unsigned char* output, size_t length);

// Generates a 1024-bit RSA key with E = 65537 whose modulus starts with the byte 0xFF, so that
// nearly every header digest block lies below it. Fills every value of key; returns 0 or the
// dependency's negative code.
int generate_rsa_key(RsaKeyContext* key, RandomSource random, void* random_state);
