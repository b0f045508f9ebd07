// SPDX-License-Identifier: Apache-2.0
#include "secure/key_bytes.hpp"

#include <mbedtls/base64.h>
#include <mbedtls/platform_util.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Reads the whole file (at most 64 KiB, far more than any RSA key) with a terminating NUL, which
// the PEM parser needs. Returns false with the reason in *why.
bool read_whole_key_file(const char* path, std::string* bytes, std::string* why) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        *why = std::string("cannot open ") + path + ": " + strerror(errno);
        return false;
    }
    // Unbuffered: the C library keeps no copy of the key in a buffer of its own.
    setvbuf(file, nullptr, _IONBF, 0);
    char chunk[4096];
    size_t n;
    bytes->clear();
    // Room for the most the loop can take, so that the string never moves and leaves a copy of a
    // private key behind in freed memory.
    bytes->reserve(65536 + sizeof(chunk) + 1);
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0 && bytes->size() <= 65536) {
        bytes->append(chunk, n);
    }
    const bool failed = ferror(file) != 0;
    fclose(file);
    mbedtls_platform_zeroize(chunk, sizeof(chunk));
    if (failed || bytes->size() > 65536) {
        *why = std::string(path) + (failed ? ": read error" : ": too large for a key file");
        return false;
    }
    bytes->push_back('\0');
    return true;
}

}  // namespace

KeyFileFormat key_bytes_format(const char* data, size_t size, size_t* pem_start) {
    // A DER RSA key is a SEQUENCE of more than 127 bytes: 0x30, then a long-form length (0x81 to
    // 0x84). A text key file is ASCII, so its first line may start with '0' (0x30) but its second
    // byte is never one of those.
    const auto byte = [data](size_t i) { return static_cast<unsigned char>(data[i]); };
    if (size >= 2 && byte(0) == 0x30 && byte(1) >= 0x81 && byte(1) <= 0x84) {
        return KeyFileFormat::kDer;
    }
    static const char kArmour[] = "-----BEGIN";
    const size_t armour = sizeof(kArmour) - 1;
    for (size_t at = 0; at + armour <= size; ++at) {
        if ((at == 0 || data[at - 1] == '\n') && memcmp(data + at, kArmour, armour) == 0) {
            if (pem_start != nullptr) *pem_start = at;
            return KeyFileFormat::kPem;
        }
    }
    return KeyFileFormat::kText;
}

KeyFileFormat key_file_format(const char* path) {
    std::string bytes;
    std::string why;
    if (!read_whole_key_file(path, &bytes, &why)) return KeyFileFormat::kText;
    const KeyFileFormat format = key_bytes_format(bytes.data(), bytes.size() - 1, nullptr);
    mbedtls_platform_zeroize(&bytes[0], bytes.size());
    return format;
}

bool read_key_file_bytes(const char* path, std::string* bytes, std::string* why) {
    return read_whole_key_file(path, bytes, why);
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
