// SPDX-License-Identifier: Apache-2.0
// Moving the image between disk and memory, with the progress lines the operator sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Returns the length of an open file in bytes, or -1 when it cannot be taken (a pipe, say).
// Leaves the file positioned at its start.
long file_size(FILE* file);

// Reads the file at path into buffer (kImageSize bytes, zero-filled by the caller) and stores the
// number of bytes read in bytes_read. Refuses inputs larger than the buffer. Returns 0 or 1.
int read_image(const char* path, uint8_t* buffer, int* bytes_read);

// Writes size bytes of buffer to path so that the path holds either its old contents or the whole
// new image, never a part of it. Returns 0 or 1.
int write_image(const char* path, const uint8_t* buffer, size_t size);

// Reads an image file into ImageBuffer without printing: at most kImageSize bytes are kept, the
// rest zero, and at most one byte more is read. Returns the number of bytes the file holds when
// it is at most kImageSize or a longer regular file, kImageSize + 1 for a longer stream or
// device, or -1 with errno set (EISDIR for a folder).
long load_image_file(const char* path);
