// SPDX-License-Identifier: Apache-2.0
#include "platform/random_bytes.hpp"

#include <sys/random.h>

#include <cerrno>

bool random_bytes(uint8_t* out, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t read = getrandom(out + got, size - got, 0);
        if (read < 0 && errno != EINTR) return false;
        if (read > 0) got += static_cast<size_t>(read);
    }
    return true;
}
