// SPDX-License-Identifier: Apache-2.0
// Which file a path names, whatever the path's spelling: two paths name one file when their
// identities are equal (links and "./x" included).
#pragma once

#include <cstdint>

struct FileIdentity {
    bool known = false;  // the path could be looked at
    uint64_t volume = 0;
    uint64_t file = 0;
};

// The identity of the file at path, following links; not known (errno says why) when nothing can
// be looked at there.
FileIdentity file_identity(const char* path);

// Whether two known identities are one file.
bool same_file_identity(const FileIdentity& a, const FileIdentity& b);
