// SPDX-License-Identifier: Apache-2.0
// The key files of the working directory: aes.txt, rsa_priv.txt and rsa_pub.txt.
#pragma once

#include <mbedtls/bignum.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image_layout.hpp"

// The RSA values read from the key files; every field is initialised and freed together.
struct RsaKeyContext {
    mbedtls_mpi N, E, D, P, Q, DP, DQ, QP;
    size_t len;  // key length in bytes, from the private key's N
};

// How the RSA signature is made.
enum class RsaSigner {
    kPrivateKey,  // with the private key of rsa_private_path
    kDeferred,    // by someone else later: the signature field stays zero, the block is kept
    kExternal,    // by a key store outside the tool (a token): external_operation
};

// Where the key loaders take their keys. bootseal keeps the defaults: aes.txt, rsa_priv.txt and
// rsa_pub.txt of the working directory in their text formats, and the built-in AES key when
// aes.txt is missing. A front end that names its keys sets its sources once, before sealing.
struct KeySources {
    const char* aes_path = "aes.txt";  // nullptr: the built-in default key
    bool aes_optional = true;          // a missing aes_path means the built-in default key
    const char* rsa_private_path = "rsa_priv.txt";
    const char* rsa_public_path = "rsa_pub.txt";  // nullptr: N and E of the private key
    bool pem_keys = false;  // the RSA files may also be PEM or DER keys
    RsaSigner signer = RsaSigner::kPrivateKey;
    // kExternal: raises a 128-byte block to D, returning 0, or -1 with the reason in *why; and
    // the public key the store holds (nullptr when rsa_public_path names it), and its name.
    int (*external_operation)(const uint8_t input[128], uint8_t output[128],
                              const char** why) = nullptr;
    const RsaKeyContext* external_public_key = nullptr;
    const char* external_name = "";
};

// Sets the key sources of the following runs, and reads the current ones.
void set_key_sources(const KeySources& sources);
const KeySources& key_sources();

// Whether the last run failed for want of a public key file: its private key holds no E (the
// text form) and none was named. For a front end, that is a mistake of its command line.
bool rsa_public_key_missing();

// Assembles the built-in default AES key: the first variant, or with second_variant the same
// bytes reversed within each group of four.
void default_aes_key(bool second_variant, uint8_t key[kAesKeySize]);

// Loads the AES key from the AES key file, echoing each byte with byte_format; without one takes
// the profile's default key, announcing it when announce_default is set. Sets *from_file (when
// given) when the key came from the file. Returns 0 or -1.
int load_aes_key(const ChipProfile& profile, const char* byte_format, bool announce_default,
                 uint8_t key[kAesKeySize], bool* from_file = nullptr);

// Echoes a key that load_aes_key read from its file, as load_aes_key did: for a step that uses
// the key again, the file (a pipe, maybe) being read once.
void say_aes_key(const char* byte_format, const uint8_t key[kAesKeySize]);

// How read_aes_key_file went.
enum class AesKeyRead {
    kKey,            // the key is read
    kAbsent,         // nothing of that name exists, not even a link that points nowhere
    kUnopenable,     // something is there that cannot be opened (errno says why)
    kUnreadable,     // it was opened, but reading it failed (a folder)
    kTooLarge,       // it holds more than 64 KiB
    kByteOrderMark,  // it starts with a UTF-8 byte-order mark
    kNoKey,          // its first word that is not a comment is not 32 hexadecimal digits
};

// Reads the AES key of the file at path, in aes.txt's form (comment words starting with "#"
// skipped, the next word exactly 32 hexadecimal digits), from one open and one whole read into a
// buffer of this step, without printing. With first_part (bootseal), a larger file's first
// 64 KiB are read as though they were all of it. A missing file must never mean "use the default
// key" unless nothing at all is there (kAbsent).
AesKeyRead read_aes_key_file(const char* path, bool first_part, uint8_t key[kAesKeySize]);

// Why the AES key file at path was not read (kUnreadable, kTooLarge, kByteOrderMark, kNoKey),
// naming it.
std::string aes_key_refusal(const char* path, AesKeyRead read);

// What read_rsa_file returns when the file cannot be opened; other failures are the dependency's
// negative codes.
constexpr int kRsaFileMissing = 1;

// Reads count values, one per line, from the file at path without printing, by the rules of the
// dependency's mbedtls_mpi_read_file (see read_text_values); all but the first public_count
// values are secret. Returns 0, kRsaFileMissing or the first non-zero code of those rules.
int read_rsa_file(const char* path, mbedtls_mpi* const* values, size_t count, size_t public_count);

// Reads N and E from the public key file without printing anything, for the private-key
// operation's blinding and check. When it cannot, *failure (when given) receives the lines that
// load_rsa_public would print, so that the file (a pipe, maybe) need not be read again. Returns
// 0, or non-zero when the file cannot be read.
int read_rsa_public_quietly(mbedtls_mpi* n, mbedtls_mpi* e, std::string* failure = nullptr);

// Why a public exponent makes a key that signs nothing, or "" when it is sound. With E = 1 a
// signature is the signed block itself, which anyone can make; an even E has no private
// exponent to undo it; and E must be positive.
const char* public_exponent_fault(const mbedtls_mpi* e);

// Initialises and frees (wiping) every value of an RSA key context.
void rsa_key_init(RsaKeyContext* context);
void rsa_key_free(RsaKeyContext* context);

// Reads N, D, P, Q, DP, DQ and QP (and E, from a PEM or DER key) from the private key file and
// sets the key length. Returns 0 or -1.
int load_rsa_private(RsaKeyContext* context);

// Reads N and E from the public key file; N replaces the private key's. Without a public key
// file, keeps N and E of the private key. Returns 0 or -1.
int load_rsa_public(RsaKeyContext* context);
