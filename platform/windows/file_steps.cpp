// SPDX-License-Identifier: Apache-2.0
#include "platform/file_steps.hpp"

#include <windows.h>

#include <cerrno>

#include "platform/windows/windows_text.hpp"

namespace {

int last_error() { return set_errno_from_windows(GetLastError()); }

// The volume and index of the file path names, a last link not followed. False when it cannot
// be looked at.
bool identity_of(const std::string& path, DWORD* volume, ULONGLONG* index) {
    const HANDLE handle = CreateFileW(
        wide_text(path.c_str()).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (!known) return false;
    *volume = information.dwVolumeSerialNumber;
    *index = static_cast<ULONGLONG>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return true;
}

}  // namespace

bool name_exists(const std::string& path) {
    return GetFileAttributesW(wide_text(path.c_str()).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool same_named_file(const std::string& a, const std::string& b) {
    DWORD volume_a = 0, volume_b = 0;
    ULONGLONG index_a = 0, index_b = 0;
    return identity_of(a, &volume_a, &index_a) && identity_of(b, &volume_b, &index_b) &&
           volume_a == volume_b && index_a == index_b;
}

bool names_plain_file(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide_text(path.c_str()).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

int rename_name(const std::string& from, const std::string& to) {
    return MoveFileExW(wide_text(from.c_str()).c_str(), wide_text(to.c_str()).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : last_error();
}

int remove_name(const std::string& path) {
    return DeleteFileW(wide_text(path.c_str()).c_str()) ? 0 : last_error();
}

int link_name(const std::string& existing, const std::string& name) {
    return CreateHardLinkW(wide_text(name.c_str()).c_str(), wide_text(existing.c_str()).c_str(),
                           nullptr)
               ? 0
               : last_error();
}

int flush_folder(const std::string&) {
    // Windows has no flush of a folder's names: each move is made with MOVEFILE_WRITE_THROUGH,
    // which returns once the move is on disk.
    return 0;
}

bool read_small_file(const std::string& path, std::string* bytes) {
    const HANDLE handle =
        CreateFileW(wide_text(path.c_str()).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(handle, buffer, sizeof(buffer), &got, nullptr) != 0) && got > 0) {
        bytes->append(buffer, got);
    }
    CloseHandle(handle);
    return ok;
}

std::vector<std::string> folder_entry_names(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(wide_text((dir + "\\*").c_str()).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(utf8_text(entry.cFileName));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

bool process_runs(long pid) {
    if (pid <= 0 || pid > 0x7fffffffL) return false;
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // another user's
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}
