// SPDX-License-Identifier: Apache-2.0
// A folder's lock: flock on the folder itself, so that no lock file is left behind, and the
// kernel drops it when its holder ends, however it ends. A folder this process holds already is
// not locked again: a second flock through another descriptor would wait for the process itself
// (a run called again in one process, as a fuzzer or a library caller does).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/folder_recovery.hpp"

namespace {

struct HeldLock {
    dev_t device;
    ino_t inode;
    int fd;  // -1: a free slot
};

constexpr int kMaxHeld = 16;
HeldLock held[kMaxHeld] = {};
bool held_ready = false;

HeldLock* find_held(const struct stat& folder) {
    for (HeldLock& lock : held) {
        if (lock.fd >= 0 && lock.device == folder.st_dev && lock.inode == folder.st_ino) {
            return &lock;
        }
    }
    return nullptr;
}

void remember(const struct stat& folder, int fd) {
    for (HeldLock& lock : held) {
        if (lock.fd >= 0) continue;
        lock = {folder.st_dev, folder.st_ino, fd};
        return;
    }
}

}  // namespace

int lock_folder(const char* dir, void (*on_wait)(const char* dir)) {
    if (!held_ready) {
        for (HeldLock& lock : held) lock.fd = -1;
        held_ready = true;
    }
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat folder;
    if (fstat(fd, &folder) == 0) {
        if (const HeldLock* lock = find_held(folder)) {
            close(fd);
            return lock->fd;
        }
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        if (on_wait != nullptr) on_wait(dir);
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    // A file system that keeps no locks on folders: go on without.
    remember(folder, fd);
    return fd;
}

void unlock_folder(int handle) {
    if (handle < 0) return;
    for (HeldLock& lock : held) {
        if (lock.fd == handle) lock.fd = -1;
    }
    close(handle);  // closing the last descriptor drops the lock
}
