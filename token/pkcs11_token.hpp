// SPDX-License-Identifier: Apache-2.0
// RSA keys inside a PKCS#11 token, named by a pkcs11: URI (RFC 7512) and reached through
// p11-kit's module loading. The private key never leaves the token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "keys/key_files.hpp"

// What the token calls return besides 0 and -1: a URI that cannot be parsed (a usage error),
// and a generation stopped by its watcher (an interruption).
constexpr int kTokenBadUri = 2;
constexpr int kTokenStopped = 3;

// Whether text is a pkcs11: URI rather than a file name (the scheme in any case).
bool is_pkcs11_uri(const char* text);

// The URI as it may be shown: the value of every attribute not known to be harmless (pin-value
// above all, however often it is given, and whatever a malformed URI holds) replaced by "...".
std::string shown_pkcs11_uri(const char* uri);

// The file the URI's pin-source names (without its file: prefix), or "" when it names none or
// cannot be parsed.
std::string pkcs11_pin_source(const char* uri);

// Parses the URI only. Returns 0, or kTokenBadUri with the reason in *why.
int check_pkcs11_uri(const char* uri, std::string* why);

// Loads the module, finds the one token and RSA private key the URI names, logs in and keeps
// the session for token_private_operation. Fills public_key with N and E when the token shows
// them (sets *have_public). Returns 0, kTokenBadUri, or -1 with the reason in *why.
int open_token_key(const char* uri, RsaKeyContext* public_key, bool* have_public,
                   std::string* why);

// Raises the 128-byte block to D inside the token (CKM_RSA_X_509). Returns 0 or -1; the reason
// of a failure is in token_error().
int token_private_operation(const uint8_t input[128], uint8_t output[128]);
const std::string& token_error();

// Told by generate_token_key once before the first pair (pairs 0) and after each rejected pair,
// with the number of pairs made so far (none of them left in the token); returns false to stop
// the generation.
using PairWatcher = bool (*)(void* state, int pairs);

// Generates a 1024-bit pair inside the token, for signing only (the private key sensitive and
// not extractable, label and id from the URI), again until the modulus's top byte is at least
// min_top_byte, deleting each rejected pair. Fills public_key with N and E and *attempts with
// the number of pairs made. The kept pair stays open for delete_generated_key until
// close_token. Returns 0, kTokenBadUri, kTokenStopped (nothing left in the token) or -1 with the
// reason in *why; on any failure no object of the run is left.
int generate_token_key(const char* uri, unsigned min_top_byte, PairWatcher watcher,
                       void* watcher_state, RsaKeyContext* public_key, int* attempts,
                       std::string* why);

// Deletes the pair generate_token_key kept (private key first, so that a failure leaves the
// whole pair rather than a lone private key). Returns 0, or -1 with what is left in *why.
int delete_generated_key(std::string* why);

// An RSA key the token holds, as its objects show it.
struct TokenKeyInfo {
    std::string label;
    std::string id;     // lower-case hexadecimal
    unsigned bits = 0;  // 0 when neither object shows the modulus
    unsigned top_byte = 0;
    bool has_private = false;
    bool has_public = false;
};

// Lists the RSA keys of the URI's token that match its object and id (all of them when it names
// none), a private and a public object of one label and id counting as one key. Returns 0,
// kTokenBadUri, or -1 with the reason in *why.
int list_token_keys(const char* uri, std::string* token_label, std::vector<TokenKeyInfo>* keys,
                    std::string* why);

// Logs out and closes the session and the modules.
void close_token();
