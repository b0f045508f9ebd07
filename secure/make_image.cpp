// SPDX-License-Identifier: Apache-2.0
#include "secure/make_image.hpp"

#include "image/dram_table.hpp"
#include "image/header_display.hpp"
#include "image/image_checksum.hpp"
#include "image/transcript.hpp"
#include "secure/sealing.hpp"
#include "secure/wr_key.hpp"

namespace {

// Checks the boot tag, counts and reports the DRAM parameters and the version, stores the count,
// sets the tag and clears the checksum field for the checksum that follows.
int build_boot_header(const ChipProfile& profile, const HeaderLayout& layout, int chip_id) {
    if (check_boot_tag(layout.boot_tag) != 0) {
        say("Not valid boot code!, chip = %d\n", chip_id);
        return -1;
    }
    const int count = count_dram_params(layout.dram_param_table, profile);
    say("\nconfig ram count 0x%x\n", count);
    say("\n==Display binary file info== Begin!!!\n");
    show_version(layout.boot_tag);
    say("==Display binary file info== End\n\n");
    say("total_bin_size after padding:%d, Dram param number:%d\n\n", static_cast<int>(kImageSize),
        count);
    store_dram_param_count(layout.dram_param_count, count);
    write_u16_le(layout.boot_tag, kBootTagValue);
    write_u16_le(layout.header_checksum, 0);
    return 0;
}

}  // namespace

int make_image(const ChipProfile& profile, SealMode mode, int chip_id) {
    if (mode == SealMode::kWrKey) return make_wr_key_image(profile) == 0 ? 0 : -1;
    const HeaderLayout layout = header_layout(profile);
    if (build_boot_header(profile, layout, chip_id) != 0) return -1;
    const bool secure = mode != SealMode::kPlain;
    const bool rsa_signed = mode == SealMode::kRsaSigned;
    if (secure) prepare_secure_header(profile, rsa_signed);
    store_header_checksum(layout);
    if (secure && seal_image(profile, rsa_signed) != 0) return -1;
    return 0;
}
