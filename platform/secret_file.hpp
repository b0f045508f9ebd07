// SPDX-License-Identifier: Apache-2.0
// Reading a file that holds a secret (a key, a PIN, a passphrase) through no buffer but the
// caller's: the C library's stream buffers are freed without being wiped.
#pragma once

#include <cstddef>

// What read_secret_file returns besides 0.
constexpr int kSecretFileMissing = 1;     // the file cannot be opened (errno says why)
constexpr int kSecretFileReadError = -1;  // reading it failed (errno says why)

// Reads the file at path into buffer, at most capacity bytes, until its end; *size receives
// how many. Returns 0, kSecretFileMissing or kSecretFileReadError.
int read_secret_file(const char* path, unsigned char* buffer, size_t capacity, size_t* size);
