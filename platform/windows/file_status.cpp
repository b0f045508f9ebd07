// SPDX-License-Identifier: Apache-2.0
#include "platform/file_status.hpp"

#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/windows/owner_only.hpp"
#include "platform/windows/windows_text.hpp"

namespace {

// What an open handle is, and its size when it is a file.
PathKind kind_of(HANDLE handle, long long* size) {
    if (GetFileType(handle) != FILE_TYPE_DISK) return PathKind::kOther;  // a console, a pipe
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        set_errno_from_windows(GetLastError());
        return PathKind::kNothing;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
    if (size != nullptr) {
        *size = static_cast<long long>(static_cast<unsigned long long>(information.nFileSizeHigh)
                                           << 32 |
                                       information.nFileSizeLow);
    }
    return PathKind::kRegular;
}

// Opens path for no access, following links. INVALID_HANDLE_VALUE with errno set when it
// cannot.
HANDLE open_for_looking(const char* path) {
    const HANDLE handle = CreateFileW(wide_text(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) set_errno_from_windows(GetLastError());
    return handle;
}

}  // namespace

PathKind path_kind(const char* path) {
    const HANDLE handle = open_for_looking(path);
    if (handle == INVALID_HANDLE_VALUE) return PathKind::kNothing;
    const PathKind kind = kind_of(handle, nullptr);
    CloseHandle(handle);
    return kind;
}

PathKind open_file_kind(FILE* file, long long* size) {
    const intptr_t handle = _get_osfhandle(_fileno(file));
    if (handle == -1) return PathKind::kNothing;
    return kind_of(reinterpret_cast<HANDLE>(handle), size);
}

bool nothing_at(const char* path) {
    // The attributes of a link itself, whether or not it points anywhere.
    if (GetFileAttributesW(wide_text(path).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    return set_errno_from_windows(GetLastError()) == ENOENT;
}

bool may_read(const char* path) {
    const HANDLE handle = CreateFileW(wide_text(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        set_errno_from_windows(GetLastError());
        return false;
    }
    CloseHandle(handle);
    return true;
}

std::string others_may_use(const char* path) {
    const std::string who = others_who_may_read(path);
    return who.empty() ? who : "its access list lets " + who + " read it";
}

std::string others_may_write_into(const char* dir) {
    const std::string who = others_who_may_read(dir, true);
    return who.empty() ? who : "its access list lets " + who + " write into it";
}

const char* owner_only_file_words() { return "a file only its owner may read"; }
