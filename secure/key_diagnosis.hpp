// SPDX-License-Identifier: Apache-2.0
// Why a key file cannot be used, said as what the file is and what to do with it: an OpenSSH
// key, a PKCS#12 bundle, a certificate, a key of another algorithm, the other half of a pair.
#pragma once

#include <string>

// The reason, with the path, that the file at path gives no RSA private key (want_private) or
// public key. parse_code is the key parser's code for the file (0 when it was not parsed); it
// says, when nothing else does, whether the file was damaged or the passphrase wrong.
std::string explain_key_refusal(const char* path, bool want_private, int parse_code);
