// SPDX-License-Identifier: Apache-2.0
// The command line of the companion tools: options read with getopt_long, and usage errors that
// name what is wrong, the same way in every tool.
#pragma once

#include <getopt.h>

#include <cstddef>
#include <string>

#include "image/distinct_files.hpp"

// What an option's argument is, for the message when it is missing ("a folder", "a file", "a
// number", "a byte", "a pkcs11: URI"). An option missing from a tool's table needs "a value".
struct OptionArgument {
    const char* name;  // the long option, without "--"; nullptr ends the table
    const char* kind;
};

// Reads the next option with getopt_long (opterr off). Returns its value in *key (-1 when no
// option is left) and true, or false with *error naming the option that is unknown, ambiguous,
// missing its argument, given an empty one, or given a value it does not take.
bool next_option(int argc, char** argv, const char* short_options, const option* options,
                 const OptionArgument* arguments, int* key, std::string* error);

// Whether a folder (want_directory) or a file named on the command line is there: a dangling
// link is not, nor a folder where a file is wanted, nor a file where a folder is.
bool named_path_exists(const char* path, bool want_directory);

// "'-' is not a file name here: ..." for the first of paths that is "-", or "" when none is: the
// tools read and write named files only, never standard input or output.
std::string dash_path_message(const NamedPath* paths, size_t count);

// Whether the exact word (an option such as "--json") is on the command line before any "--",
// looked at without disturbing the option parse.
bool option_word_given(int argc, char** argv, const char* word);

// With on, usage_error and failure also print the failure on standard output as one JSON object:
// {"schema_version": 1, "result": "failed", "status": N, "error": {"message": "..."}}.
void set_json_errors(bool on);

// Prints "TOOL: MESSAGE" and the pointer to --help on standard error; returns 2.
int usage_error(const char* tool, const std::string& message);

// Prints "TOOL: MESSAGE" on standard error; returns 1.
int failure(const char* tool, const std::string& message);

// Flushes standard output. Returns true when everything printed reached it; otherwise says on
// standard error that what ("the report", "the help") cannot be written, adding done (what the
// run did before, such as "the image 'x' was written"; may be empty), and returns false.
bool output_written(const char* tool, const char* what, const std::string& done);

// Keeps the run's keys out of core files (see platform/core_dumps.hpp), warning on standard
// error, in the tool's name, when the system would not.
void keep_keys_out_of_core_files(const char* tool);
