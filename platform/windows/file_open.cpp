// SPDX-License-Identifier: Apache-2.0
#include "platform/file_open.hpp"

#include <cerrno>
#include <cwchar>
#include <string>

#include "platform/windows/windows_text.hpp"

FILE* open_file(const char* path, const char* mode) {
    const std::wstring wide_path = wide_text(path);
    const std::wstring wide_mode = wide_text(mode);
    if (wide_path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    return _wfopen(wide_path.c_str(), wide_mode.c_str());
}
