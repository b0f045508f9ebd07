// SPDX-License-Identifier: Apache-2.0
#include "image/distinct_files.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace {

// The file a path names: its device and inode, or for a path that does not exist yet the device
// and inode of its folder and its last name.
struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // empty for an existing file
};

FileIdentity identify(const char* path) {
    FileIdentity identity;
    struct stat st;
    if (stat(path, &st) == 0) {
        identity = {true, st.st_dev, st.st_ino, ""};
        return identity;
    }
    if (errno != ENOENT) return identity;  // the run's own open says what is wrong
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    if (stat(folder.c_str(), &st) == 0) identity = {true, st.st_dev, st.st_ino, name};
    return identity;
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode && a.name == b.name;
}

}  // namespace

std::string shared_file_message(const NamedPath* paths, size_t count, size_t allowed_first,
                                size_t allowed_second) {
    FileIdentity identities[16];
    if (count > sizeof(identities) / sizeof(identities[0])) return "too many files for one run";
    for (size_t i = 0; i < count; ++i) {
        if (paths[i].path != nullptr) identities[i] = identify(paths[i].path);
    }
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = i + 1; j < count; ++j) {
            if (i == allowed_first && j == allowed_second) continue;
            if (!same_file(identities[i], identities[j])) continue;
            return paths[i].role + std::string(" '") + paths[i].path + "' and " + paths[j].role +
                   " '" + paths[j].path + "' are the same file";
        }
    }
    return "";
}
