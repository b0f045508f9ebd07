// SPDX-License-Identifier: Apache-2.0
#include "image/image_checksum.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

struct ChecksumCase {
    size_t length;
    uint8_t fill;
    const char* sum_line;
    uint16_t result;
};

TEST(ImageChecksum, KnownSumsAndResults) {
    const ChecksumCase cases[] = {
        // Zero data sums the indices alone: 0 + 1 + ... + 16383 = 0x07FFE000.
        {32768, 0x00, "##ui32BinDataSumValue: 0x07FFE000\n", 0x2000},
        {4, 0x00, "##ui32BinDataSumValue: 0x00000001\n", 0xFFFF},
        {2, 0x00, "##ui32BinDataSumValue: 0x00000000\n", 0x0000},
        {0, 0x00, "##ui32BinDataSumValue: 0x00000000\n", 0x0000},
        // 16384 * 0xFFFF + 0x07FFE000
        {32768, 0xFF, "##ui32BinDataSumValue: 0x47FFA000\n", 0x6000},
    };
    for (const ChecksumCase& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes data(c.length, c.fill);
        uint16_t result = 0;
        const std::string out = capture_stdout([&] { result = image_checksum(data.data(), data.size()); });
        EXPECT_EQ(out, c.sum_line);
        EXPECT_EQ(result, c.result);
    }
}

TEST(ImageChecksum, SumWrapsModulo2To32) {
    // 65536 halfwords of 0xFFFF plus indices 0..65535 overflow 32 bits: the sum wraps silently.
    Bytes data(131072, 0xFF);
    const std::string out = capture_stdout([&] { image_checksum(data.data(), data.size()); });
    // 65536 * 0xFFFF + 65535 * 65536 / 2 = 0xFFFF0000 + 0x7FFF8000 = 0x17FFE8000, wrapped.
    EXPECT_EQ(out, "##ui32BinDataSumValue: 0x7FFE8000\n");
}

TEST(ImageChecksum, StoredIntoAZeroFieldMakesTheRomSumZero) {
    Bytes data(32768);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    data[50] = data[51] = 0;
    uint16_t result = 0;
    capture_stdout([&] { result = image_checksum(data.data(), data.size()); });
    data[50] = static_cast<uint8_t>(result);
    data[51] = static_cast<uint8_t>(result >> 8);
    EXPECT_EQ(rom_checksum_sum(data), 0);
}

TEST(ImageChecksum, IndexCountsFromTheStartOfTheRange) {
    Bytes data(8, 0);
    const std::string whole = capture_stdout([&] { image_checksum(data.data(), 8); });
    const std::string tail = capture_stdout([&] { image_checksum(data.data() + 4, 4); });
    EXPECT_EQ(whole, "##ui32BinDataSumValue: 0x00000006\n");
    EXPECT_EQ(tail, "##ui32BinDataSumValue: 0x00000001\n");
}

TEST(ImageChecksum, AgreesWithTheRomSumAtEveryLengthAndAlignment) {
    // Varied bytes, so that a swapped byte order or a dropped tail halfword changes the sum;
    // lengths around the vector widths, odd ones included, from each start within a word.
    Bytes data(32768 + 4);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 7) + 1);
    std::vector<size_t> lengths = {32768, 32767, 30208};
    for (size_t length = 0; length <= 80; ++length) lengths.push_back(length);
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t length : lengths) {
            SCOPED_TRACE(::testing::Message() << "offset " << offset << " length " << length);
            EXPECT_EQ(image_checksum_sum(data.data() + offset, length), rom_sum(data, offset, offset + length));
        }
    }
}

}  // namespace
