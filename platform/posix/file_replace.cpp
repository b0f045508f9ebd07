// SPDX-License-Identifier: Apache-2.0
#include "platform/file_replace.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_steps.hpp"
#include "platform/set_journal.hpp"

namespace {

// Temporary names that exist right now, for the signal handler to remove. A slot is filled
// before it is marked used, and marked unused before its name is reused.
constexpr size_t kMaxTemporaries = 8;
char temporary_names[kMaxTemporaries][PATH_MAX];
volatile sig_atomic_t temporary_used[kMaxTemporaries];
bool cleanup_installed = false;

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the temporary names, then lets the signal end the process as it would have without
// this handler (SA_RESETHAND has restored the default action; the signal stays blocked until
// the handler returns, and is delivered then).
extern "C" void remove_temporaries(int signal_number) {
    for (size_t i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_used[i]) unlink(temporary_names[i]);
    }
    raise(signal_number);
}

void install_cleanup() {
    if (cleanup_installed) return;
    cleanup_installed = true;
    for (int signal_number : kCleanupSignals) {
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) != 0) continue;
        if (current.sa_handler == SIG_IGN) continue;  // nohup and the like: keep ignoring it
        struct sigaction action;
        memset(&action, 0, sizeof(action));
        action.sa_handler = remove_temporaries;
        sigemptyset(&action.sa_mask);
        for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        sigaction(signal_number, &action, nullptr);
    }
}

bool register_temporary(const std::string& name) {
    if (name.size() >= PATH_MAX) return false;
    install_cleanup();
    for (size_t i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_used[i]) continue;
        memcpy(temporary_names[i], name.c_str(), name.size() + 1);
        temporary_used[i] = 1;
        return true;
    }
    return false;
}

void forget_temporary(const std::string& name) {
    for (size_t i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_used[i] && name == temporary_names[i]) temporary_used[i] = 0;
    }
}

void remove_temporary(StagedFile* file) {
    if (file->temp_path.empty()) return;
    unlink(file->temp_path.c_str());
    forget_temporary(file->temp_path);
    file->temp_path.clear();
}

// Holds SIGINT, SIGTERM and SIGHUP back while a set of files is being named, so that the set is
// named whole; a signal that arrived meanwhile is delivered when the naming is done.
void hold_signals(sigset_t* previous) {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kCleanupSignals) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, previous);
}

void release_signals(const sigset_t* previous) { sigprocmask(SIG_SETMASK, previous, nullptr); }

// The folder part of path, with its trailing slash ("" for the working directory).
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string temporary_name(const std::string& target, int attempt) {
    return folder_of(target) + ".bootseal." + std::to_string(getpid()) + "." +
           std::to_string(attempt) + ".tmp";
}

bool write_all(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Opens a file with no name in the target's folder, where the file system and /proc allow
// naming it later. Returns -1 (errno EOPNOTSUPP) where it cannot be done.
int open_unnamed(const std::string& target, unsigned mode) {
    if (access("/proc/self/fd", X_OK) != 0) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const std::string folder = folder_of(target);
    return open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                static_cast<mode_t>(mode));
}

