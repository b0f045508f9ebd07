// SPDX-License-Identifier: Apache-2.0
#include "platform/secret_prompt.hpp"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int ask_secret_on_terminal(const char* prompt, char* secret, size_t size) {
    if (size == 0 || !isatty(STDIN_FILENO)) return -1;
    FILE* tty = fopen("/dev/tty", "r+");
    if (tty == nullptr) return -1;
    setvbuf(tty, nullptr, _IONBF, 0);  // no copy of the secret in the C library's buffer
    struct termios saved;
    const int fd = fileno(tty);
    const bool have_terminal = tcgetattr(fd, &saved) == 0;
    if (have_terminal) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSANOW, &quiet);
    }
    fprintf(tty, "%s", prompt);
    fflush(tty);
    const bool got = fgets(secret, static_cast<int>(size), tty) != nullptr;
    if (have_terminal) tcsetattr(fd, TCSANOW, &saved);
    fprintf(tty, "\n");
    fclose(tty);
    if (!got || !have_terminal) return -1;
    size_t length = strlen(secret);
    while (length > 0 && (secret[length - 1] == '\n' || secret[length - 1] == '\r')) {
        secret[--length] = '\0';
    }
    return static_cast<int>(length);
}
