// SPDX-License-Identifier: Apache-2.0
// Private keys in encrypted PKCS#8 (EncryptedPrivateKeyInfo), the form openssl, Python's
// cryptography and certtool write by default: PBES2 with PBKDF2 and a CBC cipher, undone here
// with the dependency's PBKDF2, ASN.1 and cipher functions, the same way on every release of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What decrypt_pkcs8 returns besides 0 and -1: the key is encrypted some other way (PBES1, the
// PKCS#12 schemes), which the dependency's own key parser undoes.
constexpr int kPkcs8NotPbes2 = 1;

// Whether der (size bytes) is an EncryptedPrivateKeyInfo: a SEQUENCE of an algorithm and an
// OCTET STRING, nothing after it.
bool is_encrypted_pkcs8(const uint8_t* der, size_t size);

// Decrypts the EncryptedPrivateKeyInfo in der into plain (room for size bytes, which the caller
// wipes), setting *plain_size to the PrivateKeyInfo's length. Returns 0, kPkcs8NotPbes2, or -1
// with the reason in *why: a scheme, hash or cipher this tool does not take, or (when the
// padding does not come out right) the wrong passphrase.
int decrypt_pkcs8(const uint8_t* der, size_t size, const uint8_t* passphrase,
                  size_t passphrase_size, uint8_t* plain, size_t* plain_size, std::string* why);
