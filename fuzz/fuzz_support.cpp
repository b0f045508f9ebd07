// SPDX-License-Identifier: Apache-2.0
#include "fuzz/fuzz_support.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void copy_file(const std::string& from, const char* to) {
    FILE* in = fopen(from.c_str(), "rb");
    if (in == nullptr) {
        perror(from.c_str());
        abort();
    }
    FILE* out = fopen(to, "wb");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), in)) > 0) fwrite(buffer, 1, n, out);
    fclose(in);
    fclose(out);
}

}  // namespace

void fuzz_prepare(bool with_rsa_keys) {
    char pattern[] = "/tmp/bootseal-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) abort();
    if (with_rsa_keys) {
        const std::string keys = std::string(FUZZ_KEY_DIR) + "/";
        copy_file(keys + "rsa_priv.txt", "rsa_priv.txt");
        copy_file(keys + "rsa_pub.txt", "rsa_pub.txt");
    }
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
}

void fuzz_write_file(const char* name, const uint8_t* data, size_t size) {
    FILE* file = fopen(name, "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
}
