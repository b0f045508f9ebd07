// SPDX-License-Identifier: Apache-2.0
// A folder made whole again after a run that was killed in it: a set of files it was putting in
// place is finished or undone, and the temporary files of runs that no longer run are removed.
// One run at a time changes a folder: it holds the folder's lock, which the kernel drops when
// the holder ends, however it ends.
#pragma once

#include <cstddef>
#include <string>

// Takes the lock of the folder dir for as long as the run goes on (or until unlock_folder),
// waiting for a run that holds it (on_wait, when given, is called with dir before the wait).
// Returns the lock's handle, or -1 with errno when the folder cannot be opened. A file system
// that keeps no locks on folders gives the handle unlocked.
int lock_folder(const char* dir, void (*on_wait)(const char* dir));

// Drops the lock that lock_folder took.
void unlock_folder(int handle);

// What recover_folder found and did.
enum class SetRecovery {
    kNothing,   // no set was being put in place
    kFinished,  // every file of the set was in place: only the journal went
    kUndone,    // the set was cut short: the old files are back, the new ones gone
    kFailed,    // neither could be done (why says why): the folder is left as it was found
};

struct FolderRecovery {
    SetRecovery set = SetRecovery::kNothing;
    std::string why;
    size_t temporaries_removed = 0;  // .bootseal.PID.N.tmp files of processes that no longer run
};

// Makes the folder dir whole after a run killed in it. A temporary file of a process that still
// runs is never touched, nor a set such a process is putting in place: with locked false the
// folder's lock is taken for the recovery, waiting for its holder, when there is anything to do;
// with locked true the caller holds it already.
FolderRecovery recover_folder(const char* dir, bool locked);
