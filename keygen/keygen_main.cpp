// SPDX-License-Identifier: Apache-2.0
// bootseal-keygen: makes the key files that bootseal reads.
#include <mbedtls/platform_util.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "image/command_line.hpp"
#include "image/distinct_files.hpp"
#include "image/recover_folders.hpp"
#include "image/report_text.hpp"
#include "keygen/key_making.hpp"
#include "keygen/output_folder.hpp"
#include "keygen/token_generation.hpp"
#include "keygen/token_keys.hpp"
#include "keys/key_files.hpp"
#include "keys/key_set.hpp"
#include "keys/pem_keys.hpp"
#include "keys/secret_file_mode.hpp"
#include "platform/entry.hpp"
#include "platform/file_status.hpp"
#include "platform/stop_signals.hpp"
#include "token/pkcs11_token.hpp"

namespace {

const char kUsage[] =
    "Usage: bootseal-keygen [--dir DIR] [--aes] [--pem] [--force]\n"
    "                       [--from-pem KEY [--passphrase-file FILE]]\n"
    "       bootseal-keygen --pkcs11 URI [--min-top-byte B] [--dir DIR] [--pem] [--force]\n"
    "       bootseal-keygen --pkcs11 URI --export-public [--dir DIR] [--pem] [--force]\n"
    "       bootseal-keygen --pkcs11 URI --list\n"
    "\n"
    "Writes a new 1024-bit RSA key pair for bootseal: rsa_priv.txt (N, D, P, Q, DP, DQ, QP;\n"
    "readable by its owner only) and rsa_pub.txt (N and E = 65537). A modulus made in software\n"
    "starts with the byte 0xFF, so that nearly every image can be signed.\n"
    "\n"
    "  --dir DIR   write the files into DIR (default: the working directory; created with\n"
    "              mode 0700 when it does not exist)\n"
    "  --aes       also write aes.txt with a random AES-128 key\n"
    "  --pem       also write private.pem (mode 0600) and public.pem, for openssl and tokens\n"
    "  --from-pem KEY\n"
    "              take the pair of an existing RSA private key (PEM or DER, PKCS#1 or\n"
    "              PKCS#8) instead of generating one\n"
    "  --passphrase-file FILE\n"
    "              with --from-pem: the passphrase of an encrypted key, the file's first line\n"
    "  --pkcs11 URI\n"
    "              generate the pair inside the PKCS#11 token the pkcs11: URI names (label\n"
    "              and id from the URI), for signing only; only rsa_pub.txt (and public.pem)\n"
    "              is written. If the run fails or is stopped, the pair is deleted again.\n"
    "  --min-top-byte B\n"
    "              with --pkcs11: keep the first modulus whose top byte is at least B, from\n"
    "              0x80 to 0xFF (default 0xFA: about one pair in 230, some 6 s with SoftHSM2,\n"
    "              and about 1.6% of images not signable; 0xFF takes some 8200 pairs)\n"
    "  --export-public\n"
    "              with --pkcs11: write rsa_pub.txt (and public.pem) of the key the URI names,\n"
    "              generating nothing\n"
    "  --list      with --pkcs11: list the token's RSA keys (label, id, size, top byte, and\n"
    "              which of the private and public objects are there); writes nothing\n"
    "  --force     replace key files that already exist, keeping each as FILE.old\n"
    "  --help      show this help and exit (also -h)\n"
    "  --version   show the version and exit\n"
    "\n"
    "Exit status: 0 when the files were written (or the keys listed); 1 when they were not, or\n"
    "when the report could not be written after them; 2 for a usage error; 128+N when signal N\n"
    "stopped the making of a key in a token (none is left there).\n";

const char kTool[] = "bootseal-keygen";

int usage_error(const std::string& message) { return ::usage_error(kTool, message); }

}  // namespace

