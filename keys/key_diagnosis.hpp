// SPDX-License-Identifier: Apache-2.0
// Why a key file cannot be used, said as what the file is and what to do with it: an OpenSSH
// key, a PKCS#12 bundle, a certificate, a key of another algorithm, the other half of a pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "keys/key_reader.hpp"

// The reason, with the path, that the key file at path, whose bytes are in file (read once:
// a pipe gives them once), gives no RSA private key (want_private) or public key. parse_code is
// the key parser's code for the file (0 when it was not parsed); it says, when nothing else
// does, whether the file was damaged or the passphrase wrong.
std::string explain_key_refusal(const KeyFileBytes& file, const char* path, bool want_private,
                                int parse_code);

// The name of the algorithm of the PrivateKeyInfo or SubjectPublicKeyInfo in der ("RSA",
// "Ed25519", "EC" ...), or nullptr when it is neither or names another.
const char* der_key_algorithm(const uint8_t* der, size_t size);

// The refusal of a key of another algorithm than RSA, naming the file; "" for RSA or nullptr.
std::string other_algorithm_refusal(const char* path, const char* algorithm);
