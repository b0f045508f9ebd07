// SPDX-License-Identifier: Apache-2.0
#include "image/transcript.hpp"

#include <cstdarg>

namespace {

FILE* transcript_stream = nullptr;  // standard output
char* transcript_buffer = nullptr;  // instead of a stream, when set
size_t transcript_size = 0;
size_t transcript_length = 0;

}  // namespace

void set_transcript(FILE* stream) {
    transcript_stream = stream;
    transcript_buffer = nullptr;
}

void set_transcript_buffer(char* buffer, size_t size) {
    transcript_buffer = size > 0 ? buffer : nullptr;
    transcript_size = size;
    transcript_length = 0;
    if (transcript_buffer != nullptr) transcript_buffer[0] = '\0';
}

size_t transcript_buffer_length() { return transcript_length; }

int say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = 0;
    if (transcript_buffer != nullptr) {
        const size_t room = transcript_size - transcript_length;
        result = vsnprintf(transcript_buffer + transcript_length, room, format, arguments);
        if (result > 0) {
            const size_t written = static_cast<size_t>(result);
            transcript_length += written < room ? written : room - 1;
        }
    } else {
        result = vfprintf(transcript_stream ? transcript_stream : stdout, format, arguments);
    }
    va_end(arguments);
    return result;
}
