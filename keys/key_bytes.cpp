// SPDX-License-Identifier: Apache-2.0
#include "keys/key_bytes.hpp"

#include <mbedtls/base64.h>
#include <mbedtls/platform_util.h>

#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "keys/key_reader.hpp"
#include "keys/secret_text.hpp"
#include "rsa/secret_marks.hpp"

KeyFileFormat key_bytes_format(const char* data, size_t size, size_t* pem_start) {
    // The bytes may be a private key's, marked secret: what decides the format is made public
    // and nothing more, a verdict on the first two bytes and on each line's start, found by the
    // public positions of the line feeds.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    // A DER RSA key is a SEQUENCE of more than 127 bytes: 0x30, then a long-form length (0x81 to
    // 0x84). A text key file is ASCII, so its first line may start with '0' (0x30) but its second
    // byte is never one of those.
    if (size >= 2) {
        uint32_t der = byte_equal_bit(bytes[0], 0x30) & byte_in_range_bit(bytes[1], 0x81, 0x84);
        mark_public(&der, sizeof(der));
        if (der != 0) return KeyFileFormat::kDer;
    }
    static const char kArmour[] = "-----BEGIN";
    const size_t armour = sizeof(kArmour) - 1;
    bool line_start = true;
    for (size_t at = 0; at + armour <= size; ++at) {
        if (line_start && public_match(bytes + at, armour, kArmour)) {
            if (pem_start != nullptr) *pem_start = at;
            return KeyFileFormat::kPem;
        }
        line_start = public_class(bytes[at], kLineFeed) != 0;
    }
    return KeyFileFormat::kText;
}

namespace {

// The formats of the key files read so far, by path: a handful in any run.
std::vector<std::pair<std::string, KeyFileFormat>> formats_read;

}  // namespace

void record_key_file_format(const char* path, KeyFileFormat format) {
    for (auto& known : formats_read) {
        if (known.first == path) {
            known.second = format;
            return;
        }
    }
    formats_read.emplace_back(path, format);
}

KeyFileFormat key_file_format(const char* path) {
    for (const auto& known : formats_read) {
        if (known.first == path) return known.second;
    }
    // Read as the private key readers read it: into a buffer of this step, marked secret, wiped.
    KeyFileBytes file;
    KeyFileFormat format = KeyFileFormat::kText;
    if (read_key_file(path, &file) == 0 && !file.too_large) {
        format = key_bytes_format(reinterpret_cast<const char*>(file.data), file.size, nullptr);
    }
    wipe_key_file(&file);
    return format;
}

bool decode_pem_block(const char* data, size_t size, std::string* label, std::string* der) {
    size_t start = 0;
    if (key_bytes_format(data, size, &start) != KeyFileFormat::kPem) return false;
    // A view of the caller's bytes, not a copy: a copy would leave the key's text in freed memory.
    const std::string_view text(data + start, size - start);
    const size_t label_end = text.find("-----", 10);
    const size_t body = text.find('\n', 10);
    if (label_end == std::string::npos || body == std::string::npos || label_end > body ||
        label_end < 11) {
        return false;
    }
    *label = std::string(text.substr(11, label_end - 11));
    const size_t footer = text.find("-----END " + *label + "-----", body);
    if (footer == std::string::npos) return false;
    const auto* from = reinterpret_cast<const unsigned char*>(text.data()) + body + 1;
    const size_t body_size = footer - body - 1;
    size_t decoded = 0;
    der->assign(body_size, '\0');
    const int result = mbedtls_base64_decode(reinterpret_cast<unsigned char*>(&(*der)[0]),
                                             der->size(), &decoded, from, body_size);
    if (result != 0) decoded = 0;
    mbedtls_platform_zeroize(&(*der)[decoded], der->size() - decoded);
    der->resize(decoded);
    return result == 0;
}
