// SPDX-License-Identifier: Apache-2.0
// RSA keys in the formats openssl writes: PEM or DER, PKCS#1 or PKCS#8, the private key
// possibly encrypted under a passphrase.
#pragma once

#include <cstddef>
#include <string>

#include "keys/key_bytes.hpp"
#include "keys/key_files.hpp"
#include "keys/key_reader.hpp"

// Takes the passphrase of an encrypted key from the first line of the file at path (kept, not
// copied: it must outlive the reads) instead of asking on the terminal; nullptr asks again.
void set_passphrase_file(const char* path);

// Reads the RSA private key in the bytes of the key file at path (read once, whole, by the
// caller): N, E, D, P, Q, DP, DQ and QP, and the key length. An encrypted key takes its
// passphrase from the passphrase file, or asks on the terminal, and sets *was_encrypted.
// Returns 0, or -1 with the reason, naming path, in *why.
int read_pem_private_key(const KeyFileBytes& file, const char* path, RsaKeyContext* key,
                         std::string* why, bool* was_encrypted = nullptr);

// Reads the RSA public key (N and E) in the bytes of the key file at path, which are public from
// here on. Returns 0, or -1 with the reason in *why.
int read_pem_public_key(KeyFileBytes* file, const char* path, RsaKeyContext* key, std::string* why);

// Writes the key as a PKCS#1 PEM private key, or with public_only the PEM public key
// (SubjectPublicKeyInfo), into *pem. Returns 0 or the dependency's negative code.
int format_pem_key(const RsaKeyContext& key, bool public_only, std::string* pem);
