// SPDX-License-Identifier: Apache-2.0
#include "platform/file_identity.hpp"

#include <windows.h>

#include "platform/windows/windows_text.hpp"

FileIdentity file_identity(const char* path) {
    FileIdentity identity;
    // Opened for no access at all, following links; folders need the backup flag.
    const HANDLE file = CreateFileW(wide_text(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_errno_from_windows(GetLastError());
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        identity.known = true;
        identity.volume = information.dwVolumeSerialNumber;
        identity.file =
            static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    } else {
        set_errno_from_windows(GetLastError());
    }
    CloseHandle(file);
    return identity;
}

bool same_file_identity(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.volume == b.volume && a.file == b.file;
}
