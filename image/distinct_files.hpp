// SPDX-License-Identifier: Apache-2.0
// Whether the files a run reads and writes are different files: a run that wrote over one of its
// own inputs, or wrote two outputs to one file, would lose the first without a word.
#pragma once

#include <cstddef>
#include <string>

// A path of the run and what it is, for the message ("the input", "the --to-sign block").
struct NamedPath {
    const char* role;
    const char* path;  // nullptr: not given in this run
};

// No pair is allowed to share a file.
constexpr size_t kNoSharedPair = static_cast<size_t>(-1);

// Compares every pair of the paths by the file they name (device and inode, so that links and
// "./x" are caught; a path that does not exist yet by its folder's and its own name). Returns ""
// when all differ, or a message naming the first two that are one file. The pair (first, second)
// of indexes may share a file: bootseal-sign writes an image over its input in place.
std::string shared_file_message(const NamedPath* paths, size_t count,
                                size_t allowed_first = kNoSharedPair,
                                size_t allowed_second = kNoSharedPair);
