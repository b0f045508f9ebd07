// SPDX-License-Identifier: Apache-2.0
#include "platform/stop_signals.hpp"

#include <csignal>

namespace {

struct StopSignal {
    int number;
    const char* name;
};
const StopSignal kStopSignals[] = {{SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}};

}  // namespace

void hold_stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const StopSignal& stop : kStopSignals) sigaddset(&set, stop.number);
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

int held_stop_signal() {
    sigset_t pending;
    if (sigpending(&pending) != 0) return 0;
    for (const StopSignal& stop : kStopSignals) {
        if (sigismember(&pending, stop.number) == 1) return stop.number;
    }
    return 0;
}

const char* stop_signal_name(int signal_number) {
    for (const StopSignal& stop : kStopSignals) {
        if (stop.number == signal_number) return stop.name;
    }
    return "a signal";
}
