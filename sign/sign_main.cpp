// SPDX-License-Identifier: Apache-2.0
// bootseal-sign: bootseal's images, with keys named on the command line and two-step signing.
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/command_line.hpp"
#include "image/distinct_files.hpp"
#include "image/image_layout.hpp"
#include "image/recover_folders.hpp"
#include "image/report_text.hpp"
#include "image/seal_mode.hpp"
#include "keys/key_files.hpp"
#include "keys/pem_keys.hpp"
#include "keys/secret_file_mode.hpp"
#include "platform/entry.hpp"
#include "seal/attach_check.hpp"
#include "seal/make_image.hpp"
#include "seal/sealing.hpp"
#include "sign/sign_options.hpp"
#include "sign/sign_output.hpp"
#include "token/pkcs11_token.hpp"

namespace {

const char kUsage[] =
    "Usage: bootseal-sign --chip N --secure M [options] INPUT OUTPUT\n"
    "       bootseal-sign --chip 341 --secure 2 --attach SIGNATURE [--rsa-pub FILE]\n"
    "                     UNSIGNED OUTPUT\n"
    "\n"
    "Makes the image that 'bootseal INPUT OUTPUT N M' makes, byte for byte, with keys named\n"
    "on the command line, and prints a short report instead of bootseal's transcript.\n"
    "\n"
    "  --chip N            the chip identifier (required)\n"
    "  --secure M          the secure_boot value (required)\n"
    "  --aes-key FILE      the AES key, in aes.txt's format\n"
    "  --default-aes-key   use the built-in AES key, which is public; every secure image\n"
    "                      needs this or --aes-key\n"
    "  --rsa-key KEY       the RSA private key: rsa_priv.txt's format, a PEM or DER key\n"
    "                      (PKCS#1 or PKCS#8; an encrypted one asks for its passphrase), or\n"
    "                      a key in a PKCS#11 token, named by a pkcs11: URI\n"
    "  --passphrase-file FILE\n"
    "                      the passphrase of an encrypted --rsa-key: the file's first line\n"
    "  --rsa-pub FILE      the RSA public key: rsa_pub.txt's format, PEM or DER; optional\n"
    "                      with a PEM or DER private key, or a token that holds it\n"
    "  --to-sign BLOCK     sign in two steps: write OUTPUT with a zero signature, and BLOCK,\n"
    "                      the 128 bytes the private key must raise to D (needs --rsa-pub)\n"
    "  --attach SIGNATURE  put the 128-byte raw signature of BLOCK into UNSIGNED, after\n"
    "                      checking both, and write the signed image to OUTPUT; with\n"
    "                      --rsa-pub the header must carry that key\n"
    "  --reseal            seal INPUT even when it is a secure image already (which encrypts\n"
    "                      its payload twice: it will not boot as it was)\n"
    "  --json              print the report as one JSON object\n"
    "  --quiet             print nothing on success\n"
    "  --help              show this help and exit (also -h)\n"
    "  --version           show the version and exit\n"
    "\n"
    "Files are named: '-' is not standard input or output here.\n"
    "Exit status: 0 when the image was written, 1 when it was not (or the report could not be\n"
    "printed), 2 for a usage error (a named key file that does not exist included).\n";

const char kTool[] = "bootseal-sign";

// The token's private operation, in the form the sealing path calls.
int token_sign(const uint8_t input[128], uint8_t output[128], const char** why) {
    const int result = token_private_operation(input, output);
    *why = token_error().c_str();
    return result;
}

// What each option's argument is, for the message when it is missing.
const OptionArgument kArguments[] = {
    {"chip", "a number"},           {"secure", "a number"},        {"aes-key", "a file"},
    {"rsa-key", "a file or a URI"}, {"rsa-pub", "a file"},         {"to-sign", "a file"},
    {"attach", "a file"},           {"passphrase-file", "a file"}, {nullptr, nullptr}};

int parse_options(int argc, char** argv, SignOptions* o) {
    static const option kOptions[] = {{"chip", required_argument, nullptr, 'c'},
                                      {"secure", required_argument, nullptr, 's'},
                                      {"aes-key", required_argument, nullptr, 'a'},
                                      {"default-aes-key", no_argument, nullptr, 'D'},
                                      {"rsa-key", required_argument, nullptr, 'r'},
                                      {"rsa-pub", required_argument, nullptr, 'p'},
                                      {"to-sign", required_argument, nullptr, 't'},
                                      {"attach", required_argument, nullptr, 'A'},
                                      {"passphrase-file", required_argument, nullptr, 'P'},
                                      {"json", no_argument, nullptr, 'j'},
                                      {"quiet", no_argument, nullptr, 'q'},
                                      {"reseal", no_argument, nullptr, 'R'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'v'},
                                      {nullptr, 0, nullptr, 0}};
    for (;;) {
        int option = 0;
        std::string error;
        if (!next_option(argc, argv, "h", kOptions, kArguments, &option, &error)) {
            return usage_error(kTool, error);
        }
        if (option == -1) break;
        switch (option) {
            case 'c':
                if (!parse_decimal(optarg, &o->chip)) {
                    return usage_error(kTool,
                                       std::string("--chip takes a number, not '") + optarg + "'");
                }
                o->have_chip = true;
                break;
            case 's':
                if (!parse_decimal(optarg, &o->secure)) {
                    return usage_error(
                        kTool, std::string("--secure takes a number, not '") + optarg + "'");
                }
                o->have_secure = true;
                break;
            case 'a':
                o->aes_key = optarg;
                break;
            case 'D':
                o->default_aes_key = true;
                break;
            case 'r':
                o->rsa_key = optarg;
                break;
            case 'p':
                o->rsa_pub = optarg;
                break;
            case 't':
                o->to_sign = optarg;
                break;
            case 'A':
                o->attach = optarg;
                break;
            case 'P':
                o->passphrase_file = optarg;
                break;
            case 'j':
                o->json = true;
                break;
            case 'q':
                o->quiet = true;
                break;
            case 'R':
                o->reseal = true;
                break;
            case 'h':
                fputs(kUsage, stdout);
                return output_written(kTool, "the help", "") ? 0 : 1;
            default:  // 'v'
                printf("bootseal-sign %s\n", BOOTSEAL_VERSION);
                return output_written(kTool, "the version", "") ? 0 : 1;
        }
    }
    if (!o->have_chip || !o->have_secure) {
        return usage_error(kTool, "--chip and --secure are required");
    }
    if (argc - optind != 2) return usage_error(kTool, "takes two file arguments: INPUT OUTPUT");
    o->input = argv[optind];
    o->output = argv[optind + 1];

    const std::string problem = sign_options_problem(*o);
    if (!problem.empty()) return usage_error(kTool, problem);
    std::string why;
    if (o->rsa_key != nullptr && is_pkcs11_uri(o->rsa_key) &&
        check_pkcs11_uri(o->rsa_key, &why) != 0) {
        return usage_error(kTool, why);
    }
    return -1;  // go on
}

// Prints the report unless told not to; a report that cannot be printed fails the run.
int report(const SignOptions& o, const SignReport& report) {
    if (o.quiet) return 0;
    print_sign_report(report, o.json);
    return output_written(kTool, "the report", written_files_text(report)) ? 0 : 1;
}

int seal(const SignOptions& o) {
    const ChipProfile& profile = select_chip_profile(o.chip);
    SignReport r;
    r.output = o.output;
    r.chip = o.chip;
    r.secure = o.secure;
    r.to_sign = o.to_sign;
    r.mode = decide_mode(profile, o.secure);
    const bool token = o.rsa_key != nullptr && is_pkcs11_uri(o.rsa_key);
    warn_if_readable_by_others(kTool, o.aes_key, "a secret key");
    warn_if_readable_by_others(kTool, token ? nullptr : o.rsa_key, "a secret key");
    warn_if_readable_by_others(kTool, o.passphrase_file, "a passphrase");
    set_passphrase_file(o.passphrase_file);
    if (token) warn_if_readable_by_others(kTool, pkcs11_pin_source(o.rsa_key).c_str(), "a PIN");
    RsaKeyContext token_key;
    rsa_key_init(&token_key);
    bool token_has_public = false;
    const std::string uri_text = token ? shown_pkcs11_uri(o.rsa_key) : std::string();
    if (token) {
        std::string why;
        if (open_token_key(o.rsa_key, &token_key, &token_has_public, &why) != 0) {
            close_token();
            rsa_key_free(&token_key);
            return failure(kTool, why);
        }
    }

    KeySources sources;
    sources.aes_path = o.aes_key;
    sources.aes_optional = false;
    sources.rsa_private_path = o.rsa_key != nullptr ? o.rsa_key : "";
    sources.rsa_public_path = o.rsa_pub;
    sources.pem_keys = true;
    sources.signer = o.to_sign != nullptr ? RsaSigner::kDeferred : RsaSigner::kPrivateKey;
    if (token) {
        sources.signer = RsaSigner::kExternal;
        sources.external_operation = token_sign;
        sources.external_public_key = token_has_public ? &token_key : nullptr;
        sources.external_name = uri_text.c_str();
    }
    set_key_sources(sources);
    std::string reason;
    const int result = make_image_quietly(o.input, profile, r.mode, o.chip, o.reseal, &reason);
    close_token();
    rsa_key_free(&token_key);
    if (result != 0 && rsa_public_key_missing()) return usage_error(kTool, reason);
    if (result != 0) return failure(kTool, reason);

    describe_sealed_keys(o.aes_key, token ? uri_text.c_str() : nullptr, o.rsa_key, o.rsa_pub, &r);
    if (!write_sign_outputs(o.output, o.to_sign)) return 1;
    return report(o, r);
}

int attach(const SignOptions& o) {
    uint8_t digest[kHeaderDigestSize];
    std::string why;
    if (attach_signature({o.attach, o.input, o.rsa_pub}, select_chip_profile(o.chip), digest,
                         &why) != 0) {
        return failure(kTool, why);
    }
    if (!write_sign_outputs(o.output, nullptr)) return 1;
    SignReport r;
    r.output = o.output;
    r.chip = o.chip;
    r.secure = o.secure;
    r.mode = SealMode::kRsaSigned;
    describe_attached_signature(digest, o.attach, o.rsa_pub, &r);
    return report(o, r);
}

}  // namespace

