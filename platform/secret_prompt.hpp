// SPDX-License-Identifier: Apache-2.0
// Asking the person at the terminal for a secret (a PIN, a passphrase) without showing it.
#pragma once

#include <cstddef>

// Prints prompt on the terminal and reads one line into secret (size bytes, at most size - 1
// kept, NUL-terminated) with echo off, through no buffer but secret; the line end is dropped.
// Returns its length; -1 when standard input is not a terminal (a run from a script fails at
// once rather than waiting for someone to type) or nothing could be read.
int ask_secret_on_terminal(const char* prompt, char* secret, size_t size);
