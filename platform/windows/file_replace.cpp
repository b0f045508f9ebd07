// SPDX-License-Identifier: Apache-2.0
// Windows has no unnamed files: each file is written under a temporary name beside its target,
// flushed with FlushFileBuffers and moved over the target with MoveFileExW (write-through).
// Ctrl-C, Ctrl-Break or the console's closing while a temporary exists removes it.
#include "platform/file_replace.hpp"

#include <windows.h>
// windows.h first: aclapi.h takes its types from it.
#include <aclapi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file_steps.hpp"
#include "platform/set_journal.hpp"
#include "platform/windows/owner_only.hpp"
#include "platform/windows/windows_text.hpp"

namespace {

constexpr size_t kMaxTemporaries = 8;
SRWLOCK temporaries_lock = SRWLOCK_INIT;  // the console handler runs on a thread of its own

std::wstring temporary_names[kMaxTemporaries];
bool cleanup_installed = false;
bool naming_set = false;  // a set is being named: a stop waits until it is whole

BOOL WINAPI remove_temporaries(DWORD) {
    AcquireSRWLockExclusive(&temporaries_lock);
    const bool naming = naming_set;
    for (size_t i = 0; !naming && i < kMaxTemporaries; ++i) {
        if (!temporary_names[i].empty()) DeleteFileW(temporary_names[i].c_str());
        temporary_names[i].clear();
    }
    ReleaseSRWLockExclusive(&temporaries_lock);
    // While a set is named it is named whole, and the run looks at the stop after; otherwise
    // the run ends as it would have.
    return naming ? TRUE : FALSE;
}

bool register_temporary(const std::wstring& name) {
    AcquireSRWLockExclusive(&temporaries_lock);
    if (!cleanup_installed) cleanup_installed = SetConsoleCtrlHandler(remove_temporaries, TRUE);
    bool registered = false;
    for (size_t i = 0; !registered && i < kMaxTemporaries; ++i) {
        if (!temporary_names[i].empty()) continue;
        temporary_names[i] = name;
        registered = true;
    }
    ReleaseSRWLockExclusive(&temporaries_lock);
    return registered;
}

void forget_temporary(const std::wstring& name) {
    AcquireSRWLockExclusive(&temporaries_lock);
    for (std::wstring& slot : temporary_names) {
        if (slot == name) slot.clear();
    }
    ReleaseSRWLockExclusive(&temporaries_lock);
}

void set_naming(bool naming) {
    AcquireSRWLockExclusive(&temporaries_lock);
    naming_set = naming;
    ReleaseSRWLockExclusive(&temporaries_lock);
}

void remove_temporary(StagedFile* file) {
    if (file->temp_path.empty()) return;
    const std::wstring name = wide_text(file->temp_path.c_str());
    DeleteFileW(name.c_str());
    forget_temporary(name);
    file->temp_path.clear();
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string temporary_name(const std::string& target, int attempt) {
    return folder_of(target) + ".bootseal." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(attempt) + ".tmp";
}

int fail_with_windows_error(StagedFile* file) {
    file->error = set_errno_from_windows(GetLastError());
    return file->error;
}

// The access list of the file at path, put on the handle: a replaced file keeps who may use it.
void copy_access(const std::string& path, HANDLE to) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring wide_path = wide_text(path.c_str());
    if (GetNamedSecurityInfoW(&wide_path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    SetSecurityInfo(to, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
}

// Creates a fresh temporary beside the target, registered for removal before it exists.
HANDLE create_temporary(StagedFile* file, unsigned mode) {
    OwnerOnlyAccess access;
    const bool owner_only = (mode & 077) == 0;
    if (owner_only && !make_owner_only_access(&access)) {
        file->error = errno;
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), owner_only ? access.descriptor : nullptr,
                                      FALSE};
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        const std::string name = temporary_name(file->target, attempt);
        const std::wstring wide = wide_text(name.c_str());
        if (!register_temporary(wide)) {
            file->error = EMFILE;
            break;
        }
        handle = CreateFileW(wide.c_str(), GENERIC_WRITE | WRITE_DAC | READ_CONTROL, 0, &attributes,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file->temp_path = name;
        } else {
            const DWORD error = GetLastError();
            forget_temporary(wide);
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                file->error = set_errno_from_windows(error);
                break;
            }
        }
    }
    free_owner_only_access(&access);
    return handle;
}

bool write_all(HANDLE handle, const uint8_t* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x100000 ? 0x100000u : static_cast<DWORD>(size);
        if (!WriteFile(handle, data, chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool move_over(const std::string& from, const std::string& to) {
    return MoveFileExW(wide_text(from.c_str()).c_str(), wide_text(to.c_str()).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Puts back the old files of the first done targets, in reverse order.
bool undo_named(StagedFile* files, size_t done) {
    bool whole = true;
    for (size_t i = done; i-- > 0;) {
        StagedFile* file = &files[i];
        bool ok = false;
        if (!file->existed) {
            ok = DeleteFileW(wide_text(file->target.c_str()).c_str()) != 0;
        } else if (!file->backup_path.empty()) {
            ok = move_over(file->backup_path, file->target);
            if (ok) file->backup_path.clear();
        }
        if (!ok) {
            set_errno_from_windows(GetLastError());
            fprintf(stderr, "cannot put back the old '%s': %s\n", file->target.c_str(),
                    strerror(errno));
            whole = false;
        }
    }
    return whole;
}

// Devices (NUL, a COM port) are written in place, as a plain open for writing would.
WriteResult write_in_place(const char* path, const uint8_t* data, size_t size,
                           void (*on_open)(const char*)) {
    const HANDLE handle = CreateFileW(wide_text(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return WriteResult::kCannotOpen;
    if (on_open != nullptr) on_open(path);
    const bool written = write_all(handle, data, size);
    const bool closed = CloseHandle(handle) != 0;
    return written && closed ? WriteResult::kWritten : WriteResult::kWriteFailed;
}

// What stands at path: 0 nothing, 1 a file, 2 a folder, 3 something else (a device).
int what_stands_at(const char* path) {
    const DWORD attributes = GetFileAttributesW(wide_text(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 2;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return 3;
    const HANDLE handle =
        CreateFileW(wide_text(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 1;
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_DISK ? 1 : 3;
}

}  // namespace

WriteResult stage_file(StagedFile* file, const char* path, const uint8_t* data, size_t size,
                       unsigned mode, FileMode mode_policy) {
    *file = StagedFile();
    file->target = path;
    const int standing = what_stands_at(path);
    if (standing == 2) {
        file->error = EISDIR;
        return WriteResult::kCannotOpen;
    }
    if (standing == 3) {
        file->error = EEXIST;
        file->refused_kind = "a device";
        return WriteResult::kCannotOpen;
    }
    if (standing == 1) {
        file->existed = true;
        // A file the user may not write is refused, as a plain open would refuse it.
        const HANDLE probe = CreateFileW(wide_text(path).c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            fail_with_windows_error(file);
            return WriteResult::kCannotOpen;
        }
        CloseHandle(probe);
    }
    const HANDLE handle = create_temporary(file, mode);
    if (handle == INVALID_HANDLE_VALUE) {
        if (file->error == 0) file->error = EIO;
        return WriteResult::kCannotOpen;
    }
    if (file->existed && mode_policy == FileMode::kLikeOpen) copy_access(file->target, handle);
    bool ok = write_all(handle, data, size) && FlushFileBuffers(handle);
    if (!ok) fail_with_windows_error(file);
    if (!CloseHandle(handle) && ok) {
        fail_with_windows_error(file);
        ok = false;
    }
    if (!ok) {
        remove_temporary(file);
        return WriteResult::kWriteFailed;
    }
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
    set_naming(true);
    size_t failed = count;
    const bool keep = backup_suffix != nullptr;
    // In a set, a replaced file can come back after a later failure only from a backup: a
    // second name for the same file (a hard link), so the target is never without one.
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!files[i].existed || (!keep && count == 1)) continue;
        std::string backup = keep ? files[i].target + backup_suffix : std::string();
        for (int attempt = 0; !keep && backup.empty() && attempt < 100; ++attempt) {
            const std::string name = temporary_name(files[i].target, 100 + attempt);
            if (register_temporary(wide_text(name.c_str())) &&
                CreateHardLinkW(wide_text(name.c_str()).c_str(),
                                wide_text(files[i].target.c_str()).c_str(), nullptr)) {
                backup = name;
            } else {
                forget_temporary(wide_text(name.c_str()));
                if (GetLastError() != ERROR_ALREADY_EXISTS) break;
            }
        }
        if (!backup.empty() &&
            (!keep || CreateHardLinkW(wide_text(backup.c_str()).c_str(),
                                      wide_text(files[i].target.c_str()).c_str(), nullptr))) {
            files[i].backup_path = backup;
        } else {
            fail_with_windows_error(&files[i]);
            failed = i;
        }
    }
    size_t named = 0;
    while (failed == count && named < count) {
        StagedFile* file = &files[named];
        if (move_over(file->temp_path, file->target)) {
            forget_temporary(wide_text(file->temp_path.c_str()));
            file->temp_path.clear();
            ++named;
        } else {
            fail_with_windows_error(file);
            failed = named;
        }
    }
    if (failed != count) {
        undo_named(files, named);
        for (size_t i = 0; i < count; ++i) {
            if (!files[i].backup_path.empty()) {
                DeleteFileW(wide_text(files[i].backup_path.c_str()).c_str());
                forget_temporary(wide_text(files[i].backup_path.c_str()));
            }
            files[i].backup_path.clear();
        }
        abandon_files(files, count);
    } else if (!keep) {
        for (size_t i = 0; i < count; ++i) {
            if (files[i].backup_path.empty()) continue;
            DeleteFileW(wide_text(files[i].backup_path.c_str()).c_str());
            forget_temporary(wide_text(files[i].backup_path.c_str()));
            files[i].backup_path.clear();
        }
    }
    set_naming(false);
    if (failed_index != nullptr) *failed_index = failed;
    return failed == count;
}

void abandon_files(StagedFile* files, size_t count) {
    for (size_t i = 0; i < count; ++i) remove_temporary(&files[i]);
}

WriteResult replace_file(const char* path, const uint8_t* data, size_t size, unsigned mode,
                         FileMode mode_policy, void (*on_open)(const char* path)) {
    const int standing = what_stands_at(path);
    if (standing == 2) return WriteResult::kCannotOpen;
    if (standing == 3) return write_in_place(path, data, size, on_open);
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
    const int standing = what_stands_at(path);
    if (standing == 0) {
        file->error = ENOENT;
        return WriteResult::kCannotOpen;
    }
    if (standing == 2) {
        file->error = EISDIR;
        return WriteResult::kCannotOpen;
    }
    if (standing == 3) {
        file->error = EEXIST;
        file->refused_kind = "a device";
        return WriteResult::kCannotOpen;
    }
    return WriteResult::kWritten;
}

namespace {

// Puts the journal of entries in folder whole: written and flushed under a temporary name, then
// moved to its own name, which must be free. Returns 0 or errno.
int put_journal(const std::string& folder, const std::vector<JournalEntry>& entries) {
    std::string bytes;
    // A set whose files are not all in its folder (a key file that links elsewhere) has no
    // journal that could name them.
    if (!format_set_journal(folder, entries, &bytes)) return EXDEV;
    const std::string path = set_journal_path(folder);
    if (name_exists(path)) return EEXIST;
    StagedFile journal;
    if (stage_file(&journal, path.c_str(), reinterpret_cast<const uint8_t*>(bytes.data()),
                   bytes.size(), 0600, FileMode::kExact) != WriteResult::kWritten) {
        return journal.error != 0 ? journal.error : EIO;
    }
    if (!MoveFileExW(wide_text(journal.temp_path.c_str()).c_str(), wide_text(path.c_str()).c_str(),
                     MOVEFILE_WRITE_THROUGH)) {
        const int error = fail_with_windows_error(&journal);
        abandon_files(&journal, 1);
        return error;
    }
    forget_temporary(wide_text(journal.temp_path.c_str()));
    return 0;
}

// Takes one step of a journaled set: the new file over its target, or the old file's name away.
bool take_step(StagedFile* file) {
    const int error =
        file->move_aside ? remove_name(file->target) : rename_name(file->temp_path, file->target);
    if (error == 0) return true;
    file->error = error;
    return false;
}

}  // namespace

bool commit_file_set(const char* folder, StagedFile* files, size_t count, const char* backup_suffix,
                     size_t* failed_index) {
    set_naming(true);
    size_t failed = count;
    std::vector<JournalEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        entries.push_back({files[i].target, files[i].temp_path,
                           files[i].existed ? files[i].target + backup_suffix : std::string()});
    }
    const int journal_error = put_journal(folder, entries);
    if (journal_error != 0) {
        files[0].error = journal_error;
        failed = 0;
    }
    const bool journaled = failed == count;
    // The backups are second names of the old files: no instant passes with a target nameless.
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!files[i].existed) continue;
        const int error = link_name(files[i].target, entries[i].backup);
        if (error == 0) {
            files[i].backup_path = entries[i].backup;
        } else {
            files[i].error = error;
            failed = i;
        }
    }
    for (size_t i = 0; i < count && failed == count; ++i) {
        if (!take_step(&files[i])) failed = i;
    }
    if (journaled && failed != count) {
        // Undoing is recorded before it starts, so that a run stopped while it undoes is undone
        // on by the next one, never taken for a set put in place.
        const std::string journal = set_journal_path(folder), undo = set_undo_path(folder);
        const bool marked = rename_name(journal, undo) == 0;
        std::string not_back;
        const int error = undo_set_steps(entries, &not_back);
        if (error != 0) {
            // The journal stays: the next run in the folder tries again.
            fprintf(stderr, "cannot put back the old '%s': %s\n", not_back.c_str(),
                    strerror(error));
        } else {
            remove_name(marked ? undo : journal);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (failed != count) files[i].backup_path.clear();
        forget_temporary(wide_text(files[i].temp_path.c_str()));
        if (!journaled || failed != count) remove_name(files[i].temp_path);
        files[i].temp_path.clear();
    }
    if (journaled && failed == count) remove_name(set_journal_path(folder));
    set_naming(false);
    if (failed_index != nullptr) *failed_index = failed;
    return failed == count;
}
