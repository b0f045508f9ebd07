// SPDX-License-Identifier: Apache-2.0
// A folder's lock: flock on the folder itself, so that no lock file is left behind, and the
// kernel drops it when its holder ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/folder_recovery.hpp"

int lock_folder(const char* dir, void (*on_wait)(const char* dir)) {
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK) return fd;  // no locks on this file system: go on without
    if (on_wait != nullptr) on_wait(dir);
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    return fd;
}

void unlock_folder(int handle) {
    if (handle >= 0) close(handle);  // closing the last handle drops the lock
}
