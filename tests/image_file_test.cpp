// SPDX-License-Identifier: Apache-2.0
#include "image/image_file.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "image/image_layout.hpp"
#include "tests/test_support.hpp"

namespace {

class ImageFile : public TempDirTest {
protected:
    int read(const std::string& name, std::string* out) {
        memset(ImageBuffer, 0, sizeof(ImageBuffer));
        int result = -1;
        bytes_read_ = -1;
        *out = capture_stdout([&] { result = read_image(name.c_str(), ImageBuffer, &bytes_read_); });
        return result;
    }
    int write(const std::string& name, std::string* out, size_t size = kImageSize) {
        int result = -1;
        *out = capture_stdout([&] { result = write_image(name.c_str(), ImageBuffer, size); });
        return result;
    }
    int bytes_read_ = -1;
};

std::string oversize_lines(const std::string& path) {
    std::string text;
    for (int i = 0; i < 10; ++i) text += "Serial error !! '" + path + "' exceed 16K bytes...\n";
    return text;
}

TEST_F(ImageFile, ReadsInputsUpToTheImageSize) {
    for (size_t size : {size_t{0}, size_t{100}, size_t{32768}}) {
        SCOPED_TRACE(size);
        Bytes data(size);
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i % 251 + 1);
        write_file(path("in.bin"), data);
        std::string out;
        ASSERT_EQ(read(path("in.bin"), &out), 0);
        EXPECT_EQ(out, "Reading '" + path("in.bin") + "'...\nfile size = " + std::to_string(size) + "\n");
        EXPECT_EQ(bytes_read_, static_cast<int>(size));
        if (size > 0) {
            EXPECT_EQ(memcmp(ImageBuffer, data.data(), size), 0);
        }
        for (size_t i = size; i < kImageSize; ++i) ASSERT_EQ(ImageBuffer[i], 0) << i;
    }
}

TEST_F(ImageFile, RefusesAnInputOneByteTooLarge) {
    write_file(path("big.bin"), Bytes(32769, 0x11));
    std::string out;
    EXPECT_EQ(read(path("big.bin"), &out), 1);
    EXPECT_EQ(out, "Reading '" + path("big.bin") + "'...\n" + oversize_lines(path("big.bin")));
    EXPECT_EQ(ImageBuffer[0], 0) << "nothing may be read from a refused input";
}

TEST_F(ImageFile, MissingInputsAndFoldersCannotBeOpened) {
    std::string out;
    EXPECT_EQ(read(path("absent.bin"), &out), 1);
    EXPECT_EQ(out, "Can't open '" + path("absent.bin") + "' !\n");
    EXPECT_EQ(read(dir_, &out), 1);
    EXPECT_EQ(out, "Can't open '" + dir_ + "' !\n");
}

TEST_F(ImageFile, StreamLongerThanTheImageIsRefused) {
    // A pipe has no size to take; the reader must still notice that it holds too much.
    for (size_t size : {size_t{32768}, size_t{32769}}) {
        SCOPED_TRACE(size);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            Bytes data(size, 0x5A);
            const ssize_t n = ::write(fds[1], data.data(), data.size());
            _exit(n == static_cast<ssize_t>(size) ? 0 : 1);
        }
        close(fds[1]);
        const std::string name = "/dev/fd/" + std::to_string(fds[0]);
        std::string out;
        const int result = read(name, &out);
        close(fds[0]);
        waitpid(child, nullptr, 0);
        if (size == 32768) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(out, "Reading '" + name + "'...\nfile size = 32768\n");
        } else {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(out, "Reading '" + name + "'...\n" + oversize_lines(name));
        }
    }
}

TEST_F(ImageFile, WritesTheWholeImageWithCreatePermissions) {
    memset(ImageBuffer, 0xA5, sizeof(ImageBuffer));
    const mode_t old_mask = umask(027);
    std::string out;
    const int result = write(path("out.bin"), &out);
    umask(old_mask);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(out, "Writing '" + path("out.bin") + "'...\nwrite size = 32768\n");
    EXPECT_EQ(read_file(path("out.bin")), Bytes(kImageSize, 0xA5));
    struct stat st;
    ASSERT_EQ(stat(path("out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ImageFile, ReplacingAFileKeepsItsPermissionsAndLeavesNoTemporaryFile) {
    write_file(path("out.bin"), Bytes(10, 1));
    ASSERT_EQ(chmod(path("out.bin").c_str(), 0604), 0);
    memset(ImageBuffer, 0x3C, sizeof(ImageBuffer));
    std::string out;
    ASSERT_EQ(write(path("out.bin"), &out), 0);
    EXPECT_EQ(read_file(path("out.bin")), Bytes(kImageSize, 0x3C));
    struct stat st;
    ASSERT_EQ(stat(path("out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(shell_output("ls -A " + dir_), "out.bin\n");
}

TEST_F(ImageFile, WritingThroughALinkReplacesItsTarget) {
    write_file(path("target.bin"), Bytes(10, 1));
    ASSERT_EQ(symlink("target.bin", path("link.bin").c_str()), 0);
    memset(ImageBuffer, 0x42, sizeof(ImageBuffer));
    std::string out;
    ASSERT_EQ(write(path("link.bin"), &out), 0);
    EXPECT_EQ(read_file(path("target.bin")), Bytes(kImageSize, 0x42));
    struct stat st;
    ASSERT_EQ(lstat(path("link.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ImageFile, UnopenableOutputsNameThePathAndLeaveNothing) {
    const std::string missing = path("nodir/out.bin");
    std::string out;
    EXPECT_EQ(write(missing, &out), 1);
    EXPECT_EQ(out, "Can't open '" + missing + "' !\n");
    EXPECT_EQ(write(dir_, &out), 1);
    EXPECT_EQ(out, "Can't open '" + dir_ + "' !\n");
    EXPECT_EQ(shell_output("ls -A " + dir_), "");
}

TEST_F(ImageFile, ShortWriteLeavesTheOldFileUntouched) {
    // Under a 1000-byte file size limit the write falls short; the old file must survive whole.
    const Bytes old_contents(123, 0x77);
    write_file(path("out.bin"), old_contents);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        memset(ImageBuffer, 0x99, sizeof(ImageBuffer));
        const std::string out_path = path("out.bin");
        std::string out;
        const int result = write(out_path, &out);
        const std::string want = "Writing '" + out_path + "'...\nfile writing error !\n";
        _exit(result == 1 && out == want ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not fail with its message";
    EXPECT_EQ(read_file(path("out.bin")), old_contents);
    EXPECT_EQ(shell_output("ls -A " + dir_), "out.bin\n");
}

TEST_F(ImageFile, DevicesAreWrittenInPlace) {
    ASSERT_TRUE(make_device(path("null"), 1, 3) && make_device(path("full"), 1, 7))
        << "device nodes of the test's own need root";
    std::string out;
    EXPECT_EQ(write(path("null"), &out), 0);
    EXPECT_EQ(out, "Writing '" + path("null") + "'...\nwrite size = 32768\n");
    EXPECT_EQ(write(path("full"), &out), 1);
    EXPECT_EQ(out, "Writing '" + path("full") + "'...\nfile writing error !\n");
    struct stat st;
    ASSERT_EQ(stat(path("full").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device node was replaced";
    EXPECT_EQ(shell_output("ls -A " + dir_), "full\nnull\n");
}

}  // namespace
