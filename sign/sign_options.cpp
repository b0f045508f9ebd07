// SPDX-License-Identifier: Apache-2.0
#include "sign/sign_options.hpp"

#include <utility>

#include "image/command_line.hpp"
#include "image/image_layout.hpp"
#include "image/seal_mode.hpp"
#include "token/pkcs11_token.hpp"

std::string sign_options_problem(const SignOptions& o) {
    const SealMode mode = decide_mode(select_chip_profile(o.chip), o.secure);
    const bool rsa = mode == SealMode::kRsaSigned;
    if (o.json && o.quiet) return "--json and --quiet exclude each other";
    if (o.reseal && (o.attach != nullptr || (mode != SealMode::kAesSigned && !rsa))) {
        return "--reseal is for sealing an AES- or RSA-signed image, not with --attach";
    }
    if (o.aes_key != nullptr && o.default_aes_key) {
        return "--aes-key and --default-aes-key exclude each other";
    }
    if (mode == SealMode::kPlain && (o.aes_key != nullptr || o.default_aes_key)) {
        return "a plain image takes no AES key";
    }
    const std::pair<const char*, bool> rsa_options[] = {{"--rsa-key", o.rsa_key != nullptr},
                                                        {"--rsa-pub", o.rsa_pub != nullptr},
                                                        {"--to-sign", o.to_sign != nullptr},
                                                        {"--attach", o.attach != nullptr}};
    for (const auto& option : rsa_options) {
        if (rsa || !option.second) continue;
        return std::string(option.first) +
               ": RSA keys and two-step signing are for RSA-signed images; this chip and value "
               "make " +
               (mode == SealMode::kAesSigned ? "an " : "a ") + seal_mode_name(mode) + " image";
    }
    // The second step takes the signature, the unsigned image and at most the key to pin.
    const std::pair<const char*, bool> not_with_attach[] = {
        {"--aes-key", o.aes_key != nullptr},
        {"--default-aes-key", o.default_aes_key},
        {"--rsa-key", o.rsa_key != nullptr},
        {"--to-sign", o.to_sign != nullptr}};
    for (const auto& option : not_with_attach) {
        if (o.attach == nullptr || !option.second) continue;
        return std::string("--attach and ") + option.first +
               " exclude each other: the second step needs no AES key and no private key";
    }
    if (o.to_sign != nullptr && (o.rsa_key != nullptr || o.rsa_pub == nullptr)) {
        return "--to-sign takes --rsa-pub and no --rsa-key: the private key is used elsewhere";
    }
    if (mode != SealMode::kPlain && o.attach == nullptr && o.aes_key == nullptr &&
        !o.default_aes_key) {
        return std::string("this ") + seal_mode_name(mode) +
               " image needs an AES key: give --aes-key FILE, or --default-aes-key for the "
               "built-in key, which is public";
    }
    if (o.passphrase_file != nullptr && (o.rsa_key == nullptr || is_pkcs11_uri(o.rsa_key))) {
        return "--passphrase-file needs --rsa-key naming a PEM or DER key file";
    }
    // A misspelt key name is a mistake on the command line, as in bootseal-verify.
    const std::pair<const char*, const char*> named_files[] = {
        {"--aes-key", o.aes_key},
        {"--rsa-key", o.rsa_key != nullptr && !is_pkcs11_uri(o.rsa_key) ? o.rsa_key : nullptr},
        {"--rsa-pub", o.rsa_pub},
        {"--passphrase-file", o.passphrase_file}};
    for (const auto& named : named_files) {
        if (named.second != nullptr && !named_path_exists(named.second, false)) {
            return std::string(named.first) + " names no file: '" + named.second + "'";
        }
    }
    if (rsa && o.attach == nullptr && o.to_sign == nullptr && o.rsa_key == nullptr) {
        return "an RSA-signed image needs --rsa-key (or --to-sign for two steps)";
    }
    return "";
}
