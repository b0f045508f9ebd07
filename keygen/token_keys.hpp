// SPDX-License-Identifier: Apache-2.0
// Keys a token already holds: the list of them, and the public half of one.
#pragma once

#include "keys/key_files.hpp"

// Prints the RSA keys of the URI's token, one line each: label, id, size, top byte of the
// modulus and which of the private and public objects are there. Returns the run's exit
// status: 0, or 1 after saying why on standard error.
int print_token_keys(const char* tool, const char* uri);

// Reads N and E of the 1024-bit key the URI names, generating nothing. Returns the run's exit
// status: 0, or 1 after saying why on standard error.
int read_token_public_key(const char* tool, const char* uri, RsaKeyContext* key);
