// SPDX-License-Identifier: Apache-2.0
// The one sealing path: from the loader in ImageBuffer to the finished image of any kind.
#pragma once

#include <string>

#include "image/image_layout.hpp"
#include "image/seal_mode.hpp"

// Makes the image of the given kind in ImageBuffer: the boot header (tag check, DRAM parameter
// count, checksum) and, for secure images, the sealing; or the wrapped key of a wr-key image.
// Reports each step in the transcript. Returns 0 or -1.
int make_image(const ChipProfile& profile, SealMode mode, int chip_id);

// Reads the loader at input into ImageBuffer and makes the image as make_image does, with the
// transcript kept aside rather than printed. A secure image given as the loader of a secure one
// is refused unless reseal is set. Returns 0, or -1 with *reason holding the failure's lines of
// the transcript ("; " between them), or its last line.
int make_image_quietly(const char* input, const ChipProfile& profile, SealMode mode, int chip_id,
                       bool reseal, std::string* reason);

// Why the image may not be written to output: "" when it may, or a message naming both roles of
// the file when output is a key file that making an image of this kind reads from the key
// sources (compared by the file named, so links are caught). A key burned into a chip cannot
// be made again.
std::string output_key_file_clash(const char* output, SealMode mode);
