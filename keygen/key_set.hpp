// SPDX-License-Identifier: Apache-2.0
// The key files of a run, written as one set: all or none, a replaced file kept as FILE.old.
#pragma once

#include <cstddef>
#include <string>

// A replaced key file is kept under its name with this suffix: a lost release key cannot be
// made again.
constexpr char kBackupSuffix[] = ".old";

// A key file waiting to be put in place with the others.
struct KeyFile {
    std::string path;
    std::string text;
    unsigned mode;
    bool kept;    // the file it replaced was kept as path + kBackupSuffix
    bool wanted;  // this run writes it
};

// Writes and flushes every key file first and only then puts them all in place; a replaced
// file is kept as PATH.old. If any step fails, every file is as it was before the run, and the
// reason is on standard error.
bool write_key_set(KeyFile* const* keys, size_t count);
