// SPDX-License-Identifier: Apache-2.0
#include "keys/key_files.hpp"

#include <mbedtls/platform_util.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/transcript.hpp"
#include "keys/key_reader.hpp"
#include "keys/read_key.hpp"
#include "platform/file_status.hpp"
#include "platform/stack_wipe.hpp"

namespace {

KeySources sources;
bool public_key_missing = false;  // the last run's private key held no E, and no file was named

// The key's bytes as the transcript echoes them, and the line end.
void say_key_bytes(const char* byte_format, const uint8_t key[kAesKeySize]) {
    for (size_t i = 0; i < kAesKeySize; ++i) say(byte_format, key[i]);
    say("\r\n");
}

// The lines that say why the half of the key at path was not read (result, not 0), as the
// run's transcript gives them; errno is the reader's.
std::string key_failure_lines(const char* path, int result, const KeyReading& reading) {
    char line[256];
    if (result == kRsaFileMissing && sources.pem_keys) {
        return std::string(" failed\n  ! cannot open '") + path + "': " + strerror(errno) + "\n\n";
    }
    if (result == kRsaFileMissing) {
        return std::string(" failed\n  ! Could not open ") + path +
               "\n  ! Please run rsa_genkey first\n\n";
    }
    // The companions name any file: say what it is rather than the reader's code.
    if (sources.pem_keys) return " failed\n  ! " + reading.why + "\n\n";
    snprintf(line, sizeof(line), " failed\n  ! mbedtls_mpi_read_file returned %d\n\n",
             reading.text_code);
    return line;
}

// Reads the half of the key at path in the forms the sources allow, printing the reason of a
// failure. Returns 0 or -1.
int load_rsa_half(const char* path, KeyHalf half, RsaKeyContext* context) {
    KeyReading reading;
    const int result = read_rsa_key(path, half, sources.pem_keys ? KeyForms::kAny : KeyForms::kText,
                                    context, &reading);
    if (result != 0) say("%s", key_failure_lines(path, result, reading).c_str());
    return result == 0 ? 0 : -1;
}

}  // namespace

AesKeyRead read_aes_key_file(const char* path, bool first_part, uint8_t key[kAesKeySize]) {
    // Read once and whole into a buffer of this step, then parsed: a pipe gives its bytes once,
    // and a file far too large is refused after its first 64 KiB.
    KeyFileBytes file;
    const int read = read_key_file(path, &file);
    int error = errno;
    AesKeyRead result = AesKeyRead::kUnreadable;
    if (read == kKeyFileMissing) {
        result =
            error == ENOENT && nothing_at(path) ? AesKeyRead::kAbsent : AesKeyRead::kUnopenable;
    } else if (read == 0 && file.too_large && !first_part) {
        result = AesKeyRead::kTooLarge;
    } else if (read == 0) {
        const int parsed = parse_aes_text(file, key);
        result = parsed == 0           ? AesKeyRead::kKey
                 : parsed == kAesNoKey ? AesKeyRead::kNoKey
                                       : AesKeyRead::kByteOrderMark;
    }
    wipe_key_file(&file);
    errno = error;
    return result;
}

std::string aes_key_refusal(const char* path, AesKeyRead read) {
    const std::string file = std::string("'") + path + "'";
    switch (read) {
        case AesKeyRead::kUnreadable:
            return key_file_failure(path, kKeyFileReadError);
        case AesKeyRead::kTooLarge:
            return key_file_failure(path, 0);
        case AesKeyRead::kByteOrderMark:
            return file +
                   " starts with a UTF-8 byte-order mark (the bytes EF BB BF that Notepad writes): "
                   "save it as plain text without one";
        default:
            return file +
                   " holds no AES-128 key: its first word that is not a comment (a word starting "
                   "with #) must be exactly 32 hexadecimal digits";
    }
}

int read_rsa_file(const char* path, mbedtls_mpi* const* values, size_t count, size_t public_count) {
    KeyFileBytes file;
    const int read = read_key_file(path, &file);
    // A file that cannot be read (a folder) reads as one with nothing in it, as it did when the
    // dependency's reader met it.
    const int result = read == kKeyFileMissing
                           ? kRsaFileMissing
                           : read_text_values(file, values, count, public_count);
    wipe_key_file(&file);
    wipe_stack_below();
    clear_vector_registers();
    return result;
}

int read_rsa_public_quietly(mbedtls_mpi* n, mbedtls_mpi* e, std::string* failure) {
    const char* path = sources.rsa_public_path;
    if (path == nullptr) return -1;
    RsaKeyContext key;
    rsa_key_init(&key);
    KeyReading reading;
    int result = read_rsa_key(path, KeyHalf::kPublic,
                              sources.pem_keys ? KeyForms::kAny : KeyForms::kText, &key, &reading);
    if (result != 0 && failure != nullptr) *failure = key_failure_lines(path, result, reading);
    if (result == 0) result = mbedtls_mpi_copy(n, &key.N);
    if (result == 0) result = mbedtls_mpi_copy(e, &key.E);
    rsa_key_free(&key);
    return result;
}

