// SPDX-License-Identifier: Apache-2.0
// The bytes of a key file: told apart by format (without a decision on a private key's secret
// bytes), read whole for the questions of a refusal, and a PEM block decoded. Every tool and
// every key reader asks these questions here.
#pragma once

#include <cstddef>
#include <string>

// How a key file is read; every tool asks this one question.
enum class KeyFileFormat {
    kText,  // the format of rsa_priv.txt and rsa_pub.txt, one value per line, as bootseal reads it
    kPem,   // a line starts with "-----BEGIN"; text before it (and after the block) is skipped
    kDer,   // an ASN.1 SEQUENCE with a long-form length, as every DER RSA key starts
};

// The format of the key in data (size bytes). For PEM, *pem_start (when given) receives the
// offset of the first "-----BEGIN" line.
KeyFileFormat key_bytes_format(const char* data, size_t size, size_t* pem_start);

// The format of the key file at path: the one its last read in this run was in (a pipe gives
// its bytes once), else read now; a file that cannot be read is kText, whose reader says why.
KeyFileFormat key_file_format(const char* path);

// Notes the format the key file at path was read in, for key_file_format.
void record_key_file_format(const char* path, KeyFileFormat format);

// Decodes the first PEM block in data into *der (which the caller wipes), its armour's name
// ("PRIVATE KEY", "CERTIFICATE" ...) into *label. Returns false when there is none to decode.
bool decode_pem_block(const char* data, size_t size, std::string* label, std::string* der);
