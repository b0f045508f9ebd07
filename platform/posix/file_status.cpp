// SPDX-License-Identifier: Apache-2.0
#include "platform/file_status.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

namespace {

// "mode 0644" when the permission bits of path have one of mask, else "".
std::string mode_words(const char* path, unsigned mask) {
    struct stat st;
    if (stat(path, &st) != 0 || (st.st_mode & mask) == 0) return "";
    char words[16];
    snprintf(words, sizeof(words), "mode %04o", static_cast<unsigned>(st.st_mode & 07777));
    return words;
}

}  // namespace

std::string others_may_use(const char* path) { return mode_words(path, 077); }

std::string others_may_write_into(const char* dir) { return mode_words(dir, 022); }

const char* owner_only_file_words() { return "a file of mode 0600"; }