int tool_main(int argc, char** argv) {
    keep_keys_out_of_core_files("bootseal-keygen");  // first, before any key is read
    static const option kOptions[] = {{"dir", required_argument, nullptr, 'd'},
                                      {"aes", no_argument, nullptr, 'a'},
                                      {"force", no_argument, nullptr, 'f'},
                                      {"from-pem", required_argument, nullptr, 'F'},
                                      {"pem", no_argument, nullptr, 'p'},
                                      {"pkcs11", required_argument, nullptr, 'P'},
                                      {"min-top-byte", required_argument, nullptr, 'm'},
                                      {"passphrase-file", required_argument, nullptr, 'W'},
                                      {"export-public", no_argument, nullptr, 'E'},
                                      {"list", no_argument, nullptr, 'L'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'v'},
                                      {nullptr, 0, nullptr, 0}};
    std::string dir = ".";
    bool dir_given = false, top_byte_given = false, export_public = false, list_keys = false;
    bool with_aes = false, force = false, with_pem = false;
    const char* from_pem = nullptr;
    const char* token_uri = nullptr;
    static const OptionArgument kArguments[] = {
        {"dir", "a folder"},         {"from-pem", "a file"},     {"passphrase-file", "a file"},
        {"pkcs11", "a pkcs11: URI"}, {"min-top-byte", "a byte"}, {nullptr, nullptr}};
    const char* passphrase_file = nullptr;
    unsigned min_top_byte = kTokenDefaultTopByte;
    for (;;) {
        int option = 0;
        std::string error;
        if (!next_option(argc, argv, "h", kOptions, kArguments, &option, &error)) {
            return usage_error(error);
        }
        if (option == -1) break;
        switch (option) {
            case 'd':
                dir = optarg;
                dir_given = true;
                break;
            case 'a':
                with_aes = true;
                break;
            case 'f':
                force = true;
                break;
            case 'F':
                from_pem = optarg;
                break;
            case 'p':
                with_pem = true;
                break;
            case 'P':
                token_uri = optarg;
                break;
            case 'W':
                passphrase_file = optarg;
                break;
            case 'm': {
                char* end = nullptr;
                const unsigned long value = strtoul(optarg, &end, 0);
                if (end == optarg || *end != '\0' || value < 0x80 || value > 0xFF) {
                    return usage_error("--min-top-byte takes a byte from 0x80 to 0xFF");
                }
                min_top_byte = static_cast<unsigned>(value);
                top_byte_given = true;
                break;
            }
            case 'E':
                export_public = true;
                break;
            case 'L':
                list_keys = true;
                break;
            case 'h':
                fputs(kUsage, stdout);
                return output_written(kTool, "the help", "") ? 0 : 1;
            default:  // 'v'
                printf("bootseal-keygen %s\n", BOOTSEAL_VERSION);
                return output_written(kTool, "the version", "") ? 0 : 1;
        }
    }
    if (optind != argc) return usage_error("takes no arguments besides options");
    if (top_byte_given && token_uri == nullptr) {
        return usage_error(
            "--min-top-byte needs --pkcs11: a generated or --from-pem key is "
            "taken whatever its top byte");
    }
    if (passphrase_file != nullptr && from_pem == nullptr) {
        return usage_error("--passphrase-file needs --from-pem");
    }
    // A pipe (--passphrase-file <(...)) is a file here too; a folder or nothing is not.
    if (passphrase_file != nullptr && !named_path_exists(passphrase_file, false)) {
        return usage_error(std::string("--passphrase-file names no file: '") + passphrase_file +
                           "'");
    }
    warn_if_readable_by_others("bootseal-keygen", from_pem, "a secret key");
    warn_if_readable_by_others("bootseal-keygen", passphrase_file, "a passphrase");
    set_passphrase_file(passphrase_file);
    if (token_uri != nullptr) {
        std::string why;
        if (from_pem != nullptr || with_aes) {
            return usage_error("--pkcs11 takes neither --from-pem nor --aes");
        }
        if (!is_pkcs11_uri(token_uri) || check_pkcs11_uri(token_uri, &why) != 0) {
            return usage_error(why.empty() ? "--pkcs11 takes a pkcs11: URI" : why);
        }
    }
    if ((export_public || list_keys) && token_uri == nullptr) {
        return usage_error("--export-public and --list need --pkcs11 URI");
    }
    if ((export_public || list_keys) && top_byte_given) {
        return usage_error(
            "--min-top-byte is for generating; --export-public and --list make no key");
    }
    if (export_public && list_keys) return usage_error("give either --export-public or --list");
    if (list_keys && (dir_given || with_pem || force)) {
        return usage_error("--list writes nothing: it takes neither --dir, --pem nor --force");
    }

    const bool in_token = token_uri != nullptr;
    KeyFile keys[kKeySetFiles];
    plan_key_set(dir, in_token, with_aes, with_pem, keys);
    const NamedPath paths[] = {{"the --from-pem key", from_pem},
                               {"the --passphrase-file", passphrase_file},
                               {"the output", keys[0].wanted ? keys[0].path.c_str() : nullptr},
                               {"the output", keys[1].wanted ? keys[1].path.c_str() : nullptr},
                               {"the output", keys[2].wanted ? keys[2].path.c_str() : nullptr},
                               {"the output", keys[3].wanted ? keys[3].path.c_str() : nullptr},
                               {"the output", keys[4].wanted ? keys[4].path.c_str() : nullptr}};
    const std::string dash = dash_path_message(paths, 2);
    if (!dash.empty()) return usage_error(dash);
    const std::string shared = shared_file_message(paths, sizeof(paths) / sizeof(paths[0]));
    if (!shared.empty()) return usage_error(shared);
    if (in_token) {
        warn_if_readable_by_others("bootseal-keygen", pkcs11_pin_source(token_uri).c_str(),
                                   "a PIN");
    }
    if (list_keys) return print_token_keys("bootseal-keygen", token_uri);
    // One run at a time looks at and writes the set: a second waits, then sees the first's keys.
    bool locked = false;
    if (!lock_and_recover_folder(kTool, dir, &locked)) return 1;
    std::string refusal;
    if (!check_key_set_outputs(keys, force, &refusal)) {
        fprintf(stderr, "bootseal-keygen: %s\n", refusal.c_str());
        return 1;
    }

    // Before any key is made: a pair made in a token has nowhere to go otherwise.
    bool folder_created = false;
    if (prepare_output_folder("bootseal-keygen", dir, &folder_created) != 0) return 1;
    if (!locked && (!lock_and_recover_folder(kTool, dir, &locked) ||
                    !check_key_set_outputs(keys, force, &refusal))) {
        if (!refusal.empty()) fprintf(stderr, "bootseal-keygen: %s\n", refusal.c_str());
        if (folder_created) remove_created_folder("bootseal-keygen", dir);
        return 1;
    }

    KeyOrigin origin;
    origin.from_pem = from_pem;
    origin.token_uri = token_uri;
    origin.export_public = export_public;
    origin.min_top_byte = min_top_byte;
    origin.with_pem = with_pem;
    origin.with_aes = with_aes;
    MadeKeys made;
    int status = make_keys(origin, &made);
    std::string why;
    if (status == 0 && !fill_key_set(keys, made.key, made.aes_key, &why)) {
        fprintf(stderr, "bootseal-keygen: %s\n", why.c_str());
        status = 1;
    }
    // A stop signal held while the pair was made is answered before the files are put in place.
    bool written = status == 0 && !(made.made_in_token && held_stop_signal() != 0);
    if (written && !write_key_set(dir, keys, &why)) {
        fprintf(stderr, "bootseal-keygen: %s\n", why.c_str());
        written = false;
    }
    if (written) {
        print_key_set_report(keys, made);
        if (!output_written(kTool, "the report", "the key files were written")) status = 1;
    } else {
        if (made.made_in_token) status = undo_token_key("bootseal-keygen");
        if (status == 0) status = 1;
        if (folder_created) remove_created_folder("bootseal-keygen", dir);
    }
    if (in_token) close_token();
    wipe_key_set(keys);
    free_made_keys(&made);
    return status;
}
