// SPDX-License-Identifier: Apache-2.0
// The signals that ask a run to stop (SIGINT, SIGTERM, SIGHUP), held while the run makes what
// it must not leave half made, and looked at between its steps.
#pragma once

// Blocks the stop signals: from now on they wait until the run asks for them.
void hold_stop_signals();

// The stop signal that arrived while they were held (the lowest-numbered one when several did),
// or 0.
int held_stop_signal();

// The signal's name, such as "SIGTERM".
const char* stop_signal_name(int signal_number);