// Creates a fresh named temporary file beside target and registers its name for removal.
int open_named(StagedFile* file, unsigned mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporary_name(file->target, attempt);
        // Registered first, so that no instant passes with the name on disk and unregistered.
        if (!register_temporary(name)) {
            errno = EMFILE;
            return -1;
        }
        const int fd =
            open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0) {
            file->temp_path = name;
            return fd;
        }
        const int error = errno;
        forget_temporary(name);
        if (error != EEXIST) {
            errno = error;
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

// Gives the unnamed file behind fd the name path; fails when path exists.
int link_unnamed(int fd, const std::string& path) {
    char proc_path[64];
    snprintf(proc_path, sizeof(proc_path), "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, proc_path, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
}

// What a file that is not a regular file is, for the message that refuses it.
const char* file_kind(mode_t mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "a special file";
}

// Refuses what is neither a regular file nor a folder at the target. errno EEXIST stays the
// code, for callers that only test it.
void refuse_special(StagedFile* file, mode_t mode) {
    file->error = EEXIST;
    file->refused_kind = file_kind(mode);
}

// Only a regular file, or nothing, may be replaced: whatever any earlier check said, a device,
// a FIFO, a folder or a link found at the target now is left alone.
bool may_replace(StagedFile* file) {
    struct stat st;
    if (lstat(file->target.c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISREG(st.st_mode)) return true;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
    } else {
        refuse_special(file, st.st_mode);
        errno = EEXIST;
    }
    return false;
}

// Gives the unnamed file of a staged file a temporary name beside its target.
bool name_temporary(StagedFile* file) {
    for (int attempt = 0; file->temp_path.empty(); ++attempt) {
        const std::string name = temporary_name(file->target, attempt);
        if (attempt == 100 || !register_temporary(name)) {
            file->error = EEXIST;
            return false;
        }
        if (link_unnamed(file->fd, name) == 0) {
            file->temp_path = name;
        } else {
            const int error = errno;
            forget_temporary(name);
            if (error != EEXIST) {
                file->error = error;
                return false;
            }
        }
    }
    return true;
}

// Puts one staged file in place over its target.
bool name_file(StagedFile* file) {
    if (file->fd >= 0) {
        if (!file->existed) {
            if (link_unnamed(file->fd, file->target) == 0) return true;
            if (errno != EEXIST) {
                file->error = errno;
                return false;
            }
            // Something took the name meanwhile: replace it below, if it may be replaced.
        }
        // linkat cannot replace a file: name it beside the target, then rename it over.
        if (!name_temporary(file)) return false;
    }
    if (!may_replace(file)) {
        file->error = errno;
        remove_temporary(file);
        return false;
    }
    if (rename(file->temp_path.c_str(), file->target.c_str()) != 0) {
        file->error = errno;
        remove_temporary(file);
        return false;
    }
    forget_temporary(file->temp_path);
    file->temp_path.clear();
    return true;
}

void close_staged(StagedFile* file) {
    if (file->fd < 0) return;
    // The file's data was flushed by fsync before it was named; closing flushes nothing more on
    // Linux, so a late close error cannot mean lost data.
    close(file->fd);
    file->fd = -1;
}

// Puts back the old files of the first done targets, in reverse order: a replaced file comes
// back from its backup, a file that did not exist before is removed again.
bool undo_named(StagedFile* files, size_t done) {
    bool whole = true;
    for (size_t i = done; i-- > 0;) {
        StagedFile* file = &files[i];
        bool ok;
        if (!file->existed) {
            ok = unlink(file->target.c_str()) == 0;
        } else if (!file->backup_path.empty()) {
            ok = rename(file->backup_path.c_str(), file->target.c_str()) == 0;
            if (ok) file->backup_path.clear();
        } else {
            ok = false;  // replaced without a backup: the old file cannot come back
        }
        if (!ok) {
            fprintf(stderr, "cannot put back the old '%s': %s\n", file->target.c_str(),
                    strerror(errno));
            whole = false;
        }
    }
    return whole;
}

void sync_folder(const std::string& target) {
    const std::string folder = folder_of(target);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // best effort: the names are in place already
    close(fd);
}

// Devices and FIFOs are written in place, as a plain open for writing would.
WriteResult write_in_place(const char* path, const uint8_t* data, size_t size,
                           void (*on_open)(const char*)) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr) return WriteResult::kCannotOpen;
    if (on_open != nullptr) on_open(path);
    const size_t written = fwrite(data, 1, size, file);
    const bool closed = fclose(file) == 0;
    return written == size && closed ? WriteResult::kWritten : WriteResult::kWriteFailed;
}

}  // namespace

WriteResult stage_file(StagedFile* file, const char* path, const uint8_t* data, size_t size,
                       unsigned mode, FileMode mode_policy) {
    *file = StagedFile();
    file->target = path;
    struct stat existing;
    if (stat(path, &existing) == 0) {
        file->existed = true;
        if (S_ISDIR(existing.st_mode)) {
            file->error = EISDIR;
            return WriteResult::kCannotOpen;
        }
        if (!S_ISREG(existing.st_mode)) {
            refuse_special(file, existing.st_mode);
            return WriteResult::kCannotOpen;
        }
        // A file the user may not write is refused, as a plain open would refuse it.
        if (access(path, W_OK) != 0) {
            file->error = errno;
            return WriteResult::kCannotOpen;
        }
        // Replace the file a link points to, not the link.
        char resolved[PATH_MAX];
        if (realpath(path, resolved) != nullptr) file->target = resolved;
    }

    int fd = open_unnamed(file->target, mode);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        fd = open_named(file, mode);
    }
    if (fd < 0) {
        file->error = errno;
        return WriteResult::kCannotOpen;
    }
    if (mode_policy == FileMode::kExact) {
        fchmod(fd, static_cast<mode_t>(mode));
    } else if (file->existed) {
        // Keep the permissions and, where allowed, the owner of the file being replaced.
        fchmod(fd, existing.st_mode & 07777);
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Not the owner's to give away: the file keeps the writer's ownership.
        }
    }
    bool ok = write_all(fd, data, size) && fsync(fd) == 0;
    if (ok && !file->temp_path.empty()) {
        // A named temporary is closed before it is renamed, so a close error still counts.
        ok = close(fd) == 0;
        fd = -1;
    }
    if (!ok) {
        file->error = errno;
        if (fd >= 0) close(fd);
        remove_temporary(file);
        return WriteResult::kWriteFailed;
    }
    file->fd = fd;
    return WriteResult::kWritten;
}

