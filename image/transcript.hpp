// SPDX-License-Identifier: Apache-2.0
// The transcript of a run: the progress and failure lines of the image and sealing steps.
// bootseal prints it on standard output; a front end with a report of its own sends it elsewhere.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/printf_format.hpp"

// Sends the transcript to stream (standard output until this is called).
void set_transcript(FILE* stream);

// Keeps the transcript in buffer (size bytes, NUL-terminated, what does not fit dropped) until
// set_transcript is called; the caller wipes it. Nothing goes through the C library's stream
// buffers then, which are freed unwiped.
void set_transcript_buffer(char* buffer, size_t size);

// How many bytes the buffer of set_transcript_buffer holds.
size_t transcript_buffer_length();

// Adds to the transcript, with printf's formats.
int say(const char* format, ...) BOOTSEAL_PRINTF_FORMAT(1, 2);
