// SPDX-License-Identifier: Apache-2.0
#include "keys/key_files.hpp"

#include <mbedtls/platform_util.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/transcript.hpp"
#include "keys/key_reader.hpp"
#include "keys/read_key.hpp"
#include "platform/file_status.hpp"
#include "platform/stack_wipe.hpp"

namespace {

constexpr size_t kTokenBufferSize = 1024;
constexpr size_t kKeyHexLength = 2 * kAesKeySize;

KeySources sources;
bool public_key_missing = false;  // the last run's private key held no E, and no file was named

// Reads the next blank-separated token into buffer (cleared first, at most size - 1 characters
// kept) and returns its full length; 0 at the end of the file.
size_t read_token(FILE* file, char* buffer, size_t size) {
    memset(buffer, 0, size);
    int c = fgetc(file);
    while (c != EOF && isspace(c)) c = fgetc(file);
    size_t length = 0;
    while (c != EOF && !isspace(c)) {
        if (length + 1 < size) buffer[length] = static_cast<char>(c);
        ++length;
        c = fgetc(file);
    }
    return length;
}

// A key is exactly 32 hexadecimal digits; a sign, "0x" or any other character is refused rather
// than silently turned into zero bits of a key nobody chose.
bool is_key_token(const char* token, size_t length) {
    if (length != kKeyHexLength) return false;
    for (size_t i = 0; i < length; ++i) {
        if (!isxdigit(static_cast<unsigned char>(token[i]))) return false;
    }
    return true;
}

// Reads the half of the key at path in the forms the sources allow, printing the reason of a
// failure. Returns 0 or -1.
int load_rsa_half(const char* path, KeyHalf half, RsaKeyContext* context) {
    KeyReading reading;
    const int result = read_rsa_key(path, half, sources.pem_keys ? KeyForms::kAny : KeyForms::kText,
                                    context, &reading);
    if (result == kRsaFileMissing && sources.pem_keys) {
        say(" failed\n  ! cannot open '%s': %s\n\n", path, strerror(errno));
    } else if (result == kRsaFileMissing) {
        say(" failed\n  ! Could not open %s\n  ! Please run rsa_genkey first\n\n", path);
    } else if (result != 0 && sources.pem_keys) {
        // The companions name any file: say what it is rather than the reader's code.
        say(" failed\n  ! %s\n\n", reading.why.c_str());
    } else if (result != 0) {
        say(" failed\n  ! mbedtls_mpi_read_file returned %d\n\n", reading.text_code);
    }
    return result == 0 ? 0 : -1;
}

}  // namespace

int parse_aes_key(FILE* file, uint8_t key[kAesKeySize]) {
    // Unbuffered: no copy of the key's text in a buffer the C library frees unwiped. The file is
    // a line long; reading it a byte at a time costs nothing.
    setvbuf(file, nullptr, _IONBF, 0);
    char token[kTokenBufferSize];
    size_t length = read_token(file, token, sizeof(token));
    while (length > 0 && token[0] == '#') length = read_token(file, token, sizeof(token));
    int result = -1;
    if (is_key_token(token, length)) {
        for (size_t i = 0; i < kAesKeySize; ++i) {
            char pair[3] = {token[2 * i], token[2 * i + 1], '\0'};
            key[i] = static_cast<uint8_t>(strtol(pair, nullptr, 16) & 0xFF);
            mbedtls_platform_zeroize(pair, sizeof(pair));
        }
        result = 0;
    }
    mbedtls_platform_zeroize(token, sizeof(token));
    return result;
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

int read_rsa_public_quietly(mbedtls_mpi* n, mbedtls_mpi* e) {
    const char* path = sources.rsa_public_path;
    if (path == nullptr) return -1;
    RsaKeyContext key;
    rsa_key_init(&key);
    KeyReading reading;
    int result = read_rsa_key(path, KeyHalf::kPublic,
                              sources.pem_keys ? KeyForms::kAny : KeyForms::kText, &key, &reading);
    if (result == 0) result = mbedtls_mpi_copy(n, &key.N);
    if (result == 0) result = mbedtls_mpi_copy(e, &key.E);
    rsa_key_free(&key);
    return result;
}

FILE* open_optional_key_file(const char* path, bool* absent) {
    FILE* file = fopen(path, "r");
    if (file != nullptr) {
        *absent = false;
        return file;
    }
    const int error = errno;
    *absent = error == ENOENT && nothing_at(path);
    errno = error;
    return nullptr;
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
                 uint8_t key[kAesKeySize]) {
    const char* path = sources.aes_path;
    bool absent = true;
    FILE* file = path == nullptr ? nullptr : open_optional_key_file(path, &absent);
    if (file == nullptr && path != nullptr && (!absent || !sources.aes_optional)) {
        say(" failed\n  ! Can't open %s: %s\n  ! Please check %s\n\n", path, strerror(errno),
            path);
        return -1;
    }
    if (file == nullptr) {
        if (announce_default) say("No AES128 key file! Using default setting\n");
        default_aes_key(profile.reversed_default_key, key);
        return 0;
    }
    say("AES-Key:\r\n");
    const int result = parse_aes_key(file, key);
    fclose(file);
    if (result != 0) {
        if (sources.pem_keys) {
            // The companions name the rule the file breaks.
            say(" failed\n  ! '%s' holds no AES-128 key: its first word that is not a comment "
                "(a word starting with #) must be exactly 32 hexadecimal digits\n\n",
                path);
        } else {
            say(" failed\n  ! Please check %s\n Key must AES-128bits\n\n", path);
        }
        return -1;
    }
    for (size_t i = 0; i < kAesKeySize; ++i) say(byte_format, key[i]);
    say("\r\n");
    return 0;
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
