// SPDX-License-Identifier: Apache-2.0
#include "platform/folder_recovery.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/set_journal.hpp"

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

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

// Whether the process pid runs (one of another user, which may not be signalled, runs too).
bool runs(long pid) {
    if (pid > 0x7fffffffL) return false;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The temporary files in dir of processes that no longer run.
std::vector<std::string> orphaned_temporaries(const std::string& dir) {
    std::vector<std::string> found;
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return found;  // nothing can be found where nothing can be listed
    while (const dirent* entry = readdir(folder)) {
        const long pid = temporary_owner(entry->d_name);
        if (pid == 0 || runs(pid)) continue;
        const std::string path = dir + "/" + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) found.push_back(path);
    }
    closedir(folder);
    return found;
}

bool read_whole(const std::string& path, std::string* bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0)
        bytes->append(buffer, static_cast<size_t>(n));
    const bool ok = n == 0;
    close(fd);
    return ok;
}

// Finishes or undoes the set whose journal is in dir; the folder's lock is held.
void recover_set(const std::string& dir, FolderRecovery* result) {
    const std::string journal = set_journal_path(dir), undo = set_undo_path(dir);
    const bool undoing = exists(undo);
    if (!undoing && !exists(journal)) return;
    const std::string& path = undoing ? undo : journal;
    std::string bytes;
    std::vector<JournalEntry> entries;
    if (!read_whole(path, &bytes) || !parse_set_journal(bytes, &entries)) {
        result->set = SetRecovery::kFailed;
        result->why = "its journal '" + path + "' cannot be read whole";
        return;
    }
    if (!undoing && set_steps_done(entries)) {
        result->set = SetRecovery::kFinished;
    } else {
        // Once undoing is decided it is recorded, so that a recovery cut short goes on undoing.
        if (!undoing && (rename(journal.c_str(), undo.c_str()) != 0 || flush_folder(dir) != 0)) {
            result->set = SetRecovery::kFailed;
            result->why = "cannot mark its journal for undoing: " + std::string(strerror(errno));
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
    if (unlink(left.c_str()) != 0) {
        result->set = SetRecovery::kFailed;
        result->why = "cannot remove its journal '" + left + "': " + strerror(errno);
        return;
    }
    flush_folder(dir);
}

}  // namespace

int lock_folder(const char* dir, void (*on_wait)(const char* dir)) {
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK) return fd;  // no locks on this file system: go on without
    if (on_wait != nullptr) on_wait(dir);
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    return fd;
}

void unlock_folder(int handle) {
    if (handle >= 0) close(handle);  // closing the last handle drops the lock
}

FolderRecovery recover_folder(const char* dir, bool locked) {
    FolderRecovery result;
    const std::string folder = dir;
    const bool journal = exists(set_journal_path(folder)) || exists(set_undo_path(folder));
    if (!journal && orphaned_temporaries(folder).empty()) return result;
    // The lock holder is the one run that may be putting a set in place here: once the lock is
    // had, a journal is a dead run's, and so is every temporary its set names.
    const int handle = locked ? -1 : lock_folder(dir, nullptr);
    recover_set(folder, &result);
    if (result.set != SetRecovery::kFailed) {
        for (const std::string& path : orphaned_temporaries(folder)) {
            if (unlink(path.c_str()) == 0) ++result.temporaries_removed;
        }
        if (result.temporaries_removed > 0) flush_folder(folder);
    }
    unlock_folder(handle);
    return result;
}