std::string staged_file_reason(const StagedFile& file) {
    if (file.refused_kind != nullptr) {
        return std::string("it is ") + file.refused_kind + ", not a regular file";
    }
    return strerror(file.error);
}

bool commit_files(StagedFile* files, size_t count, const char* backup_suffix,
                  size_t* failed_index) {
    sigset_t previous;
    hold_signals(&previous);
    size_t failed = count;
    // In a set, a replaced file can come back after a later failure only from a backup: a
    // second name for the same file, so the target is never without one. Without a suffix to
    // keep it under, the backup has a temporary name and goes once the set is in place.
    const bool keep = backup_suffix != nullptr;
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!files[i].existed || (!keep && count == 1)) continue;
        std::string backup = keep ? files[i].target + backup_suffix : std::string();
        for (int attempt = 0; !keep && backup.empty() && attempt < 100; ++attempt) {
            const std::string name = temporary_name(files[i].target, 100 + attempt);
            if (register_temporary(name) && link(files[i].target.c_str(), name.c_str()) == 0) {
                backup = name;
            } else {
                forget_temporary(name);
                if (errno != EEXIST) break;
            }
        }
        if (!backup.empty() && (!keep || link(files[i].target.c_str(), backup.c_str()) == 0)) {
            files[i].backup_path = backup;
        } else {
            files[i].error = errno;
            failed = i;
        }
    }
    size_t named = 0;
    while (failed == count && named < count) {
        if (name_file(&files[named])) {
            ++named;
        } else {
            failed = named;
        }
    }
    if (failed != count) {
        undo_named(files, named);
        for (size_t i = 0; i < count; ++i) {
            if (!files[i].backup_path.empty()) unlink(files[i].backup_path.c_str());
            if (!keep) forget_temporary(files[i].backup_path);
            files[i].backup_path.clear();
        }
        abandon_files(files, count);
    } else {
        for (size_t i = 0; i < count; ++i) {
            if (!keep && !files[i].backup_path.empty()) {
                unlink(files[i].backup_path.c_str());
                forget_temporary(files[i].backup_path);
                files[i].backup_path.clear();
            }
            close_staged(&files[i]);
            if (i == 0 || folder_of(files[i].target) != folder_of(files[i - 1].target)) {
                sync_folder(files[i].target);
            }
        }
    }
    release_signals(&previous);
    if (failed_index != nullptr) *failed_index = failed;
    return failed == count;
}

void abandon_files(StagedFile* files, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (files[i].fd >= 0) close(files[i].fd);  // an unnamed file vanishes with its last fd
        files[i].fd = -1;
        remove_temporary(&files[i]);
    }
}

WriteResult replace_file(const char* path, const uint8_t* data, size_t size, unsigned mode,
                         FileMode mode_policy, void (*on_open)(const char* path)) {
    struct stat existing;
    if (stat(path, &existing) == 0 && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) return WriteResult::kCannotOpen;
        return write_in_place(path, data, size, on_open);
    }
    StagedFile file;
    const WriteResult staged = stage_file(&file, path, data, size, mode, mode_policy);
    if (staged == WriteResult::kCannotOpen) return staged;
    if (on_open != nullptr) on_open(path);
    if (staged != WriteResult::kWritten) return staged;
    return commit_files(&file, 1, nullptr, nullptr) ? WriteResult::kWritten
                                                    : WriteResult::kWriteFailed;
}

