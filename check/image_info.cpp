// SPDX-License-Identifier: Apache-2.0
#include "check/image_info.hpp"

#include <cstdint>

#include "image/header_display.hpp"
#include "image/image_checksum.hpp"
#include "image/image_layout.hpp"
#include "image/report_text.hpp"
#include "check/verify_report.hpp"

namespace {

void add_chip(ChipSet* set, const ChipProfile& row) {
    if (row.chip_id < 0) {
        set->other_chips = true;  // the catch-all row
    } else {
        set->ids.push_back(row.chip_id);
    }
}

// The rows of one layout that pass a test of their profile.
template <typename Fits>
ChipSet rows_of_layout(size_t tag_offset, Fits fits) {
    size_t count = 0;
    const ChipProfile* rows = chip_profiles(&count);
    ChipSet set;
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].tag_offset == tag_offset && fits(rows[i])) add_chip(&set, rows[i]);
    }
    return set;
}

void suggest(std::vector<Suggestion>* suggestions, int secure, const ChipSet& chips) {
    if (!chips.ids.empty() || chips.other_chips) suggestions->push_back({secure, chips});
}

// What sealing leaves in each kind of image decides the --secure values worth trying: a zero
// header sum for plain and wr-key images (a wr-key image also carries the key stamp), the secure
// marker for the secure images of chips whose header sealing prepares, and neither for the
// secure images of the other chips. An AES-signed image may keep loader bytes in the modulus
// field, so a modulus suggests RSA first and AES second.
void suggest_modes(const ImageInfo& info, size_t tag_offset, std::vector<Suggestion>* out) {
    const auto any = [](const ChipProfile&) { return true; };
    if (info.plain_checksum) {
        suggest(out, 0, rows_of_layout(tag_offset, any));
        if (!info.key_stamp.empty()) {
            suggest(out, 3, rows_of_layout(tag_offset, [](const ChipProfile& p) {
                        return !p.never_wr_key;
                    }));
        }
    } else if (info.secure_marker) {
        if (info.rsa_key) {
            suggest(out, 2, rows_of_layout(tag_offset, [](const ChipProfile& p) {
                        return p.secure_header && p.can_sign_rsa;
                    }));
        }
        suggest(out, 1,
                rows_of_layout(tag_offset, [](const ChipProfile& p) { return p.secure_header; }));
    } else {
        suggest(out, 1,
                rows_of_layout(tag_offset, [](const ChipProfile& p) { return !p.secure_header; }));
    }
}

std::string chip_list(const ChipSet& chips) {
    std::string text;
    for (const int id : chips.ids) text += (text.empty() ? "" : ", ") + std::to_string(id);
    if (chips.other_chips) text += text.empty() ? "any chip id not listed" : ", or any not listed";
    return text;
}

std::string chip_json(const ChipSet& chips) {
    std::string text = "\"chips\": [";
    for (size_t i = 0; i < chips.ids.size(); ++i) {
        text += (i ? ", " : "") + std::to_string(chips.ids[i]);
    }
    return text + "], \"other_chips\": " + (chips.other_chips ? "true" : "false");
}

void print_line(FILE* out, const char* name, const std::string& text) {
    fprintf(out, "%-16s %s\n", name, text.c_str());
}

}  // namespace

ImageInfo describe_image(size_t image_size) {
    ImageInfo info = {image_size, {}, false, "", false, false, {}};
    info.secure_marker = read_u16_le(kSecureMarkerOffset) == kSecureMarkerValue;
    char stamp[64];
    if (format_key_stamp(kKeyStampOffset, stamp, sizeof(stamp))) info.key_stamp = stamp;
    for (size_t i = 0; i < kRsaModulusSize; ++i) {
        info.rsa_key = info.rsa_key || ImageBuffer[kRsaModulusOffset + i] != 0;
    }
    info.plain_checksum = static_cast<uint16_t>(image_checksum_sum(ImageBuffer, kImageSize)) == 0;

    size_t count = 0;
    const ChipProfile* rows = chip_profiles(&count);
    for (size_t i = 0; i < count; ++i) {
        bool known = false;
        for (const LayoutMatch& layout : info.layouts) {
            known = known || layout.tag_offset == rows[i].tag_offset;
        }
        if (known) continue;
        const size_t tag_offset = header_layout(rows[i]).boot_tag;
        const bool tagged = check_boot_tag(tag_offset) == 0;
        info.layouts.push_back(
            {tag_offset, tagged,
             rows_of_layout(tag_offset, [](const ChipProfile&) { return true; })});
        if (tagged) suggest_modes(info, tag_offset, &info.suggestions);
    }
    return info;
}

