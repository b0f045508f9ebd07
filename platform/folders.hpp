// SPDX-License-Identifier: Apache-2.0
// Folders the tools make for their outputs.
#pragma once

// Creates the folder path with exactly mode, whatever the umask (its parent must exist). Returns
// 0, or the errno of the step that failed; a folder made but not given its mode is removed.
int make_folder(const char* path, unsigned mode);

// Removes the folder path when it is empty. Returns whether it did.
bool remove_empty_folder(const char* path);

// Whether a file can be made in the folder dir: an unnamed one where the file system makes them,
// else a named one, removed at once. Sets errno when not.
bool can_write_into(const char* dir);
