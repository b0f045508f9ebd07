// SPDX-License-Identifier: Apache-2.0
// The transcript of a run: the progress and failure lines of the image and sealing steps.
// bootseal prints it on standard output; a front end with a report of its own sends it elsewhere.
#pragma once

#include <cstdio>

// Sends the transcript to stream (standard output until this is called).
void set_transcript(FILE* stream);

// Adds to the transcript, with printf's formats.
int say(const char* format, ...) __attribute__((format(printf, 1, 2)));
