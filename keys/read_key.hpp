// SPDX-License-Identifier: Apache-2.0
// Every RSA key a tool reads comes in here, whatever its form: the text lines of rsa_priv.txt
// and rsa_pub.txt, PEM or DER, PKCS#1 or PKCS#8, a private key possibly encrypted. The form is
// told here once, from the file's bytes, and the reader of that form called.
#pragma once

#include <string>

#include "keys/key_bytes.hpp"
#include "keys/key_files.hpp"

// Which half of a pair is wanted.
enum class KeyHalf {
    kPrivate,  // N, D, P, Q, DP, DQ, QP and the key length (and E, from PEM or DER)
    kPublic,   // N and E
};

// The forms a caller takes.
enum class KeyForms {
    kText,      // bootseal's own files: text lines only, whatever the file holds
    kAny,       // the companions: text, PEM or DER
    kPemOrDer,  // a key for bootseal-keygen to convert: never text
};

// How a read went, beyond its result.
struct KeyReading {
    KeyFileFormat format = KeyFileFormat::kText;  // the form the file was read in
    int text_code = 0;                            // the text reader's code, when a text read failed
    bool was_encrypted = false;  // the private key was encrypted under a passphrase
    std::string why;             // the reason of a failure, naming the file (not with kText)
};

// Reads the half of an RSA key at path in the forms given, from one open and one whole read of
// the file (at most kMaxKeyFileSize bytes: a larger file is refused, except by bootseal's kText,
// which reads the first part as it always did). The companions' kAny refuses a text line that
// bootseal would read otherwise than its writer meant, naming the file, the line and the fault.
// Returns 0; kRsaFileMissing when the file cannot be opened (errno says why; kPemOrDer says it
// in reading->why); or -1 with reading->text_code or reading->why set.
int read_rsa_key(const char* path, KeyHalf half, KeyForms forms, RsaKeyContext* key,
                 KeyReading* reading);
