// SPDX-License-Identifier: Apache-2.0
// A key set: the files of a key pair (and an AES key) in the forms the tools read, written as one
// set: all or none, a replaced file kept as FILE.old, and no file of an older set left beside it.
#pragma once

#include <cstddef>
#include <string>

#include "keys/key_files.hpp"

// A replaced key file is kept under its name with this suffix: a lost release key cannot be
// made again.
constexpr char kBackupSuffix[] = ".old";

// A key file waiting to be put in place with the others.
struct KeyFile {
    std::string path;
    std::string text;
    unsigned mode;
    bool kept;    // its old file went to path + kBackupSuffix (replaced, or left out of the set)
    bool wanted;  // this run writes it
};

// The key files of a set in the order they are written and reported: rsa_priv.txt,
// rsa_pub.txt, aes.txt, private.pem and public.pem.
constexpr size_t kKeySetFiles = 5;
constexpr size_t kAesKeyFile = 2;  // its index

// The files of a run into dir: the private ones only when the key is not in a token, aes.txt
// with with_aes, the PEM pair with with_pem.
void plan_key_set(const std::string& dir, bool in_token, bool with_aes, bool with_pem,
                  KeyFile keys[kKeySetFiles]);

// The seven lines N, D, P, Q, DP, DQ, QP of rsa_priv.txt, as "X = " and upper-case hexadecimal,
// made in place (no copy of a line is left behind); "" when a value cannot be written.
std::string format_rsa_private(const RsaKeyContext& key);

// The two lines N and E of rsa_pub.txt; "" when a value cannot be written.
std::string format_rsa_public(const RsaKeyContext& key);

// Whether the set may be written: where any file of a set is (one this run writes or not: two
// pairs must not share a folder), only with force, and only when no earlier replacement is kept
// beside it. Returns false with the reason in *why.
bool check_key_set_outputs(const KeyFile keys[kKeySetFiles], bool force, std::string* why);

// Fills the texts of the wanted files from the key and the AES key. Returns false with the
// reason in *why.
bool fill_key_set(KeyFile keys[kKeySetFiles], const RsaKeyContext& key,
                  const unsigned char aes_key[16], std::string* why);

// Writes and flushes every wanted key file first and only then puts them all in place in dir,
// whose lock the caller holds (lock_folder); a replaced file is kept as PATH.old, and so is a
// file of the set that this run does not write. If any step fails, every file is as it was
// before the run, and false is returned with the reason in *why; if the run is killed, the
// next recovery of dir (recover_folder) makes it so, or finishes the set.
bool write_key_set(const std::string& dir, KeyFile keys[kKeySetFiles], std::string* why);

// Wipes the texts of the set.
void wipe_key_set(KeyFile keys[kKeySetFiles]);
