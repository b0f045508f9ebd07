// SPDX-License-Identifier: Apache-2.0
// Whole runs of bootseal on arbitrary loader images. The first byte chooses the chip profile and
// the mode; the rest is the loader. The output goes to /dev/null; with the top bit of the first
// byte set it goes through the temporary-file writer into the scratch folder instead.
#include <cstdint>
#include <cstdio>

#include "driver/run.hpp"
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_prepare(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kChips[] = {"341", "342", "227", "228", "229", "173", "0"};
    static const char* const kModes[] = {"0", "1", "2", "3"};
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    fuzz_write_file("in.bin", data + 1, size - 1);
    char program[] = "bootseal";
    char input[] = "in.bin";
    char output[16];
    snprintf(output, sizeof(output), "%s", (selector & 0x80) ? "out.bin" : "/dev/null");
    char chip[8];
    snprintf(chip, sizeof(chip), "%s", kChips[(selector & 0x7F) % 7]);
    char mode[4];
    snprintf(mode, sizeof(mode), "%s", kModes[((selector & 0x7F) / 7) % 4]);
    char* argv[] = {program, input, output, chip, mode, nullptr};
    run_bootseal(5, argv);
    fflush(stdout);
    return 0;
}