int tool_main(int argc, char** argv) {
    keep_keys_out_of_core_files("bootseal-sign");  // first, before any key is read
    SignOptions options;
    // A run that asks for JSON gets one object whatever the outcome, a usage error included.
    set_json_errors(option_word_given(argc, argv, "--json"));
    const int parsed = parse_options(argc, argv, &options);
    if (parsed >= 0) return parsed;
    const SignOptions& o = options;
    const bool token = o.rsa_key != nullptr && is_pkcs11_uri(o.rsa_key);
    // The image may be written over its input, as bootseal does; no other two paths may meet.
    const NamedPath paths[] = {{o.attach ? "the unsigned image" : "the input", o.input},
                               {"the output", o.output},
                               {"the --to-sign block", o.to_sign},
                               {"the --attach signature", o.attach},
                               {"the --aes-key file", o.aes_key},
                               {"the --rsa-key file", token ? nullptr : o.rsa_key},
                               {"the --rsa-pub file", o.rsa_pub},
                               {"the --passphrase-file", o.passphrase_file}};
    const size_t count = sizeof(paths) / sizeof(paths[0]);
    const std::string dash = dash_path_message(paths, count);
    if (!dash.empty()) return usage_error(kTool, dash);
    const std::string shared = shared_file_message(paths, count, 0, 1);
    if (!shared.empty()) return usage_error(kTool, shared);
    recover_folders(kTool,
                    {o.output, o.to_sign, o.aes_key, token ? nullptr : o.rsa_key, o.rsa_pub});
    return options.attach != nullptr ? attach(options) : seal(options);
}
