// SPDX-License-Identifier: Apache-2.0
// A word about secret files that other users may read.
#pragma once

// Warns on standard error, in the name of tool, when others may read the file at path, which
// holds what ("a secret key", "a PIN"). Whether to fix it is the user's to decide: the run goes
// on. A path of nullptr or "" is not looked at, nor one that names no regular file (a pipe).
void warn_if_readable_by_others(const char* tool, const char* path, const char* what);
