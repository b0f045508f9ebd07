// SPDX-License-Identifier: Apache-2.0
#include "image/report_text.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

bool parse_decimal(const char* text, int* value) {
    errno = 0;
    char* end = nullptr;
    const long number = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string hex_bytes(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}
