// SPDX-License-Identifier: Apache-2.0
// The one reader of RSA key values, whichever tool asks: rsa_priv.txt's and rsa_pub.txt's text
// lines, and the unencrypted RSA private keys in PEM or DER (PKCS#1 RSAPrivateKey, PKCS#8
// PrivateKeyInfo) including the plaintext that an encrypted PKCS#8 key decrypts to. A key file's
// bytes are read into the caller's fixed buffer and marked secret as they arrive; the structure
// (line ends, which characters are digits, armour lines, DER tags and lengths) is made public to
// find the values, whose digits never decide a branch or an address.
#pragma once

#include <mbedtls/bignum.h>

#include <cstddef>
#include <string>

#include "keys/key_files.hpp"

// The largest key file read: far more than any RSA key in any form.
constexpr size_t kMaxKeyFileSize = 65536;

// A key file's bytes, in the memory of the step that reads the key; wiped on every way out.
struct KeyFileBytes {
    unsigned char data[kMaxKeyFileSize + 1];  // the bytes and a NUL after them
    size_t size;
    bool too_large;  // the file goes on past kMaxKeyFileSize bytes: only those are here
};

// What read_key_file returns besides 0: the file cannot be opened (errno says why), or reading
// it failed (errno says why).
constexpr int kKeyFileMissing = 1;
constexpr int kKeyFileReadError = -1;

// Reads the file at path into *file through no buffer but file's, its bytes marked secret.
// Returns 0, kKeyFileMissing or kKeyFileReadError.
int read_key_file(const char* path, KeyFileBytes* file);

// The reason that read_key_file returned read (not 0), or that the file was too large, with the
// path: "cannot open PATH: ...", "PATH: read error", "PATH: too large for a key file (more than
// 65536 bytes)".
std::string key_file_failure(const char* path, int read);

// Wipes the bytes of *file.
void wipe_key_file(KeyFileBytes* file);

// The first line of a text key file whose value is not what its writer can have meant, though
// it is what bootseal reads: what is wrong is said without any character of the line.
struct TextLineFault {
    size_t line = 0;             // from 1; 0 when every line is sound
    const char* what = nullptr;  // "a character that is not a hexadecimal digit ..."
};

// Reads count values, one per line, from the start of the text key file in file, as the
// dependency's mbedtls_mpi_read_file read them: a line is what fgets(buffer, 2483, ...) takes;
// one of 2482 characters is MBEDTLS_ERR_MPI_BUFFER_TOO_SMALL (-0x0008), none left is
// MBEDTLS_ERR_MPI_FILE_IO_ERROR (-0x0002); the line ends at its first NUL, loses one line feed
// and then one carriage return, and its value is its trailing run of hexadecimal digits (0 when
// there is none). The first public_count values are public (N, E). A line read whose value is
// not alone after its name and '=' (blanks after it, a stray character among its digits, a NUL)
// is told in *fault, when given; the values are read the same. Returns 0 or the code.
int read_text_values(const KeyFileBytes& file, mbedtls_mpi* const* values, size_t count,
                     size_t public_count, TextLineFault* fault = nullptr);

// What parse_aes_text finds besides a key.
constexpr int kAesNoKey = 1;          // the first word that is not a comment is not a key
constexpr int kAesByteOrderMark = 2;  // the text starts with a UTF-8 byte-order mark

// Reads the AES key of aes.txt's text in file: words parted by isspace's characters, those
// starting with "#" skipped, the next one exactly 32 hexadecimal digits. A byte-order mark at the
// start makes the first word no key, as it always did. Returns 0, kAesNoKey or kAesByteOrderMark.
int parse_aes_text(const KeyFileBytes& file, uint8_t key[16]);

// What read_secret_line returns when the file cannot be opened, and when it cannot be taken.
constexpr int kSecretLineMissing = -1;
constexpr int kSecretLineRefused = -2;

// Reads the first line of the secret file at path (a passphrase, a PIN) into line, without its
// line end and with a NUL after it, the whole file read once into a buffer of this step. Returns
// its length; kSecretLineMissing with errno's text in *why; or kSecretLineRefused with the
// reason, without the path, in *why: reading failed, the file holds more than kMaxKeyFileSize
// bytes, or its first line does not fit in room - 1 bytes.
int read_secret_line(const char* path, char* line, size_t room, std::string* why);

// What the key readers below return when the bytes are not an unencrypted RSA private key at
// all (a public key, an encrypted key, a key of another algorithm): the caller's other paths
// take those.
constexpr int kNotPlainRsaKey = 1;

// Reads the RSA private key in the DER bytes der (size bytes): PKCS#1 RSAPrivateKey, or (when
// pkcs8 is set) a PKCS#8 PrivateKeyInfo of rsaEncryption holding one. Sets N, E, D, P, Q, DP,
// DQ, QP and the key length. Returns 0; kNotPlainRsaKey; or -1 when the structure is one but
// damaged, or its values break the rules the dependency's parser held a key to (N odd, of 128
// to 8192 bits; E odd, at least 3, below N; P and Q odd; D, DP, DQ and QP not zero). Whether the
// values belong together (N = P Q, D the inverse of E) is the signer's check, on every
// signature, as it was: the dependency's parser did not look.
int read_der_private_key(const unsigned char* der, size_t size, bool pkcs8, RsaKeyContext* key);

// Reads the RSA private key of a key file: DER, or the first PEM block when its armour is
// "RSA PRIVATE KEY" (with no encryption header) or "PRIVATE KEY". The base64 text is decoded
// into work (kMaxKeyFileSize bytes, which the caller wipes). Returns as read_der_private_key.
int read_plain_private_key(const KeyFileBytes& file, unsigned char* work, RsaKeyContext* key);
