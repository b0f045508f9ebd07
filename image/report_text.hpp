// SPDX-License-Identifier: Apache-2.0
// Text the front ends share in their reports and command lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Parses a whole decimal int ("12", "-3"); anything else, or a value out of range, is refused.
bool parse_decimal(const char* text, int* value);

// The text as a JSON string literal, quotes included, that is valid JSON whatever the bytes:
// well-formed UTF-8 passes through; the quote and the backslash are escaped; the control
// characters U+0000..U+001F, DEL and U+0080..U+009F become \u escapes; and every byte that is not
// part of well-formed UTF-8 (a stray continuation byte, a cut sequence, an overlong form, a
// surrogate half U+D800..U+DFFF, a code point past U+10FFFF) becomes \ufffd, one per byte.
std::string json_string(const std::string& text);

// The bytes as lower-case hexadecimal, two digits each.
std::string hex_bytes(const uint8_t* bytes, size_t size);
