// SPDX-License-Identifier: Apache-2.0
// RSA keys in the formats openssl writes: PEM or DER, PKCS#1 or PKCS#8, the private key
// possibly encrypted under a passphrase.
#pragma once

#include <string>

#include "secure/key_files.hpp"

// Whether the file at path holds a PEM or DER key rather than the text format of rsa_priv.txt
// and rsa_pub.txt.
bool is_pem_or_der_key_file(const char* path);

// Reads an RSA private key: N, E, D, P, Q, DP, DQ and QP, and the key length. An encrypted key
// asks for its passphrase on the terminal. Returns 0, or -1 with the reason in *why.
int read_pem_private_key(const char* path, RsaKeyContext* key, std::string* why);

// Reads an RSA public key (N and E). Returns 0, or -1 with the reason in *why.
int read_pem_public_key(const char* path, RsaKeyContext* key, std::string* why);

// Writes the key as a PKCS#1 PEM private key, or with public_only the PEM public key
// (SubjectPublicKeyInfo), into *pem. Returns 0 or the dependency's negative code.
int format_pem_key(const RsaKeyContext& key, bool public_only, std::string* pem);
