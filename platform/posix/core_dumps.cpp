// SPDX-License-Identifier: Apache-2.0
#include "platform/core_dumps.hpp"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>

bool forbid_core_dumps() {
    int error = 0;
    // Not dumpable: no core file whatever the limit or the core pattern (a pipe to a collector
    // included), and /proc/PID/mem closed to the user's other processes.
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) error = errno;
    // And a zero limit, which a later step cannot raise again.
    const rlimit none = {0, 0};
    if (setrlimit(RLIMIT_CORE, &none) != 0 && error == 0) error = errno;
    errno = error;
    return error == 0;
}
