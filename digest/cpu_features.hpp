// SPDX-License-Identifier: Apache-2.0
// The x86-64 processor's features as the C library found them at start-up, where it tells
// (glibc 2.33 and later: CPU_FEATURE_ACTIVE, which also asks whether the operating system saves
// the registers); else cpuid.h for asking the processor directly.
#pragma once

#if defined(__x86_64__)
#if __has_include(<sys/platform/x86.h>)
// glibc 2.36's header writes C's _Bool, which clang does not accept in C++: it means bool.
#if defined(__clang__) && !defined(_Bool)
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#define BOOTSEAL_HAVE_CPU_FEATURE_ACTIVE 1
#else
#include <cpuid.h>
#endif
#endif
