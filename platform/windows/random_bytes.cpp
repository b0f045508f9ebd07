// SPDX-License-Identifier: Apache-2.0
#include "platform/random_bytes.hpp"

#include <windows.h>
// windows.h first: bcrypt.h takes its types from it.
#include <bcrypt.h>

#include <cerrno>

bool random_bytes(uint8_t* out, size_t size) {
    while (size > 0) {
        const ULONG chunk = size > 0x10000000u ? 0x10000000u : static_cast<ULONG>(size);
        if (BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
            errno = EIO;
            return false;
        }
        out += chunk;
        size -= chunk;
    }
    return true;
}
