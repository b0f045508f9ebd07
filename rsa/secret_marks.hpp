// SPDX-License-Identifier: Apache-2.0
// Marks for the checks of the arithmetic on secrets. A constant-flow check build
// (BOOTSEAL_CONSTANT_FLOW_CHECK) tells valgrind's memcheck which bytes are secret, so that every
// branch and every address that depends on them is reported; a fault check build
// (BOOTSEAL_FAULT_POINTS) lets a test corrupt each intermediate value of the private-key
// operation in turn. In the tools both are empty.
#pragma once

#include <cstddef>

#if defined(BOOTSEAL_CONSTANT_FLOW_CHECK)
#include <valgrind/memcheck.h>
#endif

// From here on nothing may be decided by the size bytes at data.
inline void mark_secret(const void* data, size_t size) {
#if defined(BOOTSEAL_CONSTANT_FLOW_CHECK)
    VALGRIND_MAKE_MEM_UNDEFINED(data, size);
#else
    (void)data;
    (void)size;
#endif
}

// The size bytes at data are public from here on: a verdict that only a broken key or a fault
// can change, a value that a random factor hides, or a result that has passed its check.
inline void mark_public(const void* data, size_t size) {
#if defined(BOOTSEAL_CONSTANT_FLOW_CHECK)
    VALGRIND_MAKE_MEM_DEFINED(data, size);
#else
    (void)data;
    (void)size;
#endif
}

// Whether a mask made from secrets, all ones or zero, is set; the answer is public from here on,
// for what decides it is only a broken key or a fault of the machine.
template <typename Mask>
bool mask_holds(Mask mask) {
    mark_public(&mask, sizeof(mask));
    return mask != 0;
}

#if defined(BOOTSEAL_FAULT_POINTS) && !defined(BOOTSEAL_TEST_PROGRAM)
#error "BOOTSEAL_FAULT_POINTS lets a caller corrupt the private-key operation: only a test program (BOOTSEAL_TEST_PROGRAM) may have it"
#endif

#if defined(BOOTSEAL_FAULT_POINTS)
// Called with each intermediate value of the private-key operation; a test may corrupt it.
extern void (*rsa_fault_point)(void* data, size_t size);
#define FAULT_POINT(data, size) (rsa_fault_point ? rsa_fault_point((data), (size)) : (void)0)
#else
#define FAULT_POINT(data, size) ((void)0)
#endif
