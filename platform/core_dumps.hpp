// SPDX-License-Identifier: Apache-2.0
// Keeping a run's keys out of core files: a tool that is stopped by a signal while a key is in
// its memory must not leave that memory on disk, or to a debugger of the same user.
#pragma once

// Marks the process as one that is never dumped (and that other processes of its user may not
// attach to), and sets its core-file limit to zero, hard and soft, before any secret is read.
// Returns false with errno set when the system refused a step; the other step is still taken.
bool forbid_core_dumps();
