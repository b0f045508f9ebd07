// SPDX-License-Identifier: Apache-2.0
#include "keys/secret_file_mode.hpp"

#include <cstdio>

#include "platform/file_status.hpp"

void warn_if_readable_by_others(const char* tool, const char* path, const char* what) {
    unsigned mode = 0;
    // Only a regular file keeps its mode: a pipe's or a device's says nothing of who reads it.
    if (path == nullptr || *path == '\0' || path_kind(path) != PathKind::kRegular ||
        !permission_bits(path, &mode) || !open_to_others(mode)) {
        return;
    }
    fprintf(stderr,
            "%s: warning: '%s' may be read by other users (mode %04o); %s belongs in a file of "
            "mode 0600\n",
            tool, path, mode, what);
}
