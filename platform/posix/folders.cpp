// SPDX-License-Identifier: Apache-2.0
#include "platform/folders.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

int make_folder(const char* path, unsigned mode) {
    if (mkdir(path, static_cast<mode_t>(mode)) != 0) return errno;
    // The umask may have taken bits away; the folder's mode is the caller's to choose.
    if (chmod(path, static_cast<mode_t>(mode)) != 0) {
        const int error = errno;
        rmdir(path);
        return error;
    }
    return 0;
}

bool remove_empty_folder(const char* path) { return rmdir(path) == 0; }

bool can_write_into(const char* dir) {
    int fd = open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) return close(fd) == 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    // Named as the temporaries are, so that a run killed before it is dropped leaves nothing
    // that the next run does not remove (platform/folder_recovery.hpp).
    const std::string probe =
        std::string(dir) + "/.bootseal." + std::to_string(getpid()) + ".999.tmp";
    fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const int error = close(fd) == 0 ? 0 : errno;
    unlink(probe.c_str());
    errno = error;
    return error == 0;
}
