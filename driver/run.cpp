// SPDX-License-Identifier: Apache-2.0
#include "driver/run.hpp"

#include <cstdio>
#include <cstring>
#include <string>

#include "image/image_file.hpp"
#include "image/image_layout.hpp"
#include "image/recover_folders.hpp"
#include "image/seal_mode.hpp"
#include "seal/make_image.hpp"

int run_bootseal(int argc, char** argv) {
    if (argc < 3) {
        printf("command syntax error!\n");
        printf("bootseal <input_bin> <output_bin> <chip id> <secure_boot>\n");
        return -1;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    // The keys are read from the working folder; what a killed run left is put right first.
    recover_folders("bootseal", {".", output_path});
    printf("bootseal version : 2018-0320-1.0006\r\n");

    int chip_id = 0;
    int secure_boot = 0;
    if (argc > 3) chip_id = parse_number(argv[3]);
    const ChipProfile& profile = select_chip_profile(chip_id);
    if (argc > 3) printf("chip version [%s%d]\n", profile.version_prefix, chip_id);
    if (argc > 4) {
        secure_boot = parse_number(argv[4]);
        printf("secure boot: %d\n", secure_boot);
    }
    const SealMode mode = decide_mode(profile, secure_boot);
    // Before anything is read or written: an image written over the key it was sealed with
    // would leave the key nowhere.
    const std::string clash = output_key_file_clash(output_path, mode);
    if (!clash.empty()) {
        printf("output error: %s; nothing written\n", clash.c_str());
        return -1;
    }
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    int bytes_read = 0;
    if (read_image(input_path, ImageBuffer, &bytes_read) != 0) {
        printf("read binary file error!, chip = %d\n", chip_id);
        return -1;
    }

    if (make_image(profile, mode, chip_id) != 0) return -1;

    if (write_image(output_path, ImageBuffer, kImageSize) != 0) {
        printf("BIN error !\n");
        return 1;
    }
    printf("Save BIN OK.\n");
    printf("All OK.\n");
    return 0;
}
