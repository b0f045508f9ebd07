#include "image/image_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <string>

#include "image/image_layout.hpp"

namespace {

void print_oversize(const char* path) {
    // Ten times, so that the refusal stands out in a long build log.
    for (int i = 0; i < 10; ++i) printf("Serial error !! '%s' exceed 16K bytes...\n", path);
}

bool is_directory(FILE* file) {
    struct stat st;
    return fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder part of path, with its trailing slash ("" for the working directory).
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a fresh file beside target with create_mode less the umask.
int create_temporary(const std::string& target, unsigned create_mode, std::string* temp_path) {
    const std::string folder = folder_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temp_path = folder + ".bootseal." + std::to_string(getpid()) + "." +
                     std::to_string(attempt) + ".tmp";
        const int fd = open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            static_cast<mode_t>(create_mode));
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool write_all(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void sync_folder(const std::string& target) {
    const std::string folder = folder_of(target);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // best effort: the rename itself has already succeeded
    close(fd);
}

// Devices and FIFOs are written in place, as a plain open for writing would.
WriteResult write_in_place(const char* path, const uint8_t* data, size_t size,
                           void (*on_open)(const char*)) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr) return WriteResult::kCannotOpen;
    if (on_open != nullptr) on_open(path);
    const size_t written = fwrite(data, 1, size, file);
    const bool closed = fclose(file) == 0;
    return written == size && closed ? WriteResult::kWritten : WriteResult::kWriteFailed;
}

void announce_writing(const char* path) { printf("Writing '%s'...\n", path); }

}  // namespace

long file_size(FILE* file) {
    if (fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = ftell(file);
    if (fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

int read_image(const char* path, uint8_t* buffer, int* bytes_read) {
    FILE* file = fopen(path, "rb");
    if (file != nullptr && is_directory(file)) {
        fclose(file);
        file = nullptr;
    }
    if (file == nullptr) {
        printf("Can't open '%s' !\n", path);
        return 1;
    }
    printf("Reading '%s'...\n", path);
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
        printf("file reading error !\n");
        return 1;
    }
    // A stream whose size could not be taken may hold more than the image: refuse it rather
    // than seal the first 32768 bytes of a longer loader.
    const bool longer = size < 0 && got == kImageSize && fgetc(file) != EOF;
    fclose(file);
    if (longer) {
        print_oversize(path);
        return 1;
    }
    printf("file size = %d\n", *bytes_read);
    return 0;
}

WriteResult replace_file(const char* path, const uint8_t* data, size_t size, unsigned create_mode,
                         bool keep_mode, void (*on_open)(const char* path)) {
    std::string target = path;
    struct stat existing;
    const bool exists = stat(path, &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return WriteResult::kCannotOpen;
    if (exists && !S_ISREG(existing.st_mode)) return write_in_place(path, data, size, on_open);
    if (exists) {
        // A file the user may not write is refused, as a plain open would refuse it.
        if (access(path, W_OK) != 0) return WriteResult::kCannotOpen;
        // Replace the file a link points to, not the link.
        char resolved[PATH_MAX];
        if (realpath(path, resolved) != nullptr) target = resolved;
    }

    std::string temp_path;
    const int fd = create_temporary(target, create_mode, &temp_path);
    if (fd < 0) return WriteResult::kCannotOpen;
    if (on_open != nullptr) on_open(path);
    if (exists && keep_mode) {
        // Keep the permissions and, where allowed, the owner of the file being replaced.
        fchmod(fd, existing.st_mode & 07777);
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Not the owner's to give away: the file keeps the writer's ownership.
        }
    }
    bool ok = write_all(fd, data, size);
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp_path.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp_path.c_str());
        return WriteResult::kWriteFailed;
    }
    sync_folder(target);
    return WriteResult::kWritten;
}

int write_image(const char* path, const uint8_t* buffer, size_t size) {
    switch (replace_file(path, buffer, size, 0666, true, announce_writing)) {
        case WriteResult::kWritten:
            printf("write size = %d\n", static_cast<int>(size));
            return 0;
        case WriteResult::kCannotOpen:
            printf("Can't open '%s' !\n", path);
            return 1;
        case WriteResult::kWriteFailed:
            break;
    }
    printf("file writing error !\n");
    return 1;
}
