// SPDX-License-Identifier: Apache-2.0
#include "platform/secret_prompt.hpp"

#include <windows.h>

#include <cstring>

#include "platform/windows/windows_text.hpp"

namespace {

constexpr DWORD kMaxUnits = 512;

}  // namespace

int ask_secret_on_terminal(const char* prompt, char* secret, size_t size) {
    if (size == 0) return -1;
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    DWORD saved = 0;
    // A run without a console (from a script, a service) fails at once.
    const bool console = input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
                         GetConsoleMode(input, &saved) != 0;
    int length = -1;
    if (console) {
        SetConsoleMode(input, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        const std::wstring wide_prompt = wide_text(prompt);
        DWORD written = 0;
        WriteConsoleW(output, wide_prompt.c_str(), static_cast<DWORD>(wide_prompt.size()), &written,
                      nullptr);
        wchar_t units[kMaxUnits];
        DWORD got = 0;
        if (ReadConsoleW(input, units, kMaxUnits - 1, &got, nullptr) != 0) {
            while (got > 0 && (units[got - 1] == L'\n' || units[got - 1] == L'\r')) --got;
            const int bytes = WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(got), secret,
                                                  static_cast<int>(size - 1), nullptr, nullptr);
            if (bytes >= 0 && (bytes > 0 || got == 0)) {
                secret[bytes] = '\0';
                length = bytes;
            }
        }
        SecureZeroMemory(units, sizeof(units));
        SetConsoleMode(input, saved);
        WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
    }
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    return length;
}
