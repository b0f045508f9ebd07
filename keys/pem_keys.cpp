// SPDX-License-Identifier: Apache-2.0
#include "keys/pem_keys.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/pk.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/rsa.h>
#include <mbedtls/version.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "keys/encrypted_pkcs8.hpp"
#include "keys/key_diagnosis.hpp"
#include "keys/key_reader.hpp"
#include "keys/mpi_try.hpp"
#include "platform/secret_prompt.hpp"
#include "platform/stack_wipe.hpp"
#include "rsa/secret_marks.hpp"

namespace {

constexpr size_t kMaxPassphrase = 256;

// The file whose first line is the passphrase of an encrypted key, or nullptr to ask on the
// terminal.
const char* passphrase_file = nullptr;

// Parses a private key. Since 3.0 the parser takes a random generator, for the blinding of the
// consistency check it may run; 2.x parses without one.
int parse_key(mbedtls_pk_context* pk, const unsigned char* data, size_t size,
              const unsigned char* passphrase, size_t passphrase_size) {
#if MBEDTLS_VERSION_MAJOR >= 3
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    int result = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0);
    if (result == 0) {
        result = mbedtls_pk_parse_key(pk, data, size, passphrase, passphrase_size,
                                      mbedtls_ctr_drbg_random, &drbg);
    }
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
    return result;
#else
    return mbedtls_pk_parse_key(pk, data, size, passphrase, passphrase_size);
#endif
}

// The part of the key file's bytes to hand the parser: *start and *parse_size. The PEM parser
// starts at the armour line and counts the terminating NUL; the DER parser wants the exact
// length.
void parse_range(const KeyFileBytes& file, size_t* start, size_t* parse_size) {
    *start = 0;
    const bool pem = key_bytes_format(reinterpret_cast<const char*>(file.data), file.size, start) ==
                     KeyFileFormat::kPem;
    *parse_size = pem ? file.size + 1 - *start : file.size;
}

// Asks for the passphrase on the terminal without echo. Returns its length, or -1 when the run
// has no terminal to ask on: standard input must be one, so that a run from a script or a build
// system fails at once instead of waiting for someone to type.
int ask_on_terminal(const char* path, char passphrase[kMaxPassphrase]) {
    const std::string prompt = std::string("Passphrase for ") + path + ": ";
    return ask_secret_on_terminal(prompt.c_str(), passphrase, kMaxPassphrase);
}

// Reads the first line of the passphrase file, without its line end, read once and whole into
// a buffer of this step. Returns its length, or -1 with the reason in *why.
int read_passphrase_file(char passphrase[kMaxPassphrase], std::string* why) {
    const int length = read_secret_line(passphrase_file, passphrase, kMaxPassphrase, why);
    if (length < 0) {
        *why = (length == kSecretLineMissing ? std::string("cannot open '") : std::string("'")) +
               passphrase_file + "': " + *why;
    }
    return length < 0 ? -1 : length;
}

// The passphrase of the encrypted key at path: from the passphrase file, else typed on the
// terminal. Returns its length, or -1 with the reason in *why (an empty one is refused: no tool
// encrypts a key under nothing, so it is a mistake in the file or a slip of the finger).
int get_passphrase(const char* path, char passphrase[kMaxPassphrase], std::string* why) {
    int length = 0;
    if (passphrase_file != nullptr) {
        length = read_passphrase_file(passphrase, why);
        if (length == 0) {
            *why = std::string("the first line of '") + passphrase_file +
                   "' is empty: put the passphrase of '" + path + "' there";
        }
    } else {
        length = ask_on_terminal(path, passphrase);
        if (length < 0) {
            *why = std::string("'") + path +
                   "' is encrypted: give its passphrase with --passphrase-file FILE, or run on a "
                   "terminal to type it";
        } else if (length == 0) {
            *why = std::string("no passphrase was typed for '") + path + "'";
        }
    }
    return length > 0 ? length : -1;
}

