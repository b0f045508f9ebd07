// SPDX-License-Identifier: Apache-2.0
// Sequences of multi-precision calls: each returns 0 or a negative code, and the first failure
// ends the sequence at the function's "done" label with the code kept in "result".
#pragma once

#define MPI_TRY(call)                 \
    do {                              \
        if ((result = (call)) != 0) { \
            goto done;                \
        }                             \
    } while (0)
