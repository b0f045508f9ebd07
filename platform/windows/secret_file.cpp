// SPDX-License-Identifier: Apache-2.0
#include "platform/secret_file.hpp"

#include <windows.h>

#include "platform/windows/windows_text.hpp"

int read_secret_file(const char* path, unsigned char* buffer, size_t capacity, size_t* size) {
    *size = 0;
    const HANDLE file =
        CreateFileW(wide_text(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_errno_from_windows(GetLastError());
        return kSecretFileMissing;
    }
    int result = 0;
    while (*size < capacity) {
        const size_t want = capacity - *size;
        DWORD got = 0;
        if (!ReadFile(file, buffer + *size, want > 0x100000 ? 0x100000u : static_cast<DWORD>(want),
                      &got, nullptr)) {
            // A pipe whose writer closed it has ended, as a file does.
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            set_errno_from_windows(GetLastError());
            result = kSecretFileReadError;
            break;
        }
        if (got == 0) break;
        *size += got;
    }
    CloseHandle(file);
    return result;
}
