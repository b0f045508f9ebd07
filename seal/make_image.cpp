// SPDX-License-Identifier: Apache-2.0
#include "seal/make_image.hpp"

#include <mbedtls/platform_util.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/distinct_files.hpp"
#include "image/dram_table.hpp"
#include "image/header_display.hpp"
#include "image/image_checksum.hpp"
#include "image/image_file.hpp"
#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "platform/file_status.hpp"
#include "seal/sealed_header.hpp"
#include "seal/sealing.hpp"
#include "seal/wr_key.hpp"

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

// The reason a step gave in the transcript: the "  ! " lines of its last failure block, or else
// its last line.
std::string transcript_reason(const std::string& transcript) {
    const size_t failed = transcript.rfind(" failed\n");
    std::string reason;
    if (failed != std::string::npos) {
        size_t at = failed + 8;
        while (at < transcript.size()) {
            size_t end = transcript.find('\n', at);
            if (end == std::string::npos) end = transcript.size();
            std::string line = transcript.substr(at, end - at);
            if (line.compare(0, 4, "  ! ") != 0) break;
            // Sentences joined into one line: "... not below N; Change the image ...".
            if (!reason.empty() && reason.back() == '.') reason.pop_back();
            reason += (reason.empty() ? "" : "; ") + line.substr(4);
            at = end + 1;
        }
    }
    if (!reason.empty()) return reason;
    size_t end = transcript.size();
    while (end > 0 && (transcript[end - 1] == '\n' || transcript[end - 1] == '\r')) --end;
    const size_t start = transcript.rfind('\n', end == 0 ? 0 : end - 1);
    return transcript.substr(start == std::string::npos ? 0 : start + 1,
                             end - (start == std::string::npos ? 0 : start + 1));
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

int make_image_quietly(const char* input, const ChipProfile& profile, SealMode mode, int chip_id,
                       bool reseal, std::string* reason) {
    // The transcript echoes the AES key's bytes as they are read: it goes into one fixed buffer
    // that is wiped afterwards (a growing one would leave copies in freed memory).
    static char transcript[65536];
    set_transcript_buffer(transcript, sizeof(transcript));
    memset(ImageBuffer, 0, kImageSize);
    int bytes_read = 0;
    int result = read_image(input, ImageBuffer, &bytes_read) == 0 ? 0 : -1;
    const bool sealed_twice =
        result == 0 && !reseal && (mode == SealMode::kAesSigned || mode == SealMode::kRsaSigned) &&
        is_sealed_image(profile, ImageBuffer, static_cast<size_t>(bytes_read));
    if (result == 0 && !sealed_twice) result = make_image(profile, mode, chip_id);
    const size_t transcript_size = transcript_buffer_length();
    set_transcript(nullptr);
    if (sealed_twice) {
        *reason = std::string("'") + input + "' is a secure image already (its " +
                  (profile.secure_header ? "secure marker, " : "") +
                  "data checksum and header checksum are a sealed image's): sealing it again "
                  "would encrypt its payload twice, and it would not boot; give the loader, or "
                  "--reseal to seal it anyway";
        result = -1;
    } else if (result != 0) {
        std::string text;
        text.reserve(transcript_size);
        text.assign(transcript, transcript_size);
        *reason = transcript_reason(text);
        // The core's refusal of a long loader is its ten lines, which name another limit.
        if (text.find("' exceed 16K bytes...") != std::string::npos) {
            *reason = std::string("'") + input + "' holds more than 32768 bytes, the most a " +
                      "loader may hold";
        }
        if (!text.empty()) mbedtls_platform_zeroize(&text[0], text.size());
    }
    mbedtls_platform_zeroize(transcript, sizeof(transcript));
    return result;
}

std::string output_key_file_clash(const char* output, SealMode mode) {
    if (mode == SealMode::kPlain) return "";
    const KeySources& sources = key_sources();
    const bool rsa = mode == SealMode::kRsaSigned;
    const NamedPath keys[] = {
        {"the AES key file", sources.aes_path},
        {"the RSA private key file", rsa ? sources.rsa_private_path : nullptr},
        {"the RSA public key file", rsa ? sources.rsa_public_path : nullptr}};
    for (const NamedPath& key : keys) {
        // A key file that is not there is not read (aes.txt gives way to the default key).
        if (key.path == nullptr || path_kind(key.path) == PathKind::kNothing) continue;
        const NamedPath pair[] = {{"the output", output}, key};
        const std::string message = shared_file_message(pair, 2);
        if (!message.empty()) return message;
    }
    return "";
}
