// SPDX-License-Identifier: Apache-2.0
// What an image can be, told from its header alone when neither the chip nor the secure-boot
// value is given: the facts come from the chip profile table and the header layout.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Chips named by the profile table's rows; other_chips stands for the catch-all row.
struct ChipSet {
    std::vector<int> ids;
    bool other_chips = false;
};

// A boot tag offset that some profile rows use, and whether the image carries the tag there.
struct LayoutMatch {
    size_t tag_offset;
    bool tagged;
    ChipSet chips;
};

// A --secure value to try, with the chips it fits.
struct Suggestion {
    int secure;
    ChipSet chips;
};

struct ImageInfo {
    size_t size;                       // the bytes the file holds (kImageSize + 1: more)
    std::vector<LayoutMatch> layouts;  // every layout of the table, in the table's order
    bool secure_marker;
    std::string key_stamp;  // the stamp's date and serial; empty when there is none
    bool rsa_key;           // the RSA modulus field is not all zero
    bool plain_checksum;    // the 16-bit header sum is zero, as in a plain or wr-key image
    std::vector<Suggestion> suggestions;
};

// Describes the image_size bytes read into ImageBuffer. Checks nothing.
ImageInfo describe_image(size_t image_size);

// Prints the description as text lines, in the check lines' columns.
void print_info_text(FILE* out, const std::string& image, const ImageInfo& info);

// Prints the description as one JSON object on one line.
void print_info_json(FILE* out, const std::string& image, const ImageInfo& info);
