// SPDX-License-Identifier: Apache-2.0
#include "image/transcript.hpp"

#include <cstdarg>

namespace {

FILE* transcript_stream = nullptr;  // standard output

}  // namespace

void set_transcript(FILE* stream) { transcript_stream = stream; }

int say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = vfprintf(transcript_stream ? transcript_stream : stdout, format, arguments);
    va_end(arguments);
    return result;
}