// Copies the RSA values of a parsed key into key.
int export_rsa(mbedtls_pk_context* pk, RsaKeyContext* key, bool with_private) {
    mbedtls_rsa_context* rsa = mbedtls_pk_rsa(*pk);
    int result = 0;
    if (with_private) {
        MPI_TRY(mbedtls_rsa_export(rsa, &key->N, &key->P, &key->Q, &key->D, &key->E));
        MPI_TRY(mbedtls_rsa_export_crt(rsa, &key->DP, &key->DQ, &key->QP));
    } else {
        MPI_TRY(mbedtls_rsa_export(rsa, &key->N, nullptr, nullptr, nullptr, &key->E));
    }
    key->len = (mbedtls_mpi_bitlen(&key->N) + 7) / 8;
done:
    return result;
}

}  // namespace

void set_passphrase_file(const char* path) { passphrase_file = path; }

namespace {

// The memory of reading a private key besides the file: the DER that a PEM key decodes to or
// an encrypted one decrypts to. Wiped whatever the outcome.
struct PrivateKeyBuffers {
    unsigned char plain[kMaxKeyFileSize];
};

// Reads the private key with this module's reader where it is an unencrypted RSA key, else
// (an encrypted key, a key of another algorithm, a file that is not a key) with the
// dependency's parser, which says what it is. Returns 0 or -1 with the reason in *why.
int read_private_key(const KeyFileBytes& file, const char* path, PrivateKeyBuffers* buffers,
                     RsaKeyContext* key, std::string* why, bool* was_encrypted) {
    size_t start = 0, size = 0;
    parse_range(file, &start, &size);
    const int plain_key = read_plain_private_key(file, buffers->plain, key);
    if (plain_key == 0) return 0;
    if (plain_key < 0) {
        *why = explain_key_refusal(file, path, true, 0);
        return -1;
    }
    const unsigned char* data = file.data + start;
    // Encrypted PKCS#8, in PEM or DER, is undone here; everything else by the key parser.
    std::string label, der;
    if (!decode_pem_block(reinterpret_cast<const char*>(file.data), file.size, &label, &der) ||
        label != "ENCRYPTED PRIVATE KEY") {
        // The decoded block of a key that is not encrypted PKCS#8 is wiped before the string
        // grows and frees it.
        if (!der.empty()) mbedtls_platform_zeroize(&der[0], der.size());
        der.assign(reinterpret_cast<const char*>(data), size);
    }
    const bool pkcs8 = is_encrypted_pkcs8(reinterpret_cast<const uint8_t*>(der.data()), der.size());
    mbedtls_pk_context pk;
    mbedtls_pk_init(&pk);
    char passphrase[kMaxPassphrase] = {0};
    const auto* secret = reinterpret_cast<const unsigned char*>(passphrase);
    int result = pkcs8 ? MBEDTLS_ERR_PK_PASSWORD_REQUIRED : parse_key(&pk, data, size, nullptr, 0);
    bool explained = false;
    bool read_here = false;     // the decrypted key was read by this module's reader
    size_t decrypted_size = 0;  // of plain, once the passphrase has opened it
    if (result == MBEDTLS_ERR_PK_PASSWORD_REQUIRED) {
        if (was_encrypted != nullptr) *was_encrypted = true;
        const int length = get_passphrase(path, passphrase, why);
        explained = length < 0;
        if (length < 0) {
            result = -1;
        } else if (pkcs8) {
            size_t plain_size = 0;
            const auto* encrypted = reinterpret_cast<const uint8_t*>(der.data());
            result = decrypt_pkcs8(encrypted, der.size(), secret, static_cast<size_t>(length),
                                   buffers->plain, &plain_size, why);
            if (result == 0) {
                decrypted_size = plain_size;
                mark_secret(buffers->plain, plain_size);
                result = read_der_private_key(buffers->plain, plain_size, true, key);
                read_here = result == 0;
                if (result == kNotPlainRsaKey) {
                    result = parse_key(&pk, buffers->plain, plain_size, nullptr, 0);
                }
                // A wrong passphrase whose padding happened to come out right.
                if (result != 0) *why = "wrong passphrase (or the file is damaged)";
            } else if (result == kPkcs8NotPbes2) {
                result = parse_key(&pk, encrypted, der.size(), secret, static_cast<size_t>(length));
            }
            if (result != 0 && !why->empty()) {
                *why = std::string("'") + path + "': " + *why;
                explained = true;
            }
        } else {
            mbedtls_pk_free(&pk);
            mbedtls_pk_init(&pk);
            result = parse_key(&pk, data, size, secret, static_cast<size_t>(length));
        }
    }
    if (result == 0 && !read_here && mbedtls_pk_get_type(&pk) != MBEDTLS_PK_RSA) result = -1;
    if (result != 0 && decrypted_size > 0) {
        // The passphrase was right (the padding came out): say what the key is instead.
        const std::string other =
            other_algorithm_refusal(path, der_key_algorithm(buffers->plain, decrypted_size));
        if (!other.empty()) {
            *why = other;
            explained = true;
        }
    }
    if (result != 0 && !explained) *why = explain_key_refusal(file, path, true, result);
    if (result == 0 && !read_here && export_rsa(&pk, key, true) != 0) {
        *why = std::string("'") + path + "': the RSA values cannot be read";
        result = -1;
    }
    mbedtls_platform_zeroize(passphrase, sizeof(passphrase));
    mbedtls_platform_zeroize(&der[0], der.size());
    mbedtls_pk_free(&pk);
    return result == 0 ? 0 : -1;
}

}  // namespace

