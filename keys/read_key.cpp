// SPDX-License-Identifier: Apache-2.0
#include "keys/read_key.hpp"

#include "keys/key_diagnosis.hpp"
#include "keys/pem_keys.hpp"
#include "platform/file_status.hpp"

namespace {

// Reads the text lines of the half at path. Returns 0, kRsaFileMissing or -1.
int read_text_key(const char* path, KeyHalf half, bool explain, RsaKeyContext* key,
                  KeyReading* reading) {
    int result = 0;
    if (half == KeyHalf::kPrivate) {
        mbedtls_mpi* const values[] = {&key->N,  &key->D,  &key->P, &key->Q,
                                       &key->DP, &key->DQ, &key->QP};
        result = read_rsa_file(path, values, 7, 1);
        if (result == 0) key->len = (mbedtls_mpi_bitlen(&key->N) + 7) / 8;
    } else {
        mbedtls_mpi* const values[] = {&key->N, &key->E};
        result = read_rsa_file(path, values, 2, 2);
    }
    if (result == 0 || result == kRsaFileMissing) return result;
    reading->text_code = result;
    if (explain) reading->why = explain_key_refusal(path, half == KeyHalf::kPrivate, 0);
    return -1;
}

}  // namespace

int read_rsa_key(const char* path, KeyHalf half, KeyForms forms, RsaKeyContext* key,
                 KeyReading* reading) {
    reading->format = forms == KeyForms::kText ? KeyFileFormat::kText : key_file_format(path);
    if (reading->format == KeyFileFormat::kText && forms == KeyForms::kPemOrDer && may_read(path)) {
        reading->why = std::string("'") + path +
                       "' is not a PEM or DER key; if it is in rsa_priv.txt's text form, "
                       "bootseal and bootseal-sign read it as it is";
        return -1;
    }
    if (reading->format == KeyFileFormat::kText && forms != KeyForms::kPemOrDer) {
        return read_text_key(path, half, forms == KeyForms::kAny, key, reading);
    }
    // A PEM or DER key, or for kPemOrDer a file that cannot be read, whose reason the PEM reader
    // gives.
    return half == KeyHalf::kPrivate
               ? read_pem_private_key(path, key, &reading->why, &reading->was_encrypted)
               : read_pem_public_key(path, key, &reading->why);
}
