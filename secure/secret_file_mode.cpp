// SPDX-License-Identifier: Apache-2.0
#include "secure/secret_file_mode.hpp"

#include <sys/stat.h>

#include <cstdio>

void warn_if_readable_by_others(const char* tool, const char* path, const char* what) {
    struct stat st;
    if (path == nullptr || *path == '\0' || stat(path, &st) != 0 || (st.st_mode & 077) == 0) {
        return;
    }
    fprintf(stderr,
            "%s: warning: '%s' may be read by other users (mode %04o); %s belongs in a file of "
            "mode 0600\n",
            tool, path, static_cast<unsigned>(st.st_mode & 07777), what);
}
