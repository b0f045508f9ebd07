// SPDX-License-Identifier: Apache-2.0
// What stands at a path, and who may read it: the questions the tools ask of the file system
// before they open or write a file.
#pragma once

#include <cstdio>
#include <string>

// What a path names.
enum class PathKind {
    kNothing,  // nothing that can be looked at (errno says why)
    kRegular,  // a regular file
    kFolder,   // a folder
    kOther,    // a device, a FIFO, a socket
};

// What path names, following links.
PathKind path_kind(const char* path);

// What an open file is, and its size in bytes when it is a regular file and size is given.
PathKind open_file_kind(FILE* file, long long* size = nullptr);

// Whether nothing at all is at path, not even a link that points nowhere.
bool nothing_at(const char* path);

// Whether the run may read the file at path.
bool may_read(const char* path);

// Who besides its owner may read or write the file at path (following links), in words for a
// warning: "mode 0644" where permission bits say it (any bit for the group or others), "its
// access list lets Everyone read it" where an access list does; "" when no one else may, or
// when it cannot be looked at.
std::string others_may_use(const char* path);

// Who besides its owner may write into the folder dir (create, replace or remove its files), in
// the same words; "" when no one else may.
std::string others_may_write_into(const char* dir);

// How a file only its owner may use is said here: "a file of mode 0600".
const char* owner_only_file_words();
