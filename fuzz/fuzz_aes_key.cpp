// SPDX-License-Identifier: Apache-2.0
// Arbitrary aes.txt contents through key loading, for a chip of each default-key variant.
#include <mbedtls/platform_util.h>

#include <cstdint>

#include "fuzz/fuzz_support.hpp"
#include "keys/key_files.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_prepare(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_write_file("aes.txt", data, size);
    uint8_t key[kAesKeySize];
    const ChipProfile& profile = select_chip_profile(size % 2 ? 341 : 229);
    load_aes_key(profile, size % 3 ? "%02x " : "%02x", true, key);
    mbedtls_platform_zeroize(key, sizeof(key));
    return 0;
}
