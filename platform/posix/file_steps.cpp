// SPDX-License-Identifier: Apache-2.0
#include "platform/file_steps.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool name_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool same_named_file(const std::string& a, const std::string& b) {
    struct stat first, second;
    return lstat(a.c_str(), &first) == 0 && lstat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool names_plain_file(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int rename_name(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int remove_name(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int link_name(const std::string& existing, const std::string& name) {
    return link(existing.c_str(), name.c_str()) == 0 ? 0 : errno;
}

int flush_folder(const std::string& folder) {
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

bool read_small_file(const std::string& path, std::string* bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0)
        bytes->append(buffer, static_cast<size_t>(n));
    const bool ok = n == 0;
    close(fd);
    return ok;
}

std::vector<std::string> folder_entry_names(const std::string& dir) {
    std::vector<std::string> names;
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return names;
    while (const dirent* entry = readdir(folder)) names.push_back(entry->d_name);
    closedir(folder);
    return names;
}

bool process_runs(long pid) {
    if (pid <= 0 || pid > 0x7fffffffL) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}
