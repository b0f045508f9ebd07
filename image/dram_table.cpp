// SPDX-License-Identifier: Apache-2.0
#include "image/dram_table.hpp"

#include <cstdint>
#include <cstdio>

#include "image/transcript.hpp"

namespace {

struct Command {
    uint32_t type;
    uint32_t value;  // the command word with its type bits cleared
};

Command split_command(uint32_t word, DramEncoding encoding) {
    if (encoding == DramEncoding::kFourBit) return {(word >> 24) & 0xF, word & 0xF0FFFFFFu};
    return {(word >> 29) & 0x3, word & 0x9FFFFFFFu};
}

const char* const kDriveModes[] = {"Odd/even", "Odd only", "Even only", "Dummy"};
const char* const kDriveLegs[] = {"PLEG", "NLEG"};

// What a type means in the table: whether it is counted and whether a data word follows.
struct TypeRule {
    bool counted;
    bool has_data;
};

TypeRule rule_for(uint32_t type, const ChipProfile& profile) {
    const bool four_bit = profile.encoding == DramEncoding::kFourBit;
    switch (type) {
        case 0:
        case 1:
            return {true, true};
        case 2:
            return {true, false};
        case 3:
            return {true, profile.type3_has_data};
        case 5:
        case 6:
        case 7:
            return {four_bit, four_bit};
        case 4:
        case 8:
        case 9:
        case 10:
            return {four_bit, false};
        default:
            return {false, false};
    }
}

void describe_command(const Command& command) {
    const unsigned long value = command.value;
    switch (command.type) {
        case 8:
            say("Load efuse halfword 0x%lx\r\n", value & 0x1F);
            break;
        case 9:
            say("Compensate driving: %s, %s, range 0x%lx, base 0x%lx\r\n",
                   kDriveModes[(value >> 30) & 0x3], kDriveLegs[(value >> 29) & 0x1],
                   (value >> 8) & 0xFF, value & 0xFF);
            break;
        case 10:
            say("Duty average is %s\r\n", (value & 1) ? "ENABLED" : "DISABLED");
            break;
        default:
            break;
    }
}

// A word of image; bytes past its end read as zero and count as intact, as the boot ROM's
// walk off the end stops there.
uint32_t word_at(const uint8_t* image, const uint8_t* intact, size_t pos, bool* readable) {
    uint32_t word = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (pos + i >= kImageSize) break;
        if (intact != nullptr && intact[pos + i] == 0) *readable = false;
        word |= static_cast<uint32_t>(image[pos + i]) << (8 * i);
    }
    return word;
}

DramWalk walk(const uint8_t* image, const uint8_t* intact, size_t table_pos,
              const ChipProfile& profile, bool describe) {
    DramWalk result = {0, true, 0};
    size_t pos = table_pos;
    for (;;) {
        bool readable = true;
        const Command command =
            split_command(word_at(image, intact, pos, &readable), profile.encoding);
        if (!readable) return {result.count, false, pos};
        if (command.type == 0 && command.value == 0) return result;
        const TypeRule rule = rule_for(command.type, profile);
        if (rule.counted) ++result.count;
        if (describe) describe_command(command);  // only the four-bit encoding has types 8 to 10
        pos += rule.has_data ? 8 : 4;
        if (pos > kImageSize) pos = kImageSize;
    }
}

}  // namespace

int count_dram_params(size_t table_pos, const ChipProfile& profile) {
    return walk(ImageBuffer, nullptr, table_pos, profile, true).count;
}

int count_dram_params_quietly(size_t table_pos, const ChipProfile& profile) {
    return walk(ImageBuffer, nullptr, table_pos, profile, false).count;
}

DramWalk walk_dram_table_within(const uint8_t* image, const uint8_t* intact, size_t table_pos,
                                const ChipProfile& profile) {
    return walk(image, intact, table_pos, profile, false);
}

int stored_dram_param_count(size_t pos) { return read_u16_le(pos) & 0xFFF; }

void store_dram_param_count(size_t pos, int count) {
    if (pos + 2 > kImageSize) return;
    ImageBuffer[pos] = static_cast<uint8_t>(count & 0xFF);
    ImageBuffer[pos + 1] =
        static_cast<uint8_t>((ImageBuffer[pos + 1] & 0xF0) | ((count >> 8) & 0x0F));
}
