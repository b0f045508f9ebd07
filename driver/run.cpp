#include "driver/run.hpp"

#include <cstdio>
#include <cstring>

#include "driver/mode.hpp"
#include "image/dram_table.hpp"
#include "image/header_display.hpp"
#include "image/image_checksum.hpp"
#include "image/image_file.hpp"
#include "image/image_layout.hpp"
#include "secure/sealing.hpp"
#include "secure/wr_key.hpp"

namespace {

// Checks the boot tag, counts and reports the DRAM parameters and the version, stores the count,
// sets the tag and clears the checksum field for the checksum that follows.
int build_boot_header(const ChipProfile& profile, const HeaderLayout& layout, int chip_id) {
    if (check_boot_tag(layout.boot_tag) != 0) {
        printf("Not valid boot code!, chip = %d\n", chip_id);
        return -1;
    }
    const int count = count_dram_params(layout.dram_param_table, profile);
    printf("\nconfig ram count 0x%x\n", count);
    printf("\n==Display binary file info== Begin!!!\n");
    show_version(layout.boot_tag);
    printf("==Display binary file info== End\n\n");
    printf("total_bin_size after padding:%d, Dram param number:%d\n\n",
           static_cast<int>(kImageSize), count);
    store_dram_param_count(layout.dram_param_count, count);
    write_u16_le(layout.boot_tag, kBootTagValue);
    write_u16_le(layout.header_checksum, 0);
    return 0;
}

}  // namespace

int run_bootseal(int argc, char** argv) {
    if (argc < 3) {
        printf("command syntax error!\n");
        printf("bootseal <input_bin> <output_bin> <chip id> <secure_boot>\n");
        return -1;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
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
    const HeaderLayout layout = header_layout(profile);
    memset(ImageBuffer, 0, sizeof(ImageBuffer));
    int bytes_read = 0;
    if (read_image(input_path, ImageBuffer, &bytes_read) != 0) {
        printf("read binary file error!, chip = %d\n", chip_id);
        return -1;
    }

    if (mode == SealMode::kWrKey) {
        if (make_wr_key_image(profile) != 0) return -1;
    } else {
        if (build_boot_header(profile, layout, chip_id) != 0) return -1;
        const bool secure = mode != SealMode::kPlain;
        const bool rsa_signed = mode == SealMode::kRsaSigned;
        if (secure) prepare_secure_header(profile, rsa_signed);
        store_header_checksum(layout);
        if (secure && seal_image(profile, rsa_signed) != 0) return -1;
    }

    if (write_image(output_path, ImageBuffer, kImageSize) != 0) {
        printf("BIN error !\n");
        return 1;
    }
    printf("Save BIN OK.\n");
    printf("All OK.\n");
    return 0;
}
