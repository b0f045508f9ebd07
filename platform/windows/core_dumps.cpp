// SPDX-License-Identifier: Apache-2.0
#include "platform/core_dumps.hpp"

#include <windows.h>
// windows.h first: werapi.h takes its types from it.
#include <werapi.h>

#include <cerrno>

bool forbid_core_dumps() {
    // No crash dialog, and a crash report without the heap, where the keys live: Windows'
    // reporting has no switch for the process to take no dump at all.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (FAILED(WerSetFlags(WER_FAULT_REPORTING_FLAG_NOHEAP))) {
        errno = EPERM;
        return false;
    }
    return true;
}
