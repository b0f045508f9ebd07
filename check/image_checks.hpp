// SPDX-License-Identifier: Apache-2.0
// Checks of a written image, made the way the boot ROM reads it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "seal/key_fingerprint.hpp"

// A check passed, failed, or could not be made from what the image and the keys hold.
enum class CheckStatus { kOk, kFail, kUnchecked };

// A value that a check compared, for the JSON report beside the text: a number, or full
// lower-case hexadecimal (a digest, say).
struct CheckValue {
    std::string key;  // "stored", "computed", "expected", "offset", ...
    bool is_number;
    long long number;
    std::string hex;
};

struct CheckResult {
    std::string name;
    CheckStatus status;
    std::string detail;  // the values compared, as text
    std::vector<CheckValue> values;
};

struct VerifyRequest {
    int chip_id;
    int secure_boot;
    std::string aes_path;      // the AES key file, in aes.txt's format
    bool aes_named;            // named by the user: it must be there
    std::string rsa_pub_path;  // the RSA public key, in rsa_pub.txt's format or PEM
    bool rsa_pub_named;
    bool strict;  // a check that cannot be made, or the public built-in key, is a failure
};

// What the checks found besides their lines.
struct VerifyOutcome {
    bool decrypted = false;       // the plaintext image is in ScratchBuffer
    bool key_proven = false;      // the image shows the AES key is its key (digest or signature)
    bool key_unreadable = false;  // a key file could not be read: the checks that needed it failed
    std::string key_error;        // then, what was wrong with it
    // The AES key's fingerprint is the SHA-256 of its 16 bytes; the RSA public key's, of N's 128
    // and E's 32 bytes as the header holds them, low byte first.
    KeyUse aes;
    KeyUse rsa;
};

// How many checks passed, failed and could not be made.
struct CheckTally {
    size_t passed;
    size_t failed;
    size_t unchecked;
    std::string unchecked_names;  // their names, separated by ", "
};

// Checks the image_size bytes read into ImageBuffer as the kind of image the chip and secure-boot
// value ask for. For AES- and RSA-signed images the plaintext image is left in ScratchBuffer and
// outcome->decrypted is set. With request.strict no check is left unchecked: each such is failed.
std::vector<CheckResult> verify_image(size_t image_size, const VerifyRequest& request,
                                      VerifyOutcome* outcome);

// Writes the plaintext image of ScratchBuffer to path (mode 0600) when it was decrypted with a key
// the image shows is its own, and returns the line that says whether it was written.
CheckResult write_decrypted_image(const std::string& path, const VerifyOutcome& outcome);

// Counts the results by status.
CheckTally tally_checks(const std::vector<CheckResult>& results);

// "OK", "FAIL" or "UNCHECKED".
const char* status_name(CheckStatus status);

// "ok", "fail" or "unchecked": the overall result of the tally.
const char* result_name(const CheckTally& tally);
