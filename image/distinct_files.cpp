// SPDX-License-Identifier: Apache-2.0
#include "image/distinct_files.hpp"

#include <cerrno>
#include <string>

#include "platform/file_identity.hpp"

namespace {

// The file a path names, or for a path that does not exist yet its folder and its last name.
struct PathIdentity {
    FileIdentity file;
    std::string name;  // empty for an existing file
};

PathIdentity identify(const char* path) {
    PathIdentity identity;
    identity.file = file_identity(path);
    if (identity.file.known || errno != ENOENT)
        return identity;  // the run's open says what is wrong
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    identity.file = file_identity(folder.c_str());
    if (identity.file.known) identity.name = name;
    return identity;
}

bool same_file(const PathIdentity& a, const PathIdentity& b) {
    return same_file_identity(a.file, b.file) && a.name == b.name;
}

}  // namespace

std::string shared_file_message(const NamedPath* paths, size_t count, size_t allowed_first,
                                size_t allowed_second) {
    PathIdentity identities[16];
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
