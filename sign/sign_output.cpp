// SPDX-License-Identifier: Apache-2.0
#include "sign/sign_output.hpp"

#include <cstdio>
#include <utility>

#include "image/command_line.hpp"
#include "image/image_layout.hpp"
#include "image/report_text.hpp"
#include "keys/key_bytes.hpp"
#include "platform/file_replace.hpp"
#include "seal/rsa_signing.hpp"
#include "seal/sealed_header.hpp"
#include "seal/sealing.hpp"

namespace {

const char kTool[] = "bootseal-sign";

}  // namespace

std::string describe_key_file(const char* path) {
    const bool text = key_file_format(path) == KeyFileFormat::kText;
    return std::string(path) + (text ? " (text)" : " (PEM or DER)");
}

void describe_sealed_keys(const char* aes_key, const char* token, const char* rsa_key,
                          const char* rsa_pub, SignReport* r) {
    if (r->mode != SealMode::kPlain) {
        r->aes_key =
            aes_key != nullptr ? std::string(aes_key) : "the built-in default key (public)";
        r->aes_use = {aes_key != nullptr ? "file" : "built-in", aes_key != nullptr ? aes_key : "",
                      sealed_aes_key_fingerprint()};
    }
    if (r->mode == SealMode::kAesSigned || r->mode == SealMode::kRsaSigned) {
        r->image_digest = hex_bytes(ImageBuffer + kImageDigestOffset, kImageDigestSize);
        r->header_digest = hex_bytes(SealedHeaderDigest, sizeof(SealedHeaderDigest));
    }
    if (r->mode != SealMode::kRsaSigned) return;
    if (rsa_key != nullptr) {
        r->rsa_private =
            token != nullptr ? std::string(token) + " (token)" : describe_key_file(rsa_key);
    }
    const char* public_file = rsa_pub != nullptr ? rsa_pub : token != nullptr ? "" : rsa_key;
    r->rsa_use = {token != nullptr && rsa_pub == nullptr ? "token" : "file",
                  public_file != nullptr ? public_file : "", image_key_fingerprint()};
    r->rsa_public = rsa_pub != nullptr ? describe_key_file(rsa_pub)
                    : token != nullptr ? "from the token"
                                       : "from the private key";
    r->signature = r->to_sign != nullptr ? "deferred: the signature field is zero"
                                         : "verified with the public key";
}

void describe_attached_signature(const uint8_t* digest, const char* signature, const char* rsa_pub,
                                 SignReport* r) {
    r->image_digest = hex_bytes(ImageBuffer + kImageDigestOffset, kImageDigestSize);
    r->header_digest = hex_bytes(digest, kHeaderDigestSize);
    if (rsa_pub != nullptr) r->rsa_public = describe_key_file(rsa_pub);
    r->rsa_use = {rsa_pub != nullptr ? "file" : "header", rsa_pub != nullptr ? rsa_pub : "",
                  image_key_fingerprint()};
    r->signature = std::string("from ") + signature + ", verified with the header's key";
}

bool write_sign_outputs(const char* output, const char* block_path) {
    StagedFile staged[2];
    const size_t count = block_path != nullptr ? 2 : 1;
    if (stage_file(&staged[0], output, ImageBuffer, kImageSize, 0666, FileMode::kLikeOpen) !=
        WriteResult::kWritten) {
        failure(kTool,
                std::string("cannot write '") + output + "': " + staged_file_reason(staged[0]));
        return false;
    }
    if (count == 2 && stage_file(&staged[1], block_path, DeferredBlock, kRsaBlockSize, 0666,
                                 FileMode::kLikeOpen) != WriteResult::kWritten) {
        failure(kTool,
                std::string("cannot write '") + block_path + "': " + staged_file_reason(staged[1]));
        abandon_files(staged, 1);
        return false;
    }
    size_t failed = 0;
    if (!commit_files(staged, count, nullptr, &failed)) {
        const char* path = failed == 0 ? output : block_path;
        failure(kTool, std::string("cannot put '") + path + "' in place: " +
                           staged_file_reason(staged[failed]) + "; nothing was written");
        return false;
    }
    return true;
}

void print_sign_report(const SignReport& r, bool json) {
    if (json) {
        printf(
            "{\"schema_version\": 1, \"result\": \"written\", \"output\": %s, \"kind\": %s, "
            "\"chip\": %d, \"secure\": %d",
            json_string(r.output).c_str(), json_string(seal_mode_name(r.mode)).c_str(), r.chip,
            r.secure);
        const std::pair<const char*, const std::string*> fields[] = {
            {"aes_key", &r.aes_key},           {"rsa_private_key", &r.rsa_private},
            {"rsa_public_key", &r.rsa_public}, {"signature", &r.signature},
            {"image_digest", &r.image_digest}, {"header_digest", &r.header_digest}};
        for (const auto& field : fields) {
            if (!field.second->empty()) {
                printf(", \"%s\": %s", field.first, json_string(*field.second).c_str());
            }
        }
        if (r.to_sign != nullptr) printf(", \"to_sign\": %s", json_string(r.to_sign).c_str());
        printf(", \"keys\": {\"aes\": %s, \"rsa\": %s}}\n", json_key_use(r.aes_use).c_str(),
               json_key_use(r.rsa_use).c_str());
        return;
    }
    printf("%s: %s image for chip %d (secure boot %d)\n", r.output, seal_mode_name(r.mode), r.chip,
           r.secure);
    const std::pair<const char*, const std::string*> lines[] = {{"aes key", &r.aes_key},
                                                                {"rsa private key", &r.rsa_private},
                                                                {"rsa public key", &r.rsa_public},
                                                                {"image digest", &r.image_digest},
                                                                {"header digest", &r.header_digest},
                                                                {"signature", &r.signature}};
    for (const auto& line : lines) {
        if (!line.second->empty()) printf("  %-16s %s\n", line.first, line.second->c_str());
    }
    const std::pair<const char*, const KeyUse*> keys[] = {{"aes key sha256", &r.aes_use},
                                                          {"rsa key sha256", &r.rsa_use}};
    for (const auto& key : keys) {
        if (!key.second->fingerprint.empty()) {
            printf("  %-16s %s\n", key.first, key.second->fingerprint.c_str());
        }
    }
    if (r.to_sign != nullptr) {
        printf("  %-16s %s: sign it, then run --attach with the signature\n", "to sign", r.to_sign);
    }
}

std::string written_files_text(const SignReport& report) {
    if (report.to_sign == nullptr) {
        return std::string("the image '") + report.output + "' was written";
    }
    return std::string("the image '") + report.output + "' and the block '" + report.to_sign +
           "' were written";
}