void default_aes_key(bool second_variant, uint8_t key[kAesKeySize]) {
    // Assembled a byte at a time so that the key never stands as one constant in the binary.
    key[0] = 0x2b;
    key[1] = 0x7e;
    key[2] = 0x15;
    key[3] = 0x16;
    key[4] = 0x28;
    key[5] = 0xae;
    key[6] = 0xd2;
    key[7] = 0xa6;
    key[8] = 0xab;
    key[9] = 0xf7;
    key[10] = 0x15;
    key[11] = 0x88;
    key[12] = 0x09;
    key[13] = 0xcf;
    key[14] = 0x4f;
    key[15] = 0x3c;
    if (!second_variant) return;
    for (size_t group = 0; group < kAesKeySize; group += 4) {
        uint8_t swap = key[group];
        key[group] = key[group + 3];
        key[group + 3] = swap;
        swap = key[group + 1];
        key[group + 1] = key[group + 2];
        key[group + 2] = swap;
    }
}

void set_key_sources(const KeySources& chosen) {
    sources = chosen;
    public_key_missing = false;
}

bool rsa_public_key_missing() { return public_key_missing; }

const KeySources& key_sources() { return sources; }

int load_aes_key(const ChipProfile& profile, const char* byte_format, bool announce_default,
                 uint8_t key[kAesKeySize], bool* from_file) {
    const char* path = sources.aes_path;
    // bootseal reads the first 64 KiB of a larger aes.txt, as it only ever read its first words.
    const AesKeyRead read =
        path == nullptr ? AesKeyRead::kAbsent : read_aes_key_file(path, !sources.pem_keys, key);
    if (read == AesKeyRead::kUnopenable ||
        (read == AesKeyRead::kAbsent && path != nullptr && !sources.aes_optional)) {
        say(" failed\n  ! Can't open %s: %s\n  ! Please check %s\n\n", path, strerror(errno),
            path);
        return -1;
    }
    if (read == AesKeyRead::kAbsent) {
        if (announce_default) say("No AES128 key file! Using default setting\n");
        default_aes_key(profile.reversed_default_key, key);
        return 0;
    }
    say("AES-Key:\r\n");
    if (read != AesKeyRead::kKey) {
        if (sources.pem_keys) {
            // The companions name the rule the file breaks.
            say(" failed\n  ! %s\n\n", aes_key_refusal(path, read).c_str());
        } else {
            say(" failed\n  ! Please check %s\n Key must AES-128bits\n\n", path);
            // bootseal's transcript stays as it was; the mark, which no one sees, is named apart.
            if (read == AesKeyRead::kByteOrderMark) {
                fprintf(stderr, "bootseal: %s\n", aes_key_refusal(path, read).c_str());
            }
        }
        return -1;
    }
    if (from_file != nullptr) *from_file = true;
    say_key_bytes(byte_format, key);
    return 0;
}

void say_aes_key(const char* byte_format, const uint8_t key[kAesKeySize]) {
    say("AES-Key:\r\n");
    say_key_bytes(byte_format, key);
}

const char* public_exponent_fault(const mbedtls_mpi* e) {
    if (mbedtls_mpi_cmp_int(e, 0) <= 0) return "its public exponent is not positive";
    if (mbedtls_mpi_cmp_int(e, 1) == 0) {
        return "its public exponent is 1, which makes every block its own signature: anyone"
               " could sign images for it; make a new key pair";
    }
    if (mbedtls_mpi_get_bit(e, 0) == 0) {
        return "its public exponent is even, which no private exponent undoes; make a new key"
               " pair";
    }
    return "";
}

void rsa_key_init(RsaKeyContext* context) {
    mbedtls_mpi* const values[] = {&context->N, &context->E,  &context->D,  &context->P,
                                   &context->Q, &context->DP, &context->DQ, &context->QP};
    for (mbedtls_mpi* value : values) mbedtls_mpi_init(value);
    context->len = 0;
}

void rsa_key_free(RsaKeyContext* context) {
    // Freeing a value wipes its limbs.
    mbedtls_mpi* const values[] = {&context->N, &context->E,  &context->D,  &context->P,
                                   &context->Q, &context->DP, &context->DQ, &context->QP};
    for (mbedtls_mpi* value : values) mbedtls_mpi_free(value);
    context->len = 0;
}

int load_rsa_private(RsaKeyContext* context) {
    return load_rsa_half(sources.rsa_private_path, KeyHalf::kPrivate, context);
}

int load_rsa_public(RsaKeyContext* context) {
    if (sources.rsa_public_path == nullptr) {
        if (mbedtls_mpi_cmp_int(&context->E, 0) > 0) return 0;
        public_key_missing = true;
        say(" failed\n  ! %s holds no public exponent: name the public key file with --rsa-pub\n\n",
            sources.rsa_private_path);
        return -1;
    }
    return load_rsa_half(sources.rsa_public_path, KeyHalf::kPublic, context);
}
