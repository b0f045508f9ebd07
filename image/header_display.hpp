// SPDX-License-Identifier: Apache-2.0
// Read-only reports on header contents for the operator.
#pragma once

#include <cstddef>

// Prints the four version bytes that follow the boot tag at image offset tag_pos by eight bytes.
void show_version(size_t tag_pos);

// Prints the date and serial of a secure program key stamp at image offset stamp_pos; prints
// nothing when the stamp's tag is not there.
void show_key_stamp(size_t stamp_pos);

// Writes the stamp's date, serial and time ("2019-12-08-00042-14.03.00") into text; returns false
// and writes nothing when the stamp's tag is not there.
bool format_key_stamp(size_t stamp_pos, char* text, size_t size);
