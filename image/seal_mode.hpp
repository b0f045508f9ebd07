// SPDX-License-Identifier: Apache-2.0
// Which kind of image a chip and a secure-boot value ask for.
#pragma once

#include "image/image_layout.hpp"

enum class SealMode { kPlain, kAesSigned, kRsaSigned, kWrKey };

// Decides the kind of image from the chip's profile and the secure-boot value.
SealMode decide_mode(const ChipProfile& profile, int secure_boot);

// "plain", "AES-signed", "RSA-signed" or "wr-key".
const char* seal_mode_name(SealMode mode);

// Decimal conversion with atoi's rules: leading blanks, a sign, digits; anything else gives 0.
int parse_number(const char* text);
