// SPDX-License-Identifier: Apache-2.0
// Opening a file by a UTF-8 name, as every path is carried inside the tools.
#pragma once

#include <cstdio>

// fopen's open, for a path in UTF-8 (Windows takes it through its wide-character calls).
FILE* open_file(const char* path, const char* mode);
