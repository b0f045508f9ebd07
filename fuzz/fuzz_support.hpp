// SPDX-License-Identifier: Apache-2.0
// Shared set-up of the fuzz targets: a scratch working folder and a silenced standard output.
#pragma once

#include <cstddef>
#include <cstdint>

// Moves into a fresh scratch folder, copies the fixed test key pair there when with_rsa_keys is
// set, and sends standard output to /dev/null.
void fuzz_prepare(bool with_rsa_keys);

// Replaces the file name in the working folder with size bytes of data.
void fuzz_write_file(const char* name, const uint8_t* data, size_t size);
