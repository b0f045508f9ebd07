// SPDX-License-Identifier: Apache-2.0
// The key pair of a bootseal-keygen run made in software or taken from a PEM or DER file, and
// the facts its report gives of it.
#pragma once

#include <mbedtls/ctr_drbg.h>

#include <cstddef>
#include <string>

#include "keys/key_files.hpp"

constexpr size_t kKeyBytes = 128;  // the header's 1024-bit modulus

// E in decimal, as people quote it ("65537").
std::string format_exponent(const RsaKeyContext& key);

// The share of header digests whose signed block is not below N (about 1 - N / 2^1024).
double unsignable_share(const RsaKeyContext& key);

// Generates a new pair, or reads the one of a PEM or DER file (with_pem: private.pem is written
// too, which the note on a decrypted key names). Returns 0 or 1 after saying why.
int make_key(const char* from_pem, bool with_pem, RsaKeyContext* key,
             mbedtls_ctr_drbg_context* drbg);
