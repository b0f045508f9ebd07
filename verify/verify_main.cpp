// SPDX-License-Identifier: Apache-2.0
// bootseal-verify: checks an image that bootseal wrote, the way the boot ROM would.
#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/file_replace.hpp"
#include "image/image_file.hpp"
#include "image/image_layout.hpp"
#include "image/report_text.hpp"
#include "image/seal_mode.hpp"
#include "verify/image_checks.hpp"

namespace {

const char kUsage[] =
    "Usage: bootseal-verify IMAGE --chip N --secure M [--keys DIR] [--aes-key FILE]\n"
    "                       [--rsa-pub FILE] [--decrypt OUT] [--strict] [--json]\n"
    "\n"
    "Checks an image written by bootseal for chip N and secure-boot mode M: its size, boot tag\n"
    "and DRAM parameter count; the header checksum of a plain image; the marker, data checksum,\n"
    "payload, image digest, header digest, signature and final checksum of a secure image; the\n"
    "key stamp, checksum and wrapped key of a wr-key image. Prints one line per check: OK,\n"
    "FAIL, or UNCHECKED when what the image and the keys hold cannot confirm it (an RSA key\n"
    "without its public key, the AES key on chips other than 229 and 341, a DRAM table that\n"
    "runs into bytes that sealing overwrote).\n"
    "\n"
    "  --chip N        the chip identifier the image was made for (required)\n"
    "  --secure M      the secure_boot value it was made with (required)\n"
    "  --keys DIR      folder of aes.txt and rsa_pub.txt (default: the working directory; a\n"
    "                  named folder must exist); without aes.txt the built-in default key is\n"
    "                  assumed\n"
    "  --aes-key FILE  the AES key file, in aes.txt's format (it must exist)\n"
    "  --rsa-pub FILE  the RSA public key, in rsa_pub.txt's format or PEM (it must exist)\n"
    "  --decrypt OUT   write the plaintext image of an AES- or RSA-signed image to OUT\n"
    "  --strict        fail every check that cannot be made, and the built-in default AES\n"
    "                  key, which is public: what a release pipeline should use\n"
    "  --json          print the results as one JSON object\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n"
    "\n"
    "Exit status: 0 when every check passed, or passed and could not be made (never with\n"
    "--strict); 1 when a check failed or the report or plaintext could not be written; 2 for a\n"
    "usage error, a named key folder or key file that does not exist included; 3 when the\n"
    "image or a key file could not be read.\n";

int usage_error(const char* message, const char* value = nullptr) {
    if (value != nullptr) {
        fprintf(stderr, "bootseal-verify: %s '%s'\n", message, value);
    } else {
        fprintf(stderr, "bootseal-verify: %s\n", message);
    }
    fprintf(stderr, "Try 'bootseal-verify --help' for more information.\n");
    return 2;
}

// Whether a key folder or key file named on the command line is there (a dangling link is not).
bool named_path_exists(const char* path, bool want_directory) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    return want_directory == S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {
        {"chip", required_argument, nullptr, 'c'}, {"secure", required_argument, nullptr, 's'},
        {"keys", required_argument, nullptr, 'k'}, {"decrypt", required_argument, nullptr, 'd'},
        {"aes-key", required_argument, nullptr, 'a'}, {"rsa-pub", required_argument, nullptr, 'p'},
        {"json", no_argument, nullptr, 'j'},       {"strict", no_argument, nullptr, 't'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'v'},    {nullptr, 0, nullptr, 0}};
    int chip = 0, secure = 0;
    bool have_chip = false, have_secure = false, json = false, strict = false;
    bool key_dir_named = false;
    std::string key_dir = ".";
    const char* aes_key = nullptr;
    const char* rsa_pub = nullptr;
    const char* decrypt_path = nullptr;
    opterr = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, "", kOptions, nullptr);
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
                json = true;
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
                return usage_error("unknown or incomplete option", argv[optind - 1]);
        }
    }
    if (optind + 1 != argc) return usage_error("expects exactly one IMAGE");
    if (!have_chip || !have_secure) return usage_error("--chip and --secure are required");
    const std::string mode = seal_mode_name(decide_mode(select_chip_profile(chip), secure));
    if (decrypt_path != nullptr && mode != "AES-signed" && mode != "RSA-signed") {
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
    const char* image_path = argv[optind];

    const long size = load_image_file(image_path);
    if (size < 0) {
        fprintf(stderr, "bootseal-verify: cannot read '%s': %s\n", image_path, strerror(errno));
        return 3;
    }
    VerifyOutcome outcome;
    const std::vector<CheckResult> results = verify_image(
        static_cast<size_t>(size),
        {chip, secure, aes_key ? aes_key : key_dir + "/aes.txt", aes_key != nullptr,
         rsa_pub ? rsa_pub : key_dir + "/rsa_pub.txt", rsa_pub != nullptr, strict},
        &outcome);
    const bool decrypted = outcome.decrypted;
    const CheckTally tally = tally_checks(results);
    size_t failed = tally.failed;

    std::string decrypt_note;
    bool decrypt_ok = false;
    if (decrypt_path != nullptr) {
        if (!decrypted) {
            decrypt_note = "not written: the payload was not decrypted";
        } else if (replace_file(decrypt_path, ScratchBuffer, kImageSize, 0666,
                                FileMode::kLikeOpen, nullptr) !=
                   WriteResult::kWritten) {
            decrypt_note = std::string("cannot write '") + decrypt_path + "'";
        } else {
            decrypt_note = std::string("plaintext image written to '") + decrypt_path + "'";
            decrypt_ok = true;
        }
        if (!decrypt_ok) ++failed;
    }

    if (json) {
        printf("{\"image\": %s, \"chip\": %d, \"secure\": %d, \"kind\": %s, \"checks\": [",
               json_string(image_path).c_str(), chip, secure, json_string(mode).c_str());
        for (size_t i = 0; i < results.size(); ++i) {
            printf("%s{\"name\": %s, \"status\": \"%s\", \"detail\": %s}", i ? ", " : "",
                   json_string(results[i].name).c_str(), status_name(results[i].status),
                   json_string(results[i].detail).c_str());
        }
        printf("]");
        if (decrypt_path != nullptr) printf(", \"decrypt\": %s", json_string(decrypt_note).c_str());
        printf(", \"result\": \"%s\"}\n",
               failed ? "FAIL" : tally.unchecked ? "UNCHECKED" : "OK");
    } else {
        printf("%s: chip %d, secure boot %d, %s image\n", image_path, chip, secure, mode.c_str());
        for (const CheckResult& r : results) {
            printf("%-16s %-4s  %s\n", r.name.c_str(), status_name(r.status), r.detail.c_str());
        }
        if (decrypt_path != nullptr) {
            printf("%-16s %-4s  %s\n", "decrypt", decrypt_ok ? "OK" : "FAIL", decrypt_note.c_str());
        }
        if (failed) {
            printf("result           FAIL  %zu of %zu checks failed\n", failed,
                   results.size() + (decrypt_path ? 1 : 0));
        } else if (tally.unchecked) {
            printf("result           UNCHECKED  %zu passed, %zu could not be made (%s): see their "
                   "lines\n",
                   tally.passed + (decrypt_ok ? 1 : 0), tally.unchecked,
                   tally.unchecked_names.c_str());
        } else {
            printf("result           OK    every check passed\n");
        }
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "bootseal-verify: cannot write the report: %s\n", strerror(errno));
        return 1;
    }
    if (outcome.key_unreadable) return 3;
    return failed ? 1 : 0;
}
