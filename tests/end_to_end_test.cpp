// SPDX-License-Identifier: Apache-2.0
// Runs the built bootseal in a temporary folder and checks its exact output, status and image.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

const char kBanner[] = "bootseal version : 2018-0320-1.0006\r\n";

std::string hex4(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%04X", value & 0xFFFF);
    return text;
}

std::string hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%08X", value);
    return text;
}

// The checksum lines and written image a plain run must produce for input, given the image with
// its header fields already filled in except for the checksum.
std::string checksum_lines(const Bytes& before_checksum) {
    const uint32_t sum = rom_sum(before_checksum);
    return "##ui32BinDataSumValue: 0x" + hex8(sum) + "\nCheckSum: 0x" +
           hex4((0x10000 - (sum & 0xFFFF)) & 0xFFFF) + "\n\n";
}

const char kWriteTail[] = "Writing 'out.bin'...\nwrite size = 32768\nSave BIN OK.\nAll OK.\n";

class EndToEnd : public TempDirTest {};

TEST_F(EndToEnd, TooFewArgumentsPrintTheSyntax) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"in.bin"}}) {
        const ToolRun run = run_tool(dir_, args);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output,
                  "command syntax error!\nbootseal <input_bin> <output_bin> <chip id> <secure_boot>\n");
    }
    EXPECT_EQ(shell_output("ls -A " + dir_), "");
}

TEST_F(EndToEnd, SampleLoaderSealsAsAPlainImage) {
    const Bytes input = read_file(SAMPLE_LOADER);
    ASSERT_EQ(input.size(), 2560u);
    write_file(path("sample.bin"), input);
    const ToolRun run = run_tool(dir_, {"sample.bin", "out.bin", "229", "0"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              std::string(kBanner) +
                  "chip version [VX30229]\n"
                  "secure boot: 0\n"
                  "Reading 'sample.bin'...\n"
                  "file size = 2560\n"
                  "Load efuse halfword 0x13\r\n"
                  "Compensate driving: Odd only, PLEG, range 0x12, base 0x34\r\n"
                  "Duty average is ENABLED\r\n"
                  "\nconfig ram count 0x6\n"
                  "\n==Display binary file info== Begin!!!\n"
                  "VersionNumber: 00,10,26,12\n"
                  "==Display binary file info== End\n\n"
                  "total_bin_size after padding:32768, Dram param number:6\n\n"
                  "##ui32BinDataSumValue: 0x09F5BE7A\n"
                  "CheckSum: 0x4186\n\n" +
                  kWriteTail);
    Bytes expected = input;
    expected.resize(32768, 0);
    expected[50] = 0x86;  // checksum
    expected[51] = 0x41;
    expected[56] = 0x06;  // count, with the version byte's high nibble kept
    expected[57] = 0x10;
    EXPECT_EQ(read_file(path("out.bin")), expected);
    EXPECT_EQ(rom_checksum_sum(expected), 0);
}

struct ChipCase {
    const char* chip;
    size_t tag;
    int count;
    const char* chip_line;
    const char* printed;
};

TEST_F(EndToEnd, EveryChipRowUsesItsLayoutAndEncoding) {
    // One table read under both encodings; chip 173 also steps over a data word after type 3.
    const uint32_t table[] = {0x08000003, 0x0A000001, 0x0C000000, 0x02000000,
                              0x60000000, 0x40000000, 0};
    const char four_bit_lines[] = "Load efuse halfword 0x3\r\nDuty average is ENABLED\r\n";
    const ChipCase cases[] = {
        {"341", 48, 4, "chip version [VX30341]\n", four_bit_lines},
        {"227", 48, 4, "chip version [VX30227]\n", four_bit_lines},
        {"228", 48, 4, "chip version [VX30228]\n", four_bit_lines},
        {"229", 48, 4, "chip version [VX30229]\n", four_bit_lines},
        {"342", 48, 4, "chip version [VX50342]\n", ""},
        {"173", 64, 3, "chip version [VX30173]\n", ""},
        {"0", 64, 4, "chip version [VX300]\n", ""},
        {"4711", 64, 4, "chip version [VX304711]\n", ""},
        {"chip", 64, 4, "chip version [VX300]\n", ""},
    };
    for (const ChipCase& c : cases) {
        SCOPED_TRACE(c.chip);
        Bytes input = make_loader(c.tag, 1000);
        for (size_t i = 0; i < 7; ++i) put_u32(input, c.tag + 16 + 4 * i, table[i]);
        input[c.tag + 8] = 0xC3;  // version bytes; the count goes over the first twelve bits
        input[c.tag + 9] = 0xA5;
        input[c.tag + 10] = 0x80;
        input[c.tag + 11] = 0x01;
        write_file(path("in.bin"), input);
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", c.chip, "0"});

        Bytes expected = input;
        expected.resize(32768, 0);
        expected[c.tag + 8] = static_cast<uint8_t>(c.count);
        expected[c.tag + 9] = 0xA0;
        const std::string sums = checksum_lines(expected);
        const uint16_t checksum = static_cast<uint16_t>(0x10000 - (rom_sum(expected) & 0xFFFF));
        expected[c.tag + 2] = static_cast<uint8_t>(checksum);
        expected[c.tag + 3] = static_cast<uint8_t>(checksum >> 8);

        const std::string count = std::to_string(c.count);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, std::string(kBanner) + c.chip_line +
                                  "secure boot: 0\nReading 'in.bin'...\nfile size = 1000\n" +
                                  c.printed + "\nconfig ram count 0x" + count +
                                  "\n\n==Display binary file info== Begin!!!\n"
                                  "VersionNumber: C3,A5,80,01\n"
                                  "==Display binary file info== End\n\n"
                                  "total_bin_size after padding:32768, Dram param number:" +
                                  count + "\n\n" + sums + kWriteTail);
        EXPECT_EQ(read_file(path("out.bin")), expected);
    }
}

