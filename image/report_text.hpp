// SPDX-License-Identifier: Apache-2.0
// Text the front ends share in their reports and command lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Parses a whole decimal int ("12", "-3"); anything else, or a value out of range, is refused.
bool parse_decimal(const char* text, int* value);

// The text as a JSON string literal, quotes included.
std::string json_string(const std::string& text);

// The bytes as lower-case hexadecimal, two digits each.
std::string hex_bytes(const uint8_t* bytes, size_t size);
