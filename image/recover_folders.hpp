// SPDX-License-Identifier: Apache-2.0
// What every tool does first in the folders it reads keys from and writes into: make them whole
// after a run that was killed there (platform/folder_recovery.hpp), and say what was done.
#pragma once

#include <initializer_list>
#include <string>

// Recovers the folder of each path (a path that names a folder is that folder; a null path is
// skipped), saying each thing done on standard error in the name of tool, one line each:
//   TOOL: finished the interrupted replacement of the key files in 'DIR': the new ones are in place
//   TOOL: undid the interrupted replacement of the key files in 'DIR': the old ones are back
//   TOOL: cannot finish or undo the interrupted replacement of the key files in 'DIR': WHY
//   TOOL: removed N temporary file(s) that stopped runs left in 'DIR'
// Each folder's lock is taken first (saying so while another run holds it) and held until the run
// ends, so that no key set is replaced under the run. Returns false when a folder holds a
// replacement that could be neither finished nor undone.
bool recover_folders(const char* tool, std::initializer_list<const char*> paths);

// Takes the lock of the folder dir for the rest of the run, waiting (and saying so) while another
// run holds it, then recovers it as recover_folders does. A dir that does not exist yet is left
// for later: *locked says whether the lock was taken. Returns false after saying why when dir
// cannot be opened or cannot be made whole.
bool lock_and_recover_folder(const char* tool, const std::string& dir, bool* locked);
