// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the tests: files, captured standard output, and runs of the built tool.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& data);
void write_text(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
// Makes a character device node at path, a copy of /dev/null (1, 3) or /dev/full (1, 7), so that
// tests write to a device of their own folder, never to the machine's. Needs root.
bool make_device(const std::string& path, unsigned major, unsigned minor);

// Runs fn with standard output redirected and returns everything it printed.
std::string capture_stdout(const std::function<void()>& fn);

struct ToolRun {
    int status;          // exit status, 0..255; -1 when the tool did not exit normally
    std::string output;  // everything written to standard output
    std::string errors;  // standard error, for run_program
};

// Runs the built bootseal with args in folder dir. Standard input is /dev/null, or a pipe that
// carries stdin_data when it is given. BOOTSEAL_TEST_WRAPPER, when set, is a command (such as
// valgrind with its options) that the tool runs under.
ToolRun run_tool(const std::string& dir, const std::vector<std::string>& args,
                 const std::string* stdin_data = nullptr, int run_as_uid = -1);

// Runs another built program the same way; its standard error is kept in ToolRun::errors.
// With run_as_uid at 0 or above the program runs under that user and group id (root may drop
// to an unprivileged user so that permission failures can be tested).
ToolRun run_program(const char* program, const std::string& dir,
                    const std::vector<std::string>& args, const std::string* stdin_data = nullptr,
                    int run_as_uid = -1);

// Runs a shell command line and returns its standard output (for openssl known answers).
std::string shell_output(const std::string& command);

// A loader with the boot tag at tag_offset, followed by nothing but zeros.
Bytes make_loader(size_t tag_offset, size_t size = 512);
void put_u32(Bytes& image, size_t pos, uint32_t value);

// Lowercase hexadecimal of bytes, two digits each.
std::string hex(const uint8_t* data, size_t size);

// The 32-bit sum of (halfword + index) over image bytes [from, to), as the boot ROM takes it.
uint32_t rom_sum(const Bytes& image, size_t from = 0, size_t to = 32768);
// Its low 16 bits: zero for an image whose checksum field was filled correctly.
inline uint16_t rom_checksum_sum(const Bytes& image, size_t from = 0, size_t to = 32768) {
    return static_cast<uint16_t>(rom_sum(image, from, to));
}

// A fresh temporary folder per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

// A temporary folder that is also the working directory for the test's duration, for code that
// reads its key files from the working directory.
class InTempDirTest : public TempDirTest {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string old_dir_;
};
