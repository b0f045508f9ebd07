// SPDX-License-Identifier: Apache-2.0
// Arbitrary rsa_priv.txt and rsa_pub.txt contents through key loading, signing and the signature
// check. The input is split at its first "@@@@": the private file before it, the public after;
// without the mark the whole input is the private file and the public file is the valid one.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.hpp"
#include "image/image_layout.hpp"
#include "seal/rsa_signing.hpp"

namespace {
std::string valid_public;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_prepare(true);
    FILE* file = fopen("rsa_pub.txt", "rb");
    char buffer[4096];
    const size_t n = fread(buffer, 1, sizeof(buffer), file);
    fclose(file);
    valid_public.assign(buffer, n);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t mark = text.find("@@@@");
    const std::string priv = mark == std::string::npos ? text : text.substr(0, mark);
    const std::string pub = mark == std::string::npos ? valid_public : text.substr(mark + 4);
    fuzz_write_file("rsa_priv.txt", reinterpret_cast<const uint8_t*>(priv.data()), priv.size());
    fuzz_write_file("rsa_pub.txt", reinterpret_cast<const uint8_t*>(pub.data()), pub.size());

    // A fixed digest whose reversed block lies below a modulus with a high top byte.
    uint8_t digest[32];
    for (size_t i = 0; i < sizeof(digest); ++i) digest[i] = static_cast<uint8_t>(i * 37 + 1);
    digest[31] = 0x42;
    memset(ImageBuffer, 0, kImageSize);
    sign_header_rsa(digest);
    return 0;
}
