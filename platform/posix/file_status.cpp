// SPDX-License-Identifier: Apache-2.0
#include "platform/file_status.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

PathKind kind_of(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return PathKind::kRegular;
    if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
    return PathKind::kOther;
}

}  // namespace

PathKind path_kind(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? kind_of(st) : PathKind::kNothing;
}

PathKind open_file_kind(FILE* file, long long* size) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return PathKind::kNothing;
    if (size != nullptr) *size = static_cast<long long>(st.st_size);
    return kind_of(st);
}

bool nothing_at(const char* path) {
    struct stat st;
    return lstat(path, &st) != 0 && errno == ENOENT;
}

bool may_read(const char* path) { return access(path, R_OK) == 0; }

bool permission_bits(const char* path, unsigned* mode) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    *mode = static_cast<unsigned>(st.st_mode & 07777);
    return true;
}
