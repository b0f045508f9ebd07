// SPDX-License-Identifier: Apache-2.0
// Clearing the stack below the caller, where finished calls leave their locals.
#pragma once

// Zeroes 16 KiB of stack below the caller's frame: the line buffer the dependency's key reader
// does not wipe, and the temporaries and spilled registers of the arithmetic on a key.
void wipe_stack_below();
