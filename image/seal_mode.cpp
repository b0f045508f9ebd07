// SPDX-License-Identifier: Apache-2.0
#include "image/seal_mode.hpp"

#include <cstdlib>

SealMode decide_mode(const ChipProfile& profile, int secure_boot) {
    if (secure_boot == 3 && !profile.never_wr_key) return SealMode::kWrKey;
    if (secure_boot == 0) return SealMode::kPlain;
    if (secure_boot == 2 && profile.can_sign_rsa) return SealMode::kRsaSigned;
    return SealMode::kAesSigned;
}

const char* seal_mode_name(SealMode mode) {
    switch (mode) {
        case SealMode::kPlain:
            return "plain";
        case SealMode::kAesSigned:
            return "AES-signed";
        case SealMode::kRsaSigned:
            return "RSA-signed";
        case SealMode::kWrKey:
            break;
    }
    return "wr-key";
}

int parse_number(const char* text) { return static_cast<int>(strtol(text, nullptr, 10)); }
