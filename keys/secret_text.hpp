// SPDX-License-Identifier: Apache-2.0
// Characters of a secret key file, read without a branch or a table index on their values: the
// digit a hexadecimal or base64 character stands for is computed from masks, and only a
// character's class (a digit or not, a line end, padding) is made public, the structure of the
// file that the readers need to find its values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rsa/limbs.hpp"
#include "rsa/secret_marks.hpp"

// 1 when a equals b, else 0.
inline uint32_t byte_equal_bit(uint32_t a, uint32_t b) {
    return static_cast<uint32_t>(value_barrier(static_cast<Limb>(((a ^ b) - 1) >> 31)));
}

// 1 when low <= c <= high, else 0 (for byte values).
inline uint32_t byte_in_range_bit(uint32_t c, uint32_t low, uint32_t high) {
    const uint32_t below = (c - low) >> 31;   // c < low: the difference wraps
    const uint32_t above = (high - c) >> 31;  // c > high
    return static_cast<uint32_t>(value_barrier(static_cast<Limb>((below | above) ^ 1)));
}

// The value of a hexadecimal digit (either case), and in *is_digit 1 when c is one, else 0.
inline uint32_t hex_digit_value(unsigned char c, uint32_t* is_digit) {
    const uint32_t decimal = byte_in_range_bit(c, '0', '9');
    const uint32_t lower = static_cast<uint32_t>(c | 0x20);
    const uint32_t letter = byte_in_range_bit(lower, 'a', 'f');
    *is_digit = decimal | letter;
    return ((c - uint32_t{'0'}) & (0 - decimal)) | ((lower - uint32_t{'a'} + 10) & (0 - letter));
}

// The lower-case hexadecimal digit of a value below 16, computed without a table.
inline char hex_digit_char(uint32_t value) {
    const uint32_t letter = (9 - value) >> 31;  // 1 when value > 9
    return static_cast<char>('0' + value + letter * ('a' - '0' - 10));
}

// The 6-bit value of a base64 character, and in *is_digit 1 when c is one, else 0.
inline uint32_t base64_digit_value(unsigned char c, uint32_t* is_digit) {
    const uint32_t upper = byte_in_range_bit(c, 'A', 'Z');
    const uint32_t lower = byte_in_range_bit(c, 'a', 'z');
    const uint32_t decimal = byte_in_range_bit(c, '0', '9');
    const uint32_t plus = byte_equal_bit(c, '+');
    const uint32_t slash = byte_equal_bit(c, '/');
    *is_digit = upper | lower | decimal | plus | slash;
    return ((c - uint32_t{'A'}) & (0 - upper)) | ((c - uint32_t{'a'} + 26) & (0 - lower)) |
           ((c - uint32_t{'0'} + 52) & (0 - decimal)) | (62 & (0 - plus)) | (63 & (0 - slash));
}

// The classes of a character of a key file that the readers may decide by.
enum CharClass : uint32_t {
    kHexDigit = 1,
    kBase64Digit = 2,
    kLineFeed = 4,
    kCarriageReturn = 8,
    kNul = 16,
    kBlank = 32,       // a space or a tab
    kPadding = 64,     // '=', which also parts a text key's name from its value
    kFormSpace = 128,  // a vertical tab or a form feed, which aes.txt's words may be parted by
};

// The classes of c among wanted (a sum of CharClass bits), made public; c itself, and its other
// classes, stay secret. A reader asks only what its format needs: whether a base64 character is
// also a hexadecimal digit, for one, would give away a part of its value.
inline uint32_t public_class(unsigned char c, uint32_t wanted) {
    uint32_t hex = 0, base64 = 0;
    hex_digit_value(c, &hex);
    base64_digit_value(c, &base64);
    uint32_t bits = hex * kHexDigit | base64 * kBase64Digit | byte_equal_bit(c, '\n') * kLineFeed |
                    byte_equal_bit(c, '\r') * kCarriageReturn | byte_equal_bit(c, 0) * kNul |
                    (byte_equal_bit(c, ' ') | byte_equal_bit(c, '\t')) * kBlank |
                    byte_equal_bit(c, '=') * kPadding |
                    (byte_equal_bit(c, '\v') | byte_equal_bit(c, '\f')) * kFormSpace;
    bits &= wanted;
    mark_public(&bits, sizeof(bits));
    return bits;
}

// What the text format's reader may know of a character, and the base64 reader's. A blank or
// an '=' next to a value is where a line's name ends; in a value that is read right there is none.
constexpr uint32_t kTextClasses =
    kHexDigit | kLineFeed | kCarriageReturn | kNul | kBlank | kPadding;
// What aes.txt's reader may know: where its words end (isspace's characters).
constexpr uint32_t kSpaceClasses = kBlank | kLineFeed | kCarriageReturn | kFormSpace;
constexpr uint32_t kBase64Classes = kBase64Digit | kPadding | kLineFeed | kCarriageReturn | kBlank;

// Whether the size bytes at data are the text of literal, compared in full; only the verdict is
// made public (an armour line is structure, the bytes of any other line stay secret).
inline bool public_match(const unsigned char* data, size_t size, const char* literal) {
    uint32_t differ = 0;
    for (size_t i = 0; i < size; ++i)
        differ |= static_cast<uint32_t>(data[i] ^ uint8_t(literal[i]));
    uint32_t equal = byte_equal_bit(differ, 0);
    mark_public(&equal, sizeof(equal));
    return equal != 0;
}
