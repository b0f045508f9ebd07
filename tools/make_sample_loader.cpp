// SPDX-License-Identifier: Apache-2.0
// Writes the project's sample first-stage loader: a header in the layout of chips 341, 227, 228,
// 229 and 342 (boot tag at offset 48) with version bytes, a DRAM command table in the four-bit
// encoding that uses every printed command type, a secure program key stamp, and 2048 bytes of
// payload. It exists so that every mode of the tool can be tried without a vendor's loader.
//
//     make_sample_loader OUTPUT
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void put_u16(std::vector<uint8_t>& image, size_t pos, uint32_t value) {
    image[pos] = static_cast<uint8_t>(value);
    image[pos + 1] = static_cast<uint8_t>(value >> 8);
}

void put_u32(std::vector<uint8_t>& image, size_t pos, uint32_t value) {
    put_u16(image, pos, value & 0xFFFF);
    put_u16(image, pos + 2, value >> 16);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_sample_loader OUTPUT\n");
        return 2;
    }
    std::vector<uint8_t> image(2560, 0);

    const char banner[] = "bootseal sample loader";
    for (size_t i = 0; i < sizeof(banner) - 1; ++i) image[i] = static_cast<uint8_t>(banner[i]);

    put_u16(image, 48, 0xAA55);  // boot tag
    // Version bytes 00 10 26 12; the count is later stored over the first 12 bits.
    put_u32(image, 56, 0x12261000);

    // DRAM command table at 64; the type is in bits 24..27 of each command word.
    const uint32_t table[] = {
        0x00000104, 0x00000001,  // type 0: value 0x104, one data word
        0x01000200, 0x000000FF,  // type 1: value 0x200, one data word
        0x02000010,              // type 2: value 0x10
        0x08000013,              // type 8: load efuse halfword 0x13
        0x49001234,              // type 9: "Odd only", PLEG, range 0x12, base 0x34
        0x0A000001,              // type 10: duty average enabled
        0x0C000000,              // type 12: skipped, not counted
        0x00000000,              // end of table
    };
    for (size_t i = 0; i < sizeof(table) / sizeof(table[0]); ++i) put_u32(image, 64 + 4 * i, table[i]);

    // Secure program key stamp at 112: tag, time 14.3.0, date 2019-12-08 with serial 0x42.
    put_u32(image, 112, 0x041A0B15);
    put_u32(image, 116, (14u << 16) | (3u << 28) | (0u << 24));
    put_u32(image, 120, 6u | (12u << 3) | (8u << 7) | (0x42u << 12));

    // Payload: a fixed pseudo-random pattern standing in for loader code.
    uint32_t state = 0x12345678;
    for (size_t i = 512; i < image.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = static_cast<uint8_t>(state >> 24);
    }

    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    const bool ok = fwrite(image.data(), 1, image.size(), out) == image.size();
    if (fclose(out) != 0 || !ok) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
