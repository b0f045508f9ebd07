// SPDX-License-Identifier: Apache-2.0
#include "platform/core_dumps.hpp"

#include <windows.h>

#include <cerrno>

// Windows' error reporting, from kernel32 (MinGW's werapi.h does not stand on its own).
extern "C" __declspec(dllimport) HRESULT WINAPI WerSetFlags(DWORD flags);
constexpr DWORD kReportWithoutHeap = 1;  // WER_FAULT_REPORTING_FLAG_NOHEAP

bool forbid_core_dumps() {
    // No crash dialog, and a crash report without the heap, where the keys live: Windows'
    // reporting has no switch for the process to take no dump at all.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (FAILED(WerSetFlags(kReportWithoutHeap))) {
        errno = EPERM;
        return false;
    }
    return true;
}
