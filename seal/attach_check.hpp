// SPDX-License-Identifier: Apache-2.0
// The second step of two-step signing: a raw signature made elsewhere goes into the unsigned
// image that the first step wrote, once everything that can be checked without the AES key is.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_layout.hpp"
#include "seal/sealed_header.hpp"

// The files of the second step.
struct AttachFiles {
    const char* signature;   // the 128-byte raw signature, most significant byte first
    const char* image;       // the unsigned image
    const char* public_key;  // nullptr, or the key the header must carry (rsa_pub.txt or PEM)
};

// Reads the signature and the unsigned image (into ImageBuffer) and checks, in this order: the
// signature's length; the image's size, boot tag and secure marker; its signature field, all
// zero as the first step left it; its data checksum against the encrypted payload; its header
// checksum against the one sealing left; the header's RSA key (against files.public_key when
// given); and the signature against that key over the recomputed header digest. When all pass,
// puts the signature into the image, stores the digest it covers in digest and returns 0;
// otherwise returns 1 with *why naming the file and the check that failed.
int attach_signature(const AttachFiles& files, const ChipProfile& profile,
                     uint8_t digest[kHeaderDigestSize], std::string* why);
