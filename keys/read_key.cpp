// SPDX-License-Identifier: Apache-2.0
#include "keys/read_key.hpp"

#include <cerrno>

#include "keys/key_diagnosis.hpp"
#include "keys/key_reader.hpp"
#include "keys/pem_keys.hpp"
#include "platform/stack_wipe.hpp"

namespace {

// The names of the text form's lines, in their order.
const char* const kPrivateNames[] = {"N", "D", "P", "Q", "DP", "DQ", "QP"};
const char* const kPublicNames[] = {"N", "E"};

// Reads the text lines of the half in file. With explain (the companions), a refusal names the
// file and says why, a line that bootseal reads otherwise than its writer meant included.
// Returns 0 or -1.
int read_text_key(const KeyFileBytes& file, const char* path, KeyHalf half, bool explain,
                  RsaKeyContext* key, KeyReading* reading) {
    int result = 0;
    TextLineFault fault;
    const bool private_half = half == KeyHalf::kPrivate;
    if (private_half) {
        mbedtls_mpi* const values[] = {&key->N,  &key->D,  &key->P, &key->Q,
                                       &key->DP, &key->DQ, &key->QP};
        result = read_text_values(file, values, 7, 1, &fault);
        if (result == 0) key->len = (mbedtls_mpi_bitlen(&key->N) + 7) / 8;
    } else {
        mbedtls_mpi* const values[] = {&key->N, &key->E};
        result = read_text_values(file, values, 2, 2, &fault);
    }
    if (result == 0 && (!explain || fault.line == 0)) return 0;
    reading->text_code = result;
    if (explain && result == 0) {
        const char* name = (private_half ? kPrivateNames : kPublicNames)[fault.line - 1];
        reading->why = std::string("'") + path + "' line " + std::to_string(fault.line) + " (" +
                       name + "): " + fault.what;
    } else if (explain) {
        reading->why = explain_key_refusal(file, path, private_half, 0);
    }
    return -1;
}

// Reads the half of the key in file in the forms given. Returns as read_rsa_key.
int read_key_bytes(KeyFileBytes* file, const char* path, KeyHalf half, KeyForms forms,
                   RsaKeyContext* key, KeyReading* reading) {
    const bool text_only = forms == KeyForms::kText;
    reading->format = text_only ? KeyFileFormat::kText
                                : key_bytes_format(reinterpret_cast<const char*>(file->data),
                                                   file->size, nullptr);
    record_key_file_format(path, reading->format);
    if (reading->format == KeyFileFormat::kText && forms == KeyForms::kPemOrDer) {
        reading->why = std::string("'") + path +
                       "' is not a PEM or DER key; if it is in rsa_priv.txt's text form, "
                       "bootseal and bootseal-sign read it as it is";
        return -1;
    }
    if (reading->format == KeyFileFormat::kText) {
        return read_text_key(*file, path, half, !text_only, key, reading);
    }
    return half == KeyHalf::kPrivate
               ? read_pem_private_key(*file, path, key, &reading->why, &reading->was_encrypted)
               : read_pem_public_key(file, path, key, &reading->why);
}

}  // namespace

int read_rsa_key(const char* path, KeyHalf half, KeyForms forms, RsaKeyContext* key,
                 KeyReading* reading) {
    // The file is read once, whole, here: every question about it (its form, its values, why
    // it is refused) is asked of these bytes, for a pipe gives them only once.
    KeyFileBytes file;
    const int read = read_key_file(path, &file);
    int result = -1;
    if (read == kKeyFileMissing && forms != KeyForms::kPemOrDer) {
        result = kRsaFileMissing;
    } else if (forms != KeyForms::kText && (read != 0 || file.too_large)) {
        reading->why = key_file_failure(path, read);
    } else {
        // bootseal reads the first 64 KiB of a larger file and, when reading fails (a folder),
        // nothing, as the dependency's reader did.
        result = read_key_bytes(&file, path, half, forms, key, reading);
    }
    const int error = errno;
    wipe_key_file(&file);
    wipe_stack_below();
    clear_vector_registers();
    errno = error;
    return result;
}
