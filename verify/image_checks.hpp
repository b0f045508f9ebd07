// SPDX-License-Identifier: Apache-2.0
// Checks of a written image, made the way the boot ROM reads it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class CheckStatus { kOk, kFail, kSkip };

struct CheckResult {
    std::string name;
    CheckStatus status;
    std::string detail;  // the values compared
};

struct VerifyRequest {
    int chip_id;
    int secure_boot;
    std::string aes_path;      // the AES key file, in aes.txt's format
    bool aes_named;            // named by the user: it must be there
    std::string rsa_pub_path;  // the RSA public key, in rsa_pub.txt's format or PEM
    bool rsa_pub_named;
};

// Checks the image_size bytes read into ImageBuffer as the kind of image the chip and secure-boot
// value ask for. For AES- and RSA-signed images the plaintext image is left in ScratchBuffer and
// *decrypted is set.
std::vector<CheckResult> verify_image(size_t image_size, const VerifyRequest& request,
                                      bool* decrypted);

// "OK", "FAIL" or "SKIP".
const char* status_name(CheckStatus status);
