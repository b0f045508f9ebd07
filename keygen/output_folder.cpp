// SPDX-License-Identifier: Apache-2.0
#include "keygen/output_folder.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file_status.hpp"
#include "platform/folders.hpp"

int prepare_output_folder(const char* tool, const std::string& dir, bool* created) {
    *created = false;
    const PathKind kind = path_kind(dir.c_str());
    if (kind == PathKind::kNothing) {
        const int error = errno != ENOENT ? errno : make_folder(dir.c_str(), 0700);
        // Another run made it meanwhile: it is that run's, and this one goes on as in any folder
        // that exists (waiting for its lock).
        if (error == EEXIST && path_kind(dir.c_str()) == PathKind::kFolder) {
            return prepare_output_folder(tool, dir, created);
        }
        if (error != 0) {
            fprintf(stderr, "%s: cannot create the folder '%s': %s; nothing written\n", tool,
                    dir.c_str(), strerror(error));
            return 1;
        }
        *created = true;
        fprintf(stderr, "%s: created folder '%s' (mode 0700)\n", tool, dir.c_str());
    } else if (kind != PathKind::kFolder) {
        fprintf(stderr, "%s: '%s' is not a folder; nothing written (name a folder with --dir)\n",
                tool, dir.c_str());
        return 1;
    }
    if (!can_write_into(dir.c_str())) {
        fprintf(stderr, "%s: cannot write into the folder '%s': %s; nothing written\n", tool,
                dir.c_str(), strerror(errno));
        if (*created) remove_created_folder(tool, dir);
        *created = false;
        return 1;
    }
    // Whoever may write into the folder may put keys of their own in place of these, or take
    // the names before they are written.
    const std::string others = others_may_write_into(dir.c_str());
    if (!others.empty()) {
        fprintf(stderr,
                "%s: warning: the folder '%s' may be written by other users (%s): they could "
                "replace the keys; keep keys in a folder only you may write into\n",
                tool, dir.c_str(), others.c_str());
    }
    return 0;
}

void remove_created_folder(const char* tool, const std::string& dir) {
    if (remove_empty_folder(dir.c_str())) {
        fprintf(stderr, "%s: removed the folder '%s' this run created\n", tool, dir.c_str());
    }
}
