// SPDX-License-Identifier: Apache-2.0
#include "platform/folder_recovery.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_steps.hpp"
#include "platform/set_journal.hpp"

namespace {

// The process id of a temporary name ".bootseal.PID.N.tmp", or 0 when name is none.
long temporary_owner(const char* name) {
    static const char kPrefix[] = ".bootseal.";
    if (strncmp(name, kPrefix, sizeof(kPrefix) - 1) != 0) return 0;
    const char* pid_text = name + sizeof(kPrefix) - 1;
    char* end = nullptr;
    const long pid = strtol(pid_text, &end, 10);
    if (end == pid_text || *end != '.' || pid <= 0 || pid_text[0] == '-' || pid_text[0] == '+') {
        return 0;
    }
    const char* number = end + 1;
    const long attempt = strtol(number, &end, 10);
    if (end == number || attempt < 0 || number[0] == '-' || number[0] == '+') return 0;
    return strcmp(end, ".tmp") == 0 ? pid : 0;
}

// The temporary files in dir of processes that no longer run.
std::vector<std::string> orphaned_temporaries(const std::string& dir) {
    std::vector<std::string> found;
    for (const std::string& name : folder_entry_names(dir)) {
        const long pid = temporary_owner(name.c_str());
        if (pid == 0 || process_runs(pid)) continue;
        const std::string path = dir + "/" + name;
        if (names_plain_file(path)) found.push_back(path);
    }
    return found;
}

// Finishes or undoes the set whose journal is in dir; the folder's lock is held.
void recover_set(const std::string& dir, FolderRecovery* result) {
    const std::string journal = set_journal_path(dir), undo = set_undo_path(dir);
    const bool undoing = name_exists(undo);
    if (!undoing && !name_exists(journal)) return;
    const std::string& path = undoing ? undo : journal;
    std::string bytes;
    std::vector<JournalEntry> entries;
    if (!read_small_file(path, &bytes) || !parse_set_journal(dir, bytes, &entries)) {
        result->set = SetRecovery::kFailed;
        result->why = "its journal '" + path +
                      "' cannot be read whole, or names files of other "
                      "folders; nothing of it was followed";
        return;
    }
    if (!undoing && set_steps_done(entries)) {
        result->set = SetRecovery::kFinished;
    } else {
        // Once undoing is decided it is recorded, so that a recovery cut short goes on undoing.
        const int marked = undoing ? 0 : rename_name(journal, undo);
        const int unmarked = marked != 0 ? marked : undoing ? 0 : flush_folder(dir);
        if (unmarked != 0) {
            result->set = SetRecovery::kFailed;
            result->why = "cannot mark its journal for undoing: " + std::string(strerror(unmarked));
            return;
        }
        std::string failed;
        const int error = undo_set_steps(entries, &failed);
        if (error != 0) {
            result->set = SetRecovery::kFailed;
            result->why = "cannot put back '" + failed + "': " + strerror(error);
            return;
        }
        result->set = SetRecovery::kUndone;
    }
    for (const JournalEntry& entry : entries) {
        const size_t slash = entry.target.rfind('/');
        if (slash != std::string::npos) flush_folder(entry.target.substr(0, slash));
    }
    flush_folder(dir);
    const std::string& left = result->set == SetRecovery::kUndone ? undo : journal;
    const int removed = remove_name(left);
    if (removed != 0) {
        result->set = SetRecovery::kFailed;
        result->why = "cannot remove its journal '" + left + "': " + strerror(removed);
        return;
    }
    flush_folder(dir);
}

}  // namespace

FolderRecovery recover_folder(const char* dir, bool locked) {
    FolderRecovery result;
    const std::string folder = dir;
    const bool journal =
        name_exists(set_journal_path(folder)) || name_exists(set_undo_path(folder));
    if (!journal && orphaned_temporaries(folder).empty()) return result;
    // The lock holder is the one run that may be putting a set in place here: once the lock is
    // had, a journal is a dead run's, and so is every temporary its set names.
    const int handle = locked ? -1 : lock_folder(dir, nullptr);
    recover_set(folder, &result);
    if (result.set != SetRecovery::kFailed) {
        for (const std::string& path : orphaned_temporaries(folder)) {
            if (remove_name(path) == 0) ++result.temporaries_removed;
        }
        if (result.temporaries_removed > 0) flush_folder(folder);
    }
    unlock_folder(handle);
    return result;
}
