// SPDX-License-Identifier: Apache-2.0
// What stands at a path, and who may read it: the questions the tools ask of the file system
// before they open or write a file.
#pragma once

#include <cstdio>

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

// The permission bits of the file at path (0644 ...), following links. Returns false when it
// cannot be looked at.
bool permission_bits(const char* path, unsigned* mode);

// Whether permission bits let users other than the owner (its group, or anyone) read or write.
inline bool open_to_others(unsigned mode) { return (mode & 077) != 0; }
