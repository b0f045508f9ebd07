// SPDX-License-Identifier: Apache-2.0
// What bootseal-sign's command line asks for, and whether its options fit together.
#pragma once

#include <string>

struct SignOptions {
    int chip = 0;
    int secure = 0;
    bool have_chip = false, have_secure = false;
    const char* aes_key = nullptr;
    bool default_aes_key = false;
    const char* rsa_key = nullptr;
    const char* rsa_pub = nullptr;
    const char* to_sign = nullptr;
    const char* attach = nullptr;
    const char* passphrase_file = nullptr;
    bool json = false, quiet = false;
    bool reseal = false;  // a secure image may be sealed again
    const char* input = nullptr;
    const char* output = nullptr;
};

// The usage error of options that exclude each other, that lack one they need, or that would be
// left unused by the kind of image the chip and secure value make; "" when they fit together.
// Each message names the options.
std::string sign_options_problem(const SignOptions& o);
