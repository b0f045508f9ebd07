// SPDX-License-Identifier: Apache-2.0
#include "image/header_display.hpp"

#include <cstdint>
#include <cstdio>

#include "image/image_layout.hpp"
#include "image/transcript.hpp"

void show_version(size_t tag_pos) {
    const size_t pos = tag_pos + kCountFromTag;
    const uint32_t word = read_u32_le(pos);
    say("VersionNumber: %02X,%02X,%02X,%02X\n", word & 0xFF, (word >> 8) & 0xFF,
           (word >> 16) & 0xFF, (word >> 24) & 0xFF);
}

bool format_key_stamp(size_t stamp_pos, char* text, size_t size) {
    if (check_key_stamp_tag(stamp_pos) != 0) return false;
    const uint32_t time_word = read_u32_le(stamp_pos + 4);
    const uint32_t date_word = read_u32_le(stamp_pos + 8);
    // The date word packs year-2013 in bits 0..2, month in 3..6, day in 7..10, serial in 12..31.
    snprintf(text, size, "%04d-%02d-%02d-%05x-%02d.%02d.%02d",
             static_cast<int>(date_word & 7) + 2013, static_cast<int>((date_word >> 3) & 0xF),
             static_cast<int>((date_word >> 7) & 0xF), date_word >> 12,
             static_cast<int>((time_word >> 16) & 0xFF), static_cast<int>((time_word >> 28) & 0xF),
             static_cast<int>((time_word >> 24) & 0xF));
    return true;
}

void show_key_stamp(size_t stamp_pos) {
    char stamp[64];
    if (!format_key_stamp(stamp_pos, stamp, sizeof(stamp))) return;
    say("=>Secure program key\n");
    say("=>[%s]\n", stamp);
}
