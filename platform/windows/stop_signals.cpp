// SPDX-License-Identifier: Apache-2.0
// Windows has no signals to block: a console's Ctrl-C, Ctrl-Break and close are events that a
// handler answers. Held, the handler notes the first one and tells Windows it was handled; the
// run looks at it between its steps, as it looks at a pending signal elsewhere.
#include "platform/stop_signals.hpp"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> held_signal{0};

BOOL WINAPI note_stop(DWORD event) {
    int number = SIGTERM;
    if (event == CTRL_C_EVENT) number = SIGINT;
    if (event == CTRL_BREAK_EVENT) number = SIGBREAK;
    int none = 0;
    held_signal.compare_exchange_strong(none, number);
    return TRUE;
}

}  // namespace

void hold_stop_signals() { SetConsoleCtrlHandler(note_stop, TRUE); }

int held_stop_signal() { return held_signal.load(); }

const char* stop_signal_name(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "Ctrl-C";
        case SIGBREAK:
            return "Ctrl-Break";
        case SIGTERM:
            return "the console's closing";
        default:
            return "a signal";
    }
}
