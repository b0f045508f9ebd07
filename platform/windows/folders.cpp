// SPDX-License-Identifier: Apache-2.0
#include "platform/folders.hpp"

#include <windows.h>

#include <cerrno>
#include <string>

#include "platform/windows/owner_only.hpp"
#include "platform/windows/windows_text.hpp"

int make_folder(const char* path, unsigned mode) {
    // Windows has no mode bits: a folder the caller would keep to its owner (0700) gets an
    // access list that grants its owner alone, as key files do.
    OwnerOnlyAccess access;
    const bool owner_only = (mode & 077) == 0;
    if (owner_only && !make_owner_only_access(&access)) return errno;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), owner_only ? access.descriptor : nullptr,
                                      FALSE};
    const BOOL made = CreateDirectoryW(wide_text(path).c_str(), &attributes);
    const DWORD error = made ? 0 : GetLastError();
    free_owner_only_access(&access);
    return made ? 0 : set_errno_from_windows(error);
}

bool remove_empty_folder(const char* path) {
    return RemoveDirectoryW(wide_text(path).c_str()) != 0;
}

bool can_write_into(const char* dir) {
    const std::string probe =
        std::string(dir) + "\\.bootseal-probe-" + std::to_string(GetCurrentProcessId());
    const HANDLE file =
        CreateFileW(wide_text(probe.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_errno_from_windows(GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}
