// SPDX-License-Identifier: Apache-2.0
// The plain steps on file names that a set of files is put in place, undone and cleaned up by,
// the same on every system: the set's journal and the recovery of a folder are written once on
// top of them. Each step returns 0 or the errno of its failure.
#pragma once

#include <string>
#include <vector>

// Whether anything is at path, a link itself included.
bool name_exists(const std::string& path);

// Whether a and b are names of one file (a last link not followed).
bool same_named_file(const std::string& a, const std::string& b);

// Whether path names a regular file itself (a link is not one).
bool names_plain_file(const std::string& path);

// Gives the file from the name to, over a file that is there.
int rename_name(const std::string& from, const std::string& to);

// Takes the name path away (the file goes with its last name).
int remove_name(const std::string& path);

// Gives the file existing the second name name (a hard link), which must not exist.
int link_name(const std::string& existing, const std::string& name);

// Flushes the names in folder ("" for the working folder) to disk.
int flush_folder(const std::string& folder);

// Reads the small file at path (a link not followed) into *bytes. Returns false when it cannot.
bool read_small_file(const std::string& path, std::string* bytes);

// The names in the folder dir (none when it cannot be listed).
std::vector<std::string> folder_entry_names(const std::string& dir);

// Whether the process pid runs (one the run may not signal runs too).
bool process_runs(long pid);