TEST_F(EndToEnd, TwoArgumentsActAsChipZeroPlain) {
    Bytes input = make_loader(64, 100);
    write_file(path("in.bin"), input);
    const ToolRun run = run_tool(dir_, {"in.bin", "out.bin"});
    Bytes expected = input;
    expected.resize(32768, 0);
    const std::string sums = checksum_lines(expected);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, std::string(kBanner) +
                              "Reading 'in.bin'...\nfile size = 100\n\nconfig ram count 0x0\n\n"
                              "==Display binary file info== Begin!!!\n"
                              "VersionNumber: 00,00,00,00\n"
                              "==Display binary file info== End\n\n"
                              "total_bin_size after padding:32768, Dram param number:0\n\n" +
                              sums + kWriteTail);
    const Bytes output = read_file(path("out.bin"));
    ASSERT_EQ(output.size(), 32768u);
    EXPECT_EQ(rom_checksum_sum(output), 0);
    for (size_t i = 100; i < output.size(); ++i) ASSERT_EQ(output[i], 0) << i;
}

TEST_F(EndToEnd, FullSizeInputIsAcceptedAndOneByteMoreIsRefused) {
    Bytes input = make_loader(48, 32768);
    for (size_t i = 512; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i);
    write_file(path("in.bin"), input);
    ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "228", "0"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.output.find("file size = 32768\n"), std::string::npos);
    EXPECT_EQ(rom_checksum_sum(read_file(path("out.bin"))), 0);

    input.push_back(0);
    write_file(path("in.bin"), input);
    write_text(path("out.bin"), "old image");
    run = run_tool(dir_, {"in.bin", "out.bin", "228", "0"});
    std::string expected = std::string(kBanner) +
                           "chip version [VX30228]\nsecure boot: 0\nReading 'in.bin'...\n";
    for (int i = 0; i < 10; ++i) expected += "Serial error !! 'in.bin' exceed 16K bytes...\n";
    expected += "read binary file error!, chip = 228\n";
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(read_file(path("out.bin")), Bytes({'o', 'l', 'd', ' ', 'i', 'm', 'a', 'g', 'e'}));
}

TEST_F(EndToEnd, BadBootTagsAreRefusedAndTheOutputIsKept) {
    struct TagCase {
        const char* name;
        Bytes input;
    };
    Bytes swapped(512, 0);
    swapped[48] = 0xAA;  // 0x55AA, the bytes the wrong way round
    swapped[49] = 0x55;
    const TagCase cases[] = {{"empty", {}}, {"zero tag", Bytes(512, 0)}, {"swapped", swapped},
                             {"layout B tag on a layout A chip", make_loader(64, 512)}};
    for (const TagCase& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path("in.bin"), c.input);
        write_text(path("out.bin"), "keep me");
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "229", "0"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output, std::string(kBanner) +
                                  "chip version [VX30229]\nsecure boot: 0\nReading 'in.bin'...\n"
                                  "file size = " +
                                  std::to_string(c.input.size()) +
                                  "\nNot valid boot code!, chip = 229\n");
        EXPECT_EQ(read_file(path("out.bin")), Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    }
}

TEST_F(EndToEnd, MissingInputStopsBeforeAnythingIsWritten) {
    const ToolRun run = run_tool(dir_, {"nodir/in.bin", "out.bin", "173", "0"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, std::string(kBanner) +
                              "chip version [VX30173]\nsecure boot: 0\n"
                              "Can't open 'nodir/in.bin' !\nread binary file error!, chip = 173\n");
    EXPECT_FALSE(file_exists(path("out.bin")));
}

TEST_F(EndToEnd, OutputInAMissingFolderExitsWithOne) {
    write_file(path("in.bin"), make_loader(64, 100));
    const ToolRun run = run_tool(dir_, {"in.bin", "nodir/out.bin", "7", "0"});
    EXPECT_EQ(run.status, 1);
    const std::string tail = "Can't open 'nodir/out.bin' !\nBIN error !\n";
    ASSERT_GE(run.output.size(), tail.size());
    EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
    EXPECT_NE(run.output.find("CheckSum: 0x"), std::string::npos);
    EXPECT_EQ(shell_output("ls -A " + dir_), "in.bin\n");
}

TEST_F(EndToEnd, OutputMayReplaceTheInput) {
    Bytes input = make_loader(48, 300);
    write_file(path("in.bin"), input);
    const ToolRun run = run_tool(dir_, {"in.bin", "in.bin", "227", "0"});
    EXPECT_EQ(run.status, 0);
    const Bytes output = read_file(path("in.bin"));
    ASSERT_EQ(output.size(), 32768u);
    EXPECT_EQ(rom_checksum_sum(output), 0);
    EXPECT_EQ(shell_output("ls -A " + dir_), "in.bin\n");
}

}  // namespace
