// SPDX-License-Identifier: Apache-2.0
#include "platform/file_open.hpp"

FILE* open_file(const char* path, const char* mode) { return fopen(path, mode); }
