// SPDX-License-Identifier: Apache-2.0
// What bootseal-sign leaves behind: the image (with the block to sign, in two steps) and the
// report of the run.
#pragma once

#include <cstdint>
#include <string>

#include "image/seal_mode.hpp"
#include "seal/key_fingerprint.hpp"

// What the report tells of the run; an empty text is left out.
struct SignReport {
    const char* output = "";
    SealMode mode = SealMode::kPlain;
    int chip = 0, secure = 0;
    std::string aes_key, rsa_private, rsa_public, signature;
    std::string image_digest, header_digest;
    const char* to_sign = nullptr;  // the block written beside the image, if any
    KeyUse aes_use, rsa_use;        // the keys, with their fingerprints, as verify reports them
};

// "PATH (text)" or "PATH (PEM or DER)", as the key file's format is told.
std::string describe_key_file(const char* path);

// Fills the report's keys, digests and signature for an image sealed in ImageBuffer (its mode in
// report->mode, report->to_sign set for a deferred signature) from the keys the run named; token
// names the token a signature was made in, or is nullptr.
void describe_sealed_keys(const char* aes_key, const char* token, const char* rsa_key,
                          const char* rsa_pub, SignReport* report);

// Fills the report's digests, public key and signature for a signature attached from the
// file signature to the image in ImageBuffer, whose header digest is digest.
void describe_attached_signature(const uint8_t* digest, const char* signature, const char* rsa_pub,
                                 SignReport* report);

// Writes the image in ImageBuffer to output and, when block_path is given, the deferred block
// beside it, as one set: both or neither. Says why on standard error when it cannot.
bool write_sign_outputs(const char* output, const char* block_path);

// Prints the report on standard output, as text or as one JSON object.
void print_sign_report(const SignReport& report, bool json);

// What the run wrote, for a message that comes after: "the image 'x' was written".
std::string written_files_text(const SignReport& report);
