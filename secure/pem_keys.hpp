// SPDX-License-Identifier: Apache-2.0
// RSA keys in the formats openssl writes: PEM or DER, PKCS#1 or PKCS#8, the private key
// possibly encrypted under a passphrase.
#pragma once

#include <cstddef>
#include <string>

#include "secure/key_files.hpp"

// How a key file is read; every tool asks this one question.
enum class KeyFileFormat {
    kText,  // the format of rsa_priv.txt and rsa_pub.txt, one value per line, as bootseal reads it
    kPem,   // a line starts with "-----BEGIN"; text before it (and after the block) is skipped
    kDer,   // an ASN.1 SEQUENCE with a long-form length, as every DER RSA key starts
};

// The format of the key in data (size bytes). For PEM, *pem_start (when given) receives the
// offset of the first "-----BEGIN" line.
KeyFileFormat key_bytes_format(const char* data, size_t size, size_t* pem_start);

// The format of the key file at path; a file that cannot be read is kText, whose reader says why.
KeyFileFormat key_file_format(const char* path);

// Reads the whole key file (at most 64 KiB) through no buffer but *bytes, and a NUL after it.
// Returns false with the reason in *why.
bool read_key_file_bytes(const char* path, std::string* bytes, std::string* why);

// Decodes the first PEM block in data into *der (which the caller wipes), its armour's name
// ("PRIVATE KEY", "CERTIFICATE" ...) into *label. Returns false when there is none to decode.
bool decode_pem_block(const char* data, size_t size, std::string* label, std::string* der);

// Takes the passphrase of an encrypted key from the first line of the file at path (kept, not
// copied: it must outlive the reads) instead of asking on the terminal; nullptr asks again.
void set_passphrase_file(const char* path);

// Reads an RSA private key: N, E, D, P, Q, DP, DQ and QP, and the key length. An encrypted key
// takes its passphrase from the passphrase file, or asks on the terminal, and sets
// *was_encrypted. Returns 0, or -1 with the reason in *why.
int read_pem_private_key(const char* path, RsaKeyContext* key, std::string* why,
                         bool* was_encrypted = nullptr);

// Reads an RSA public key (N and E). Returns 0, or -1 with the reason in *why.
int read_pem_public_key(const char* path, RsaKeyContext* key, std::string* why);

// Writes the key as a PKCS#1 PEM private key, or with public_only the PEM public key
// (SubjectPublicKeyInfo), into *pem. Returns 0 or the dependency's negative code.
int format_pem_key(const RsaKeyContext& key, bool public_only, std::string* pem);
