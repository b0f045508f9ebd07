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

namespace {

// The length of the well-formed UTF-8 sequence that starts at text[at], or 0 when the bytes there
// are not one: no overlong form, no surrogate half, nothing above U+10FFFF.
size_t utf8_length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) return 1;
    // The second byte's range depends on the lead; every further byte is 0x80..0xBF.
    unsigned low = 0x80, high = 0xBF;
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // below: an overlong form
        if (lead == 0xED) high = 0x9F;  // above: U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // below: an overlong form
        if (lead == 0xF4) high = 0x8F;  // above: past U+10FFFF
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

void append_escape(std::string* out, unsigned code) {
    char escaped[8];
    snprintf(escaped, sizeof(escaped), "\\u%04x", code);
    *out += escaped;
}

}  // namespace

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const size_t length = utf8_length(text, at);
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        if (length == 0) {
            out += "\\ufffd";  // a byte of no character: a file name in another encoding, say
            ++at;
            continue;
        }
        if (lead == '"' || lead == '\\') {
            out += '\\';
            out += static_cast<char>(lead);
        } else if (lead < 0x20 || lead == 0x7F) {
            append_escape(&out, lead);
        } else if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            append_escape(&out, static_cast<unsigned char>(text[at + 1]));  // U+0080..U+009F
        } else {
            out.append(text, at, length);
        }
        at += length;
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
