// SPDX-License-Identifier: Apache-2.0
// Making a key pair inside a token: how long the search for a high top byte takes, what the
// user is told meanwhile, and undoing the pair when the run cannot finish.
#pragma once

#include <ctime>

#include "keys/key_files.hpp"

// The least top byte of a token's modulus unless --min-top-byte says otherwise. A token's
// primes have their top two bits set, so a top byte of 0xFF comes about once in 8200 pairs,
// 0xFA once in 230 (SoftHSM2 here makes a pair in about 25 ms: some 6 s), and the images the
// key cannot sign stay below 2%.
constexpr unsigned kTokenDefaultTopByte = 0xFA;

// The share of pairs whose modulus starts with a byte of at least top_byte, for primes drawn
// evenly with their top two bits set: the product x y of two such primes over 2^512 each
// reaches t = top_byte / 256 with probability 16 ((1 - t) + t ln t).
double top_byte_odds(unsigned top_byte);

// What the progress lines are worked out from.
struct PairProgress {
    const char* tool;
    unsigned min_top_byte;
    timespec start;
    double next_report;  // seconds from start
};

// Generates the pair in the token as generate_token_key does, holding the stop signals from the
// first pair on and telling progress on standard error every few seconds. Returns 0 with N and
// E in *key and the pairs made in *pairs (the pair stays for undo_token_key until close_token),
// or the run's exit status after saying why: 1, 2 for a bad URI, 128 + the signal that stopped
// it (nothing left in the token).
int make_token_key(const char* tool, const char* uri, unsigned min_top_byte, RsaKeyContext* key,
                   int* pairs);

// One progress line: pairs made, time taken, the expected time left and the hint.
void report_progress(const PairProgress& progress, int pairs, double elapsed);

// Deletes the pair make_token_key made, because the run cannot finish, and says so. Returns the
// run's exit status: 128 + the held stop signal when one came, else 1.
int undo_token_key(const char* tool);