void print_info_text(FILE* out, const std::string& image, const ImageInfo& info) {
    // A stream or device that runs on past an image is read one byte past it.
    char size[96];
    if (info.size == kImageSize) {
        snprintf(size, sizeof(size), "%zu bytes", info.size);
    } else if (info.size == kImageSize + 1) {
        snprintf(size, sizeof(size), "more than %zu bytes, too long for an image", kImageSize);
    } else {
        snprintf(size, sizeof(size), "%zu bytes, not the %zu of an image", info.size, kImageSize);
    }
    fprintf(out, "%s: %s; without --chip and --secure nothing is checked\n", image.c_str(), size);
    for (const LayoutMatch& layout : info.layouts) {
        char tag[64];
        snprintf(tag, sizeof(tag), "%s at offset %zu", layout.tagged ? "0xAA55" : "no boot tag",
                 layout.tag_offset);
        print_line(out, "boot tag",
                   std::string(tag) + ", the layout of chips " + chip_list(layout.chips));
    }
    char text[128];
    snprintf(text, sizeof(text), "%s at offset %zu", info.secure_marker ? "0x55AA" : "none",
             kSecureMarkerOffset);
    print_line(out, "secure marker", text);
    print_line(out, "key stamp",
               info.key_stamp.empty() ? "none" : "secure program key [" + info.key_stamp + "]");
    snprintf(text, sizeof(text), "the modulus field at offset %zu %s", kRsaModulusOffset,
             info.rsa_key ? "holds a key" : "is zero");
    print_line(out, "rsa key", text);
    print_line(out, "header checksum",
               info.plain_checksum ? "the 16-bit sum is zero, as in a plain or wr-key image"
                                   : "the 16-bit sum is not zero, as in a secure image");
    if (info.size < kImageSize) {
        // Shorter than an image: a loader, most likely, which nothing has sealed yet.
        print_line(out, "try",
                   "sealing it first (bootseal or bootseal-sign): an image is " +
                       std::to_string(kImageSize) + " bytes");
        return;
    }
    if (info.suggestions.empty()) {
        print_line(out, "try", "nothing: no layout's boot tag is where it puts it");
    }
    for (const Suggestion& s : info.suggestions) {
        print_line(
            out, "try",
            "--chip N --secure " + std::to_string(s.secure) + ", N one of " + chip_list(s.chips));
    }
}

void print_info_json(FILE* out, const std::string& image, const ImageInfo& info) {
    std::string text = "{\"schema_version\": " + std::to_string(kReportSchemaVersion) +
                       ", \"image\": " + json_string(image);
    // A stream or device that runs on past an image is read one byte past it: its size is unknown.
    const bool endless = info.size == kImageSize + 1;
    text += (endless ? ", \"more_than\": " : ", \"size\": ") +
            std::to_string(endless ? kImageSize : info.size) + ", \"layouts\": [";
    for (size_t i = 0; i < info.layouts.size(); ++i) {
        const LayoutMatch& layout = info.layouts[i];
        text += std::string(i ? ", " : "") +
                "{\"tag_offset\": " + std::to_string(layout.tag_offset) +
                ", \"boot_tag\": " + (layout.tagged ? "true" : "false") + ", " +
                chip_json(layout.chips) + "}";
    }
    text += std::string("], \"secure_marker\": ") + (info.secure_marker ? "true" : "false") +
            ", \"key_stamp\": " + (info.key_stamp.empty() ? "null" : json_string(info.key_stamp)) +
            ", \"rsa_key\": " + (info.rsa_key ? "true" : "false") +
            ", \"plain_checksum\": " + (info.plain_checksum ? "true" : "false") + ", \"try\": [";
    for (size_t i = 0; i < info.suggestions.size(); ++i) {
        text += std::string(i ? ", " : "") +
                "{\"secure\": " + std::to_string(info.suggestions[i].secure) + ", " +
                chip_json(info.suggestions[i].chips) + "}";
    }
    // Nothing was checked: a reader that looks only at the result must not take it for a pass.
    fprintf(out, "%s], \"checks\": [], \"result\": \"unchecked\", \"error\": null}\n",
            text.c_str());
}
