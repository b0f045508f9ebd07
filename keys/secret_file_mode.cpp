// SPDX-License-Identifier: Apache-2.0
#include "keys/secret_file_mode.hpp"

#include <cstdio>
#include <string>

#include "platform/file_status.hpp"

void warn_if_readable_by_others(const char* tool, const char* path, const char* what) {
    // Only a regular file keeps its mode: a pipe's or a device's says nothing of who reads it.
    if (path == nullptr || *path == '\0' || path_kind(path) != PathKind::kRegular) return;
    const std::string others = others_may_use(path);
    if (others.empty()) return;
    fprintf(stderr, "%s: warning: '%s' may be read by other users (%s); %s belongs in %s\n", tool,
            path, others.c_str(), what, owner_only_file_words());
}