int read_pem_private_key(const KeyFileBytes& file, const char* path, RsaKeyContext* key,
                         std::string* why, bool* was_encrypted) {
    PrivateKeyBuffers buffers;
    const int result = read_private_key(file, path, &buffers, key, why, was_encrypted);
    mbedtls_platform_zeroize(buffers.plain, sizeof(buffers.plain));
    wipe_stack_below();
    clear_vector_registers();
    return result;
}

int read_pem_public_key(KeyFileBytes* file, const char* path, RsaKeyContext* key,
                        std::string* why) {
    size_t start = 0, size = 0;
    mark_public(file->data, file->size);  // a public key: nothing in it is secret
    parse_range(*file, &start, &size);
    const unsigned char* data = file->data + start;
    mbedtls_pk_context pk;
    mbedtls_pk_init(&pk);
    int result = mbedtls_pk_parse_public_key(&pk, data, size);
    if (result == 0 && mbedtls_pk_get_type(&pk) != MBEDTLS_PK_RSA) result = -1;
    if (result != 0) {
        *why = explain_key_refusal(*file, path, false, result);
    } else if (export_rsa(&pk, key, false) != 0) {
        *why = std::string("'") + path + "': the RSA values cannot be read";
        result = -1;
    }
    mbedtls_pk_free(&pk);
    return result == 0 ? 0 : -1;
}

int format_pem_key(const RsaKeyContext& key, bool public_only, std::string* pem) {
    mbedtls_pk_context pk;
    mbedtls_pk_init(&pk);
    unsigned char buffer[8192];
    int result = mbedtls_pk_setup(&pk, mbedtls_pk_info_from_type(MBEDTLS_PK_RSA));
    if (result == 0) {
        mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk);
        result = public_only
                     ? mbedtls_rsa_import(rsa, &key.N, nullptr, nullptr, nullptr, &key.E)
                     : mbedtls_rsa_import(rsa, &key.N, &key.P, &key.Q, &key.D, &key.E);
        if (result == 0) result = mbedtls_rsa_complete(rsa);
    }
    if (result == 0) {
        result = public_only ? mbedtls_pk_write_pubkey_pem(&pk, buffer, sizeof(buffer))
                             : mbedtls_pk_write_key_pem(&pk, buffer, sizeof(buffer));
    }
    if (result == 0) pem->assign(reinterpret_cast<const char*>(buffer));
    mbedtls_platform_zeroize(buffer, sizeof(buffer));
    mbedtls_pk_free(&pk);
    return result;
}
