// SPDX-License-Identifier: Apache-2.0
// Putting files in place whole. A file is written and flushed while it has no name (an unnamed
// O_TMPFILE file, or a temporary name where the file system cannot make one) and is named only
// then; a set of files is named together, or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class WriteResult { kWritten, kCannotOpen, kWriteFailed };

// How the mode of a written file is chosen.
enum class FileMode {
    kLikeOpen,  // a new file gets the mode less the umask; a replaced file keeps mode and owner
    kExact,     // the file gets exactly the mode, whatever the umask or the file it replaces
};

// One file of a set, between stage_file and commit_files or abandon_files.
struct StagedFile {
    std::string target;       // the path that is replaced (the file a link points to)
    int fd = -1;              // the flushed file while it has no name, else -1
    std::string temp_path;    // its temporary name, when it has one
    bool existed = false;     // target held a file when the stage began
    bool move_aside = false;  // no new file: the old one only goes to its backup name
    std::string backup_path;  // where the replaced file was kept, when commit_files kept it
    int error = 0;            // errno of the step that failed
    const char* refused_kind = nullptr;  // "a character device"...: what stood at the target
};

// Why a staged file failed, for "cannot write 'x': ...": what stood at the target when it was
// not a regular file or a folder, else the system's text of file.error.
std::string staged_file_reason(const StagedFile& file);

// Writes size bytes of data into a new file beside path and flushes it to disk, without naming
// it path. Existing devices, FIFOs and folders are refused (kCannotOpen), as is an existing file
// the caller may not write. On failure nothing is left behind.
WriteResult stage_file(StagedFile* file, const char* path, const uint8_t* data, size_t size,
                       unsigned mode, FileMode mode_policy);

// Names every staged file over its target. When backup_suffix is given, each replaced file is
// kept as target + backup_suffix (which must not exist). When a step fails, the targets that
// were already replaced get their old files back, and every file is as it was before;
// failed_index receives the file whose step failed. Returns true when all were named.
bool commit_files(StagedFile* files, size_t count, const char* backup_suffix, size_t* failed_index);

// Stages moving the regular file at path to its backup name, with no new file in its place: a
// file of a set that the set no longer has. Refuses (kCannotOpen) what stage_file refuses.
WriteResult stage_move_aside(StagedFile* file, const char* path);

// Names a set of staged files in folder as commit_files does with backup_suffix, so that a kill
// at any instant leaves what recover_folder (platform/folder_recovery.hpp) makes the old set or
// the new one: every file is given a name beside its target, and a journal of the steps is put
// in folder whole and flushed, before the first old file gets its backup name; the journal
// goes once the set is in place, or once it is undone after a failed step. The caller holds
// folder's lock (lock_folder).
bool commit_file_set(const char* folder, StagedFile* files, size_t count, const char* backup_suffix,
                     size_t* failed_index);

// Drops staged files that will not be named.
void abandon_files(StagedFile* files, size_t count);

// Writes one file whole: the path holds its old contents or all of the new ones, never a part.
// Existing devices and FIFOs are written in place, as a plain open for writing would write them.
// on_open, when given, is called with path once the file is open.
WriteResult replace_file(const char* path, const uint8_t* data, size_t size, unsigned mode,
                         FileMode mode_policy, void (*on_open)(const char* path));