WriteResult stage_move_aside(StagedFile* file, const char* path) {
    *file = StagedFile();
    file->target = path;
    file->move_aside = true;
    file->existed = true;
    struct stat existing;
    if (stat(path, &existing) != 0) {
        file->error = errno;
        return WriteResult::kCannotOpen;
    }
    if (S_ISDIR(existing.st_mode)) {
        file->error = EISDIR;
        return WriteResult::kCannotOpen;
    }
    if (!S_ISREG(existing.st_mode)) {
        refuse_special(file, existing.st_mode);
        return WriteResult::kCannotOpen;
    }
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) file->target = resolved;
    return WriteResult::kWritten;
}

namespace {

// Puts the journal of entries in folder whole: written and flushed with no name, named, and the
// name flushed. Returns 0 or errno.
int put_journal(const std::string& folder, const std::vector<JournalEntry>& entries) {
    std::string bytes;
    // A set whose files are not all in its folder (a key file that links elsewhere) has no
    // journal that could name them.
    if (!format_set_journal(folder, entries, &bytes)) return EXDEV;
    StagedFile journal;
    if (stage_file(&journal, set_journal_path(folder).c_str(),
                   reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0600,
                   FileMode::kExact) != WriteResult::kWritten) {
        return journal.error != 0 ? journal.error : EIO;
    }
    if (journal.existed || !name_file(&journal)) {
        abandon_files(&journal, 1);
        return journal.existed ? EEXIST : journal.error;
    }
    close_staged(&journal);
    const int error = flush_folder(folder);
    if (error != 0) unlink(set_journal_path(folder).c_str());
    return error;
}

// Takes one step of a journaled set: the new file over its target, or the old file's name away.
bool take_step(StagedFile* file) {
    if (file->move_aside) {
        if (unlink(file->target.c_str()) == 0) return true;
    } else if (may_replace(file) && rename(file->temp_path.c_str(), file->target.c_str()) == 0) {
        return true;
    }
    if (file->error == 0) file->error = errno;
    return false;
}

}  // namespace

bool commit_file_set(const char* folder, StagedFile* files, size_t count, const char* backup_suffix,
                     size_t* failed_index) {
    sigset_t previous;
    hold_signals(&previous);
    size_t failed = count;
    // Every new file gets a name first, so that the journal can say where each one is.
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!files[i].move_aside && files[i].temp_path.empty() && !name_temporary(&files[i])) {
            failed = i;
        }
    }
    std::vector<JournalEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        entries.push_back({files[i].target, files[i].temp_path,
                           files[i].existed ? files[i].target + backup_suffix : std::string()});
    }
    if (failed == count) {
        const int error = put_journal(folder, entries);
        if (error != 0) {
            files[0].error = error;
            failed = 0;
        }
    }
    const bool journaled = failed == count;
    // The backups are second names of the old files: no instant passes with a target nameless.
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!files[i].existed) continue;
        if (link(files[i].target.c_str(), entries[i].backup.c_str()) == 0) {
            files[i].backup_path = entries[i].backup;
        } else {
            files[i].error = errno;
            failed = i;
        }
    }
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!take_step(&files[i])) failed = i;
    }
    if (journaled && failed != count) {
        // Undoing is recorded before it starts, so that a run killed while it undoes is undone
        // on by the next one, never taken for a set put in place.
        const std::string journal = set_journal_path(folder), undo = set_undo_path(folder);
        const bool marked = rename(journal.c_str(), undo.c_str()) == 0;
        if (marked) flush_folder(folder);
        std::string not_back;
        const int error = undo_set_steps(entries, &not_back);
        if (error != 0) {
            // The journal stays: the next run in the folder tries again.
            fprintf(stderr, "cannot put back the old '%s': %s\n", not_back.c_str(),
                    strerror(error));
        } else {
            unlink((marked ? undo : journal).c_str());
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (failed != count) {
            files[i].backup_path.clear();
            if (files[i].fd >= 0) close(files[i].fd);
            files[i].fd = -1;
        } else {
            close_staged(&files[i]);
        }
        forget_temporary(files[i].temp_path);
        files[i].temp_path.clear();
    }
    if (journaled) {
        for (size_t i = 0; i < count; ++i) {
            if (i == 0 || folder_of(files[i].target) != folder_of(files[i - 1].target)) {
                sync_folder(files[i].target);
            }
        }
        if (failed == count) unlink(set_journal_path(folder).c_str());
        flush_folder(folder);
    } else {
        for (size_t i = 0; i < count; ++i) unlink(entries[i].temp.c_str());
    }
    release_signals(&previous);
    if (failed_index != nullptr) *failed_index = failed;
    return failed == count;
}
