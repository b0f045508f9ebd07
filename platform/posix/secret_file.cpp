// SPDX-License-Identifier: Apache-2.0
#include "platform/secret_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int read_secret_file(const char* path, unsigned char* buffer, size_t capacity, size_t* size) {
    *size = 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kSecretFileMissing;
    ssize_t got = 0;
    while (*size < capacity && (got = read(fd, buffer + *size, capacity - *size)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        *size += static_cast<size_t>(got);
    }
    const int error = errno;
    close(fd);
    if (got < 0) {
        errno = error;
        return kSecretFileReadError;
    }
    return 0;
}
