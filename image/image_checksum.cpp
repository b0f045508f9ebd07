#include "image/image_checksum.hpp"

#include <cstdio>

uint32_t image_checksum_sum(const uint8_t* data, size_t length) {
    uint32_t ui32BinDataSumValue = 0;
    const size_t halfwords = length / 2;
    for (size_t i = 0; i < halfwords; ++i) {
        // The boot ROM adds each halfword's index to the sum, so that moved or swapped
        // halfwords change the result.
        const uint32_t halfword = static_cast<uint32_t>(data[2 * i]) |
                                  static_cast<uint32_t>(data[2 * i + 1]) << 8;
        ui32BinDataSumValue += halfword + static_cast<uint32_t>(i);
    }
    return ui32BinDataSumValue;
}

uint16_t image_checksum(const uint8_t* data, size_t length) {
    const uint32_t ui32BinDataSumValue = image_checksum_sum(data, length);
    printf("##ui32BinDataSumValue: 0x%08X\n", ui32BinDataSumValue);
    return static_cast<uint16_t>(0x10000u - (ui32BinDataSumValue & 0xFFFFu));
}

void store_header_checksum(const HeaderLayout& layout) {
    const uint16_t checksum = image_checksum(ImageBuffer, kImageSize);
    printf("CheckSum: 0x%04X\n\n", checksum);
    write_u16_le(layout.header_checksum, checksum);
}
