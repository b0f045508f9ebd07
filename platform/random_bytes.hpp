// SPDX-License-Identifier: Apache-2.0
// Random bytes from the operating system, for blinding.
#pragma once

#include <cstddef>
#include <cstdint>

// Fills out with size random bytes. Returns false, with errno set, when the system gives none.
bool random_bytes(uint8_t* out, size_t size);
