// SPDX-License-Identifier: Apache-2.0
// The header's table of DRAM configuration commands: walked, described and counted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_layout.hpp"

// Walks the command table at image offset table_pos with the profile's encoding, printing the
// commands it can describe; returns the number of counted entries. Reads nothing past the image.
int count_dram_params(size_t table_pos, const ChipProfile& profile);

// The same walk without printing anything.
int count_dram_params_quietly(size_t table_pos, const ChipProfile& profile);

// How far a walk over an image that sealing partly overwrote could go.
struct DramWalk {
    int count;          // the entries counted
    bool complete;      // the walk ended on a zero word without reading an overwritten byte
    size_t stopped_at;  // when not complete, the offset of the command word it could not read
};

// The same walk over image (kImageSize bytes), reading only bytes whose intact entry is non-zero:
// it stops at the first command word with a byte that no longer holds what the walk would have
// read. Data words are stepped over unread, so they may have been overwritten.
DramWalk walk_dram_table_within(const uint8_t* image, const uint8_t* intact, size_t table_pos,
                                const ChipProfile& profile);

// Returns the 12-bit count stored at image offset pos.
int stored_dram_param_count(size_t pos);

// Stores the low 12 bits of count at image offset pos: the low byte, then the low nibble of the
// next byte, whose high nibble is kept.
void store_dram_param_count(size_t pos, int count);
