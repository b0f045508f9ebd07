// SPDX-License-Identifier: Apache-2.0
// The 16-bit checksum the boot ROM verifies over the header's image and a secure payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_layout.hpp"

// Returns the 32-bit sum of the halfwords of data[0..length) plus each halfword's index.
uint32_t image_checksum_sum(const uint8_t* data, size_t length);

// Sums the halfwords of data[0..length) plus each halfword's index, prints the raw 32-bit sum and
// returns the value that brings the 16-bit sum to zero when stored in a field that was zero.
uint16_t image_checksum(const uint8_t* data, size_t length);

// Checksums the whole image, whose header checksum field the caller has zeroed, prints the
// result and stores it in that field.
void store_header_checksum(const HeaderLayout& layout);
