// SPDX-License-Identifier: Apache-2.0
#include "keygen/output_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Whether a file can be made in dir: an unnamed one where the file system makes them, else a
// named one, removed at once. Sets errno when not.
bool can_write_into(const std::string& dir) {
    int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) return close(fd) == 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    const std::string probe = dir + "/.bootseal-keygen-probe-" + std::to_string(getpid());
    fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const int error = close(fd) == 0 ? 0 : errno;
    unlink(probe.c_str());
    errno = error;
    return error == 0;
}

}  // namespace

int prepare_output_folder(const char* tool, const std::string& dir, bool* created) {
    *created = false;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT || mkdir(dir.c_str(), 0700) != 0) {
            fprintf(stderr, "%s: cannot create the folder '%s': %s; nothing written\n", tool,
                    dir.c_str(), strerror(errno));
            return 1;
        }
        // The umask may have taken bits away; the key folder's mode is the run's to choose.
        if (chmod(dir.c_str(), 0700) != 0) {
            fprintf(stderr, "%s: cannot give the new folder '%s' mode 0700: %s; nothing written\n",
                    tool, dir.c_str(), strerror(errno));
            rmdir(dir.c_str());
            return 1;
        }
        *created = true;
        fprintf(stderr, "%s: created folder '%s' (mode 0700)\n", tool, dir.c_str());
    } else if (!S_ISDIR(st.st_mode)) {
        fprintf(stderr, "%s: '%s' is not a folder; nothing written (name a folder with --dir)\n",
                tool, dir.c_str());
        return 1;
    }
    if (!can_write_into(dir)) {
        fprintf(stderr, "%s: cannot write into the folder '%s': %s; nothing written\n", tool,
                dir.c_str(), strerror(errno));
        if (*created) remove_created_folder(tool, dir);
        *created = false;
        return 1;
    }
    return 0;
}

void remove_created_folder(const char* tool, const std::string& dir) {
    if (rmdir(dir.c_str()) == 0) {
        fprintf(stderr, "%s: removed the folder '%s' this run created\n", tool, dir.c_str());
    }
}
