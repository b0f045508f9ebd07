// SPDX-License-Identifier: Apache-2.0
// The Windows side's own helpers: the tools carry text and paths as UTF-8, Windows takes them as
// UTF-16; its errors come as GetLastError codes, the callers read errno.
#pragma once

#include <string>

// The UTF-16 form of UTF-8 text ("" for text that is not UTF-8).
std::wstring wide_text(const char* utf8);

// The UTF-8 form of UTF-16 text.
std::string utf8_text(const wchar_t* wide);

// Sets errno from a GetLastError code (ENOENT, EACCES, EEXIST, ENOSPC, ... or EIO) and returns
// it.
int set_errno_from_windows(unsigned long error);
