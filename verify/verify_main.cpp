// SPDX-License-Identifier: Apache-2.0
// bootseal-verify: checks an image that bootseal wrote, the way the boot ROM would.
#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check/image_checks.hpp"
#include "check/image_info.hpp"
#include "check/verify_report.hpp"
#include "image/command_line.hpp"
#include "image/distinct_files.hpp"
#include "image/image_file.hpp"
#include "image/image_layout.hpp"
#include "image/recover_folders.hpp"
#include "image/report_text.hpp"
#include "image/seal_mode.hpp"
#include "platform/entry.hpp"

namespace {

const char kUsage[] =
    "Usage: bootseal-verify IMAGE --chip N --secure M [--keys DIR] [--aes-key FILE]\n"
    "                       [--rsa-pub FILE] [--decrypt OUT] [--strict] [--json]\n"
    "       bootseal-verify IMAGE [--json]\n"
    "\n"
    "Checks an image written by bootseal for chip N and secure-boot mode M: its size, boot tag\n"
    "and DRAM parameter count; the header checksum of a plain image; the marker, data checksum,\n"
    "payload, image digest, header digest, signature and final checksum of a secure image; the\n"
    "key stamp, checksum and wrapped key of a wr-key image. Prints one line per check: OK,\n"
    "FAIL, or UNCHECKED when what the image and the keys hold cannot confirm it (an RSA key\n"
    "without its public key, the AES key on chips other than 229 and 341, a DRAM table that\n"
    "runs into bytes that sealing overwrote).\n"
    "\n"
    "Given neither --chip nor --secure, tells what the image can be and checks nothing: its\n"
    "size, which layouts' boot tag it carries and which chips use them, whether it carries a\n"
    "secure marker, a key stamp and an RSA key, and which --chip and --secure to try.\n"
    "\n"
    "  --chip N        the chip identifier the image was made for (required)\n"
    "  --secure M      the secure_boot value it was made with (required)\n"
    "  --keys DIR      folder of aes.txt and rsa_pub.txt (default: the working directory; a\n"
    "                  named folder must exist); without aes.txt the built-in default key is\n"
    "                  assumed\n"
    "  --aes-key FILE  the AES key file, in aes.txt's format (it must exist)\n"
    "  --rsa-pub FILE  the RSA public key, rsa_pub.txt's format, PEM or DER (must exist)\n"
    "  --decrypt OUT   write the plaintext image of an AES- or RSA-signed image to OUT\n"
    "  --strict        fail every check that cannot be made, and the built-in default AES\n"
    "                  key, which is public: what a release pipeline should use\n"
    "  --json          print the results as one JSON object, whatever the outcome (see\n"
    "                  bootseal-verify(1)); messages still go to standard error\n"
    "  -h, --help      show this help and exit\n"
    "  --version       show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  every check passed, or none failed and some could not be made (never with\n"
    "     --strict); or, without --chip and --secure, the image was described\n"
    "  1  a check failed, or the report or the plaintext could not be written\n"
    "  2  a usage error, a named key folder or key file that does not exist included\n"
    "  3  the image or a key file could not be read\n";

bool json_report = false;

// Reports a run that could not check: the message on standard error, and with --json the
// report's object, with what is known of the run, on standard output.
int cannot_check(int status, const std::string& message, VerifyReport report = VerifyReport()) {
    fprintf(stderr, "bootseal-verify: %s\n", message.c_str());
    if (status == 2) fprintf(stderr, "Try 'bootseal-verify --help' for more information.\n");
    if (json_report) {
        report.error = message;
        print_json_report(stdout, report);
    }
    return status;
}

int usage_error(const char* message, const char* value = nullptr) {
    return cannot_check(2, value != nullptr ? message + std::string(" '") + value + "'" : message);
}

// Reports an image that load_image_file could not read, with errno's reason.
int cannot_read(const VerifyReport& report) {
    const int error = errno;
    return cannot_check(3, "cannot read '" + report.image + "': " + strerror(error), report);
}

// Describes the image when neither --chip nor --secure was given.
int describe(const char* image_path) {
    const long size = load_image_file(image_path);
    if (size < 0) {
        VerifyReport report;
        report.image = image_path;
        return cannot_read(report);
    }
    const ImageInfo info = describe_image(static_cast<size_t>(size));
    if (json_report) {
        print_info_json(stdout, image_path, info);
    } else {
        print_info_text(stdout, image_path, info);
    }
    return 0;
}

// Returns 1 when the report could not be written whole, and status otherwise.
int report_written(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "bootseal-verify: cannot write the report: %s\n", strerror(errno));
        return 1;
    }
    return status;
}


}  // namespace

