// SPDX-License-Identifier: Apache-2.0
// The key pair of a bootseal-keygen run made in software or taken from a PEM or DER file, and
// the facts its report gives of it.
#pragma once

#include <cstddef>
#include <string>

#include "keys/key_files.hpp"
#include "keys/key_set.hpp"

constexpr size_t kKeyBytes = 128;  // the header's 1024-bit modulus

// E in decimal, as people quote it ("65537").
std::string format_exponent(const RsaKeyContext& key);

// The share of header digests whose signed block is not below N (about 1 - N / 2^1024).
double unsignable_share(const RsaKeyContext& key);

// Where a run takes its pair from: a new one made in software, an existing PEM or DER key
// (from_pem), or a token (token_uri: made there, or with export_public its key read).
struct KeyOrigin {
    const char* from_pem = nullptr;
    const char* token_uri = nullptr;
    bool export_public = false;
    unsigned min_top_byte = 0;
    bool with_pem = false;  // private.pem is written too (named by the note on a decrypted key)
    bool with_aes = false;  // a random AES key is made too
};

// The keys of a run.
struct MadeKeys {
    RsaKeyContext key;
    unsigned char aes_key[16];
    int attempts;        // the pairs made in a token
    bool made_in_token;  // a pair of this run is in the token until the files are written
};

// Makes or reads the pair, and the AES key, of origin into *made (initialised here; free it
// with free_made_keys whatever this returns). Returns 0, or non-zero after saying why on
// standard error.
int make_keys(const KeyOrigin& origin, MadeKeys* made);

// Wipes and frees the keys of a run.
void free_made_keys(MadeKeys* made);

// Prints what a run wrote (the wanted files of the set), what it kept and what its modulus is.
void print_key_set_report(const KeyFile keys[kKeySetFiles], const MadeKeys& made);
