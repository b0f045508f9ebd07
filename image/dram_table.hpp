// SPDX-License-Identifier: Apache-2.0
// The header's table of DRAM configuration commands: walked, described and counted.
#pragma once

#include <cstddef>

#include "image/image_layout.hpp"

// Walks the command table at image offset table_pos with the profile's encoding, printing the
// commands it can describe; returns the number of counted entries. Reads nothing past the image.
int count_dram_params(size_t table_pos, const ChipProfile& profile);

// The same walk without printing anything.
int count_dram_params_quietly(size_t table_pos, const ChipProfile& profile);

// Returns the 12-bit count stored at image offset pos.
int stored_dram_param_count(size_t pos);

// Stores the low 12 bits of count at image offset pos: the low byte, then the low nibble of the
// next byte, whose high nibble is kept.
void store_dram_param_count(size_t pos, int count);
