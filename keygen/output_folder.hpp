// SPDX-License-Identifier: Apache-2.0
// The folder the key files go into, made ready before any key is made: a key made inside a
// token cannot be made again when its public half finds nowhere to go.
#pragma once

#include <string>

// Makes sure files can be written into dir: creates it with mode 0700 when it does not exist
// (saying so on standard error; its parent must exist) and writes and drops a file in it.
// Returns 0, or 1 after saying on standard error, in the name of tool, what is wrong and that
// nothing was written. *created tells whether this run made the folder.
int prepare_output_folder(const char* tool, const std::string& dir, bool* created);

// Removes the folder prepare_output_folder created when it is still empty, and says so: a run
// that wrote nothing leaves nothing behind.
void remove_created_folder(const char* tool, const std::string& dir);
