// SPDX-License-Identifier: Apache-2.0
// The SHA-256 compression function on the processor's own SHA-256 instructions (the x86-64 SHA
// extensions, the ARMv8 SHA-2 instructions), where it has them.
#pragma once

#include <cstdint>

// Whether this processor can run sha256_compress_hardware.
bool sha256_hardware_available();

// One compression of a 64-byte block into state (H0..H7), as the portable one computes it.
// Only to be called when sha256_hardware_available() is true.
void sha256_compress_hardware(uint32_t state[8], const uint8_t block[64]);