int tool_main(int argc, char** argv) {
    keep_keys_out_of_core_files("bootseal-verify");  // first, before any key is read
    static const option kOptions[] = {
        {"chip", required_argument, nullptr, 'c'}, {"secure", required_argument, nullptr, 's'},
        {"keys", required_argument, nullptr, 'k'}, {"decrypt", required_argument, nullptr, 'd'},
        {"aes-key", required_argument, nullptr, 'a'}, {"rsa-pub", required_argument, nullptr, 'p'},
        {"json", no_argument, nullptr, 'j'},       {"strict", no_argument, nullptr, 't'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'v'},    {nullptr, 0, nullptr, 0}};
    static const OptionArgument kArguments[] = {
        {"chip", "a number"},  {"secure", "a number"}, {"keys", "a folder"}, {"decrypt", "a file"},
        {"aes-key", "a file"}, {"rsa-pub", "a file"},  {nullptr, nullptr}};
    json_report = option_word_given(argc, argv, "--json");
    int chip = 0, secure = 0;
    bool have_chip = false, have_secure = false, strict = false;
    bool key_dir_named = false;
    std::string key_dir = ".";
    const char* aes_key = nullptr;
    const char* rsa_pub = nullptr;
    const char* decrypt_path = nullptr;
    for (;;) {
        int option = 0;
        std::string error;
        if (!next_option(argc, argv, "h", kOptions, kArguments, &option, &error)) {
            return usage_error(error.c_str());
        }
        if (option == -1) break;
        switch (option) {
            case 'c':
                if (!parse_decimal(optarg, &chip)) return usage_error("--chip takes a number, not", optarg);
                have_chip = true;
                break;
            case 's':
                if (!parse_decimal(optarg, &secure)) {
                    return usage_error("--secure takes a number, not", optarg);
                }
                have_secure = true;
                break;
            case 'k':
                key_dir = optarg;
                key_dir_named = true;
                break;
            case 'a':
                aes_key = optarg;
                break;
            case 'p':
                rsa_pub = optarg;
                break;
            case 'd':
                decrypt_path = optarg;
                break;
            case 'j':
                json_report = true;
                break;
            case 't':
                strict = true;
                break;
            case 'h':
                fputs(kUsage, stdout);
                return 0;
            case 'v':
                printf("bootseal-verify %s\n", BOOTSEAL_VERSION);
                return 0;
            default:
                break;
        }
    }
    if (optind + 1 != argc) return usage_error("expects exactly one IMAGE");
    const char* image_path = argv[optind];
    if (have_chip != have_secure) {
        return usage_error(
            "--chip and --secure go together: give both to check the image, or "
            "neither to be told what it can be");
    }
    if (!have_chip) {
        // Options of a check without one to make are refused: a pipeline that lost its --chip
        // must not take a description for a pass.
        if (strict || decrypt_path || aes_key || rsa_pub || key_dir_named) {
            return usage_error(
                "--strict, --decrypt, --keys, --aes-key and --rsa-pub need --chip and "
                "--secure");
        }
        recover_folders("bootseal-verify", {image_path});
        return report_written(describe(image_path));
    }
    VerifyReport report;
    report.image = image_path;
    report.have_mode = true;
    report.chip = chip;
    report.secure = secure;
    report.kind = seal_mode_name(decide_mode(select_chip_profile(chip), secure));
    if (decrypt_path != nullptr && report.kind != "AES-signed" && report.kind != "RSA-signed") {
        return usage_error("--decrypt needs an AES- or RSA-signed image");
    }
    // A misspelt key name must not fall back to the default key or to an unconfirmed one.
    if (key_dir_named && !named_path_exists(key_dir.c_str(), true)) {
        return usage_error("--keys names no folder:", key_dir.c_str());
    }
    if (aes_key != nullptr && !named_path_exists(aes_key, false)) {
        return usage_error("--aes-key names no file:", aes_key);
    }
    if (rsa_pub != nullptr && !named_path_exists(rsa_pub, false)) {
        return usage_error("--rsa-pub names no file:", rsa_pub);
    }

    // The plaintext may replace no file the run reads: not the image, not a key.
    const std::string folder_aes = key_dir + "/aes.txt", folder_pub = key_dir + "/rsa_pub.txt";
    const NamedPath paths[] = {{"the --decrypt output", decrypt_path},
                               {"the image", image_path},
                               {"the --aes-key file", aes_key ? aes_key : folder_aes.c_str()},
                               {"the --rsa-pub file", rsa_pub ? rsa_pub : folder_pub.c_str()}};
    const size_t count = decrypt_path != nullptr ? sizeof(paths) / sizeof(paths[0]) : 0;
    std::string clash = dash_path_message(paths, count);
    if (clash.empty()) clash = shared_file_message(paths, count);
    if (!clash.empty()) return usage_error(clash.c_str());

    recover_folders("bootseal-verify", {decrypt_path, aes_key, rsa_pub,
                                        aes_key && rsa_pub ? nullptr : key_dir.c_str()});
    const long size = load_image_file(image_path);
    if (size < 0) return cannot_read(report);
    VerifyOutcome outcome;
    report.checks =
        verify_image(static_cast<size_t>(size),
                     {chip, secure, aes_key ? aes_key : key_dir + "/aes.txt", aes_key != nullptr,
                      rsa_pub ? rsa_pub : key_dir + "/rsa_pub.txt", rsa_pub != nullptr, strict},
                     &outcome);
    if (decrypt_path != nullptr) {
        report.checks.push_back(write_decrypted_image(decrypt_path, outcome));
    }
    report.aes = outcome.aes;
    report.rsa = outcome.rsa;
    if (outcome.key_unreadable) report.error = outcome.key_error;
    if (json_report) {
        print_json_report(stdout, report);
    } else {
        print_text_report(stdout, report);
    }
    if (outcome.key_unreadable) return report_written(3);
    return report_written(tally_checks(report.checks).failed ? 1 : 0);
}
