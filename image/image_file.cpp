// SPDX-License-Identifier: Apache-2.0
#include "image/image_file.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "image/image_layout.hpp"
#include "image/transcript.hpp"
#include "platform/file_open.hpp"
#include "platform/file_replace.hpp"
#include "platform/file_status.hpp"

namespace {

void print_oversize(const char* path) {
    // Ten times, so that the refusal stands out in a long build log.
    for (int i = 0; i < 10; ++i) say("Serial error !! '%s' exceed 16K bytes...\n", path);
}

bool is_directory(FILE* file) { return open_file_kind(file) == PathKind::kFolder; }

void announce_writing(const char* path) { say("Writing '%s'...\n", path); }

}  // namespace

long file_size(FILE* file) {
    if (fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = ftell(file);
    if (fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

int read_image(const char* path, uint8_t* buffer, int* bytes_read) {
    FILE* file = open_file(path, "rb");
    if (file != nullptr && is_directory(file)) {
        fclose(file);
        file = nullptr;
    }
    if (file == nullptr) {
        say("Can't open '%s' !\n", path);
        return 1;
    }
    say("Reading '%s'...\n", path);
    const long size = file_size(file);
    if (size > static_cast<long>(kImageSize)) {
        fclose(file);
        print_oversize(path);
        return 1;
    }
    *bytes_read = 0;
    const size_t got = fread(buffer, 1, kImageSize, file);
    *bytes_read = static_cast<int>(got);
    if (ferror(file)) {
        fclose(file);
        say("file reading error !\n");
        return 1;
    }
    // A stream whose size could not be taken, or a file that grew while it was read (another
    // program still writing the loader), may hold more than the image: refuse it rather than
    // seal the first 32768 bytes of a longer loader.
    const bool longer = got == kImageSize && fgetc(file) != EOF;
    fclose(file);
    if (longer) {
        print_oversize(path);
        return 1;
    }
    say("file size = %d\n", *bytes_read);
    return 0;
}

int write_image(const char* path, const uint8_t* buffer, size_t size) {
    switch (replace_file(path, buffer, size, 0666, FileMode::kLikeOpen, announce_writing)) {
        case WriteResult::kWritten:
            say("write size = %d\n", static_cast<int>(size));
            return 0;
        case WriteResult::kCannotOpen:
            say("Can't open '%s' !\n", path);
            return 1;
        case WriteResult::kWriteFailed:
            break;
    }
    say("file writing error !\n");
    return 1;
}

long load_image_file(const char* path) {
    FILE* file = open_file(path, "rb");
    if (file == nullptr) return -1;
    long long stat_size = 0;
    const PathKind kind = open_file_kind(file, &stat_size);
    const bool regular = kind == PathKind::kRegular;
    if (kind == PathKind::kFolder) {
        fclose(file);
        errno = EISDIR;
        return -1;
    }
    setvbuf(file, nullptr, _IONBF, 0);  // no read-ahead past the one byte below
    memset(ImageBuffer, 0, kImageSize);
    const size_t got = fread(ImageBuffer, 1, kImageSize, file);
    long size = static_cast<long>(got);
    // One byte more tells a longer input from an image; reading stops there, so that a device or
    // an endless pipe is not read for ever. A regular file's own size is known without reading.
    if (got == kImageSize && fgetc(file) != EOF) {
        size = regular && stat_size > size ? static_cast<long>(stat_size) : size + 1;
    }
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) errno = EIO;
    return failed ? -1 : size;
}
