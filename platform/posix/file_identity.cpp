// SPDX-License-Identifier: Apache-2.0
#include "platform/file_identity.hpp"

#include <sys/stat.h>

FileIdentity file_identity(const char* path) {
    FileIdentity identity;
    struct stat st;
    if (stat(path, &st) == 0) {
        identity.known = true;
        identity.volume = static_cast<uint64_t>(st.st_dev);
        identity.file = static_cast<uint64_t>(st.st_ino);
    }
    return identity;
}

bool same_file_identity(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.file == b.file;
}
