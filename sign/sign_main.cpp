// SPDX-License-Identifier: Apache-2.0
// bootseal-sign: bootseal's images, with keys named on the command line and two-step signing.
#include <getopt.h>
#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "digest/sha256.hpp"
#include "image/distinct_files.hpp"
#include "image/file_replace.hpp"
#include "image/image_file.hpp"
#include "image/image_layout.hpp"
#include "image/report_text.hpp"
#include "image/seal_mode.hpp"
#include "image/transcript.hpp"
#include "secure/key_files.hpp"
#include "secure/make_image.hpp"
#include "secure/pem_keys.hpp"
#include "secure/pkcs11_token.hpp"
#include "secure/rsa_signing.hpp"
#include "secure/sealing.hpp"
#include "secure/secret_file_mode.hpp"

namespace {

const char kUsage[] =
    "Usage: bootseal-sign --chip N --secure M [options] INPUT OUTPUT\n"
    "       bootseal-sign --chip 341 --secure 2 --attach SIGNATURE UNSIGNED OUTPUT\n"
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
    "  --rsa-pub FILE      the RSA public key: rsa_pub.txt's format or PEM; optional with a\n"
    "                      PEM or DER private key, or a token that holds it\n"
    "  --to-sign BLOCK     sign in two steps: write OUTPUT with a zero signature, and BLOCK,\n"
    "                      the 128 bytes the private key must raise to D (needs --rsa-pub)\n"
    "  --attach SIGNATURE  put the 128-byte raw signature of BLOCK into UNSIGNED, after\n"
    "                      checking it, and write the signed image to OUTPUT\n"
    "  --json              print the report as one JSON object\n"
    "  --quiet             print nothing on success\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Exit status: 0 when the image was written, 1 when it was not, 2 for a usage error.\n";

struct Options {
    int chip = 0;
    int secure = 0;
    bool have_chip = false, have_secure = false;
    const char* aes_key = nullptr;
    bool default_aes_key = false;
    const char* rsa_key = nullptr;
    const char* rsa_pub = nullptr;
    const char* to_sign = nullptr;
    const char* attach = nullptr;
    const char* passphrase_file = nullptr;
    bool json = false, quiet = false;
    const char* input = nullptr;
    const char* output = nullptr;
};

// What the report tells of the run.
struct Report {
    SealMode mode = SealMode::kPlain;
    std::string aes_key, rsa_private, rsa_public, signature;
    std::string image_digest, header_digest;
};

int usage_error(const std::string& message) {
    fprintf(stderr, "bootseal-sign: %s\nTry 'bootseal-sign --help' for more information.\n",
            message.c_str());
    return 2;
}

int failure(const std::string& message) {
    fprintf(stderr, "bootseal-sign: %s\n", message.c_str());
    return 1;
}

// The reason a step of the sealing path gave in the transcript: the "  ! " lines of its last
// failure block, or else its last line.
std::string transcript_reason(const std::string& transcript) {
    const size_t failed = transcript.rfind(" failed\n");
    std::string reason;
    if (failed != std::string::npos) {
        size_t at = failed + 8;
        while (at < transcript.size()) {
            size_t end = transcript.find('\n', at);
            if (end == std::string::npos) end = transcript.size();
            std::string line = transcript.substr(at, end - at);
            if (line.compare(0, 4, "  ! ") != 0) break;
            reason += (reason.empty() ? "" : "; ") + line.substr(4);
            at = end + 1;
        }
    }
    if (!reason.empty()) return reason;
    size_t end = transcript.size();
    while (end > 0 && (transcript[end - 1] == '\n' || transcript[end - 1] == '\r')) --end;
    const size_t start = transcript.rfind('\n', end == 0 ? 0 : end - 1);
    return transcript.substr(start == std::string::npos ? 0 : start + 1,
                             end - (start == std::string::npos ? 0 : start + 1));
}

// The token's private operation, in the form the sealing path calls.
int token_sign(const uint8_t input[128], uint8_t output[128], const char** why) {
    const int result = token_private_operation(input, output);
    *why = token_error().c_str();
    return result;
}

std::string describe_key_file(const char* path) {
    const bool text = key_file_format(path) == KeyFileFormat::kText;
    return std::string(path) + (text ? " (text)" : " (PEM or DER)");
}

int parse_options(int argc, char** argv, Options* o) {
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
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'v'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, "", kOptions, nullptr);
        if (option == -1) break;
        switch (option) {
            case 'c':
                if (!parse_decimal(optarg, &o->chip)) {
                    return usage_error(std::string("--chip takes a number, not '") + optarg + "'");
                }
                o->have_chip = true;
                break;
            case 's':
                if (!parse_decimal(optarg, &o->secure)) {
                    return usage_error(std::string("--secure takes a number, not '") + optarg + "'");
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
            case 'h':
                fputs(kUsage, stdout);
                return 0;
            case 'v':
                printf("bootseal-sign %s\n", BOOTSEAL_VERSION);
                return 0;
            default:
                return usage_error("unknown or incomplete option");
        }
    }
    if (!o->have_chip || !o->have_secure) return usage_error("--chip and --secure are required");
    if (argc - optind != 2) return usage_error("takes two file arguments: INPUT OUTPUT");
    o->input = argv[optind];
    o->output = argv[optind + 1];

    const SealMode mode = decide_mode(select_chip_profile(o->chip), o->secure);
    const bool rsa = mode == SealMode::kRsaSigned;
    if (o->aes_key != nullptr && o->default_aes_key) {
        return usage_error("--aes-key and --default-aes-key exclude each other");
    }
    if (mode == SealMode::kPlain && (o->aes_key != nullptr || o->default_aes_key)) {
        return usage_error("a plain image takes no AES key");
    }
    if (mode != SealMode::kPlain && o->attach == nullptr && o->aes_key == nullptr &&
        !o->default_aes_key) {
        return usage_error(std::string("this ") + seal_mode_name(mode) +
                           " image needs an AES key: give --aes-key FILE, or --default-aes-key "
                           "for the built-in key, which is public");
    }
    if (!rsa && (o->rsa_key || o->rsa_pub || o->to_sign || o->attach)) {
        return usage_error(std::string("RSA keys and two-step signing are for RSA-signed images; "
                                       "this chip and value make a ") +
                           seal_mode_name(mode) + " image");
    }
    if (o->attach != nullptr &&
        (o->aes_key || o->default_aes_key || o->rsa_key || o->rsa_pub || o->to_sign)) {
        return usage_error("--attach takes only the signature, the unsigned image and the output");
    }
    if (o->to_sign != nullptr && (o->rsa_key != nullptr || o->rsa_pub == nullptr)) {
        return usage_error("--to-sign takes --rsa-pub and no --rsa-key: the private key is "
                           "used elsewhere");
    }
    std::string why;
    if (o->rsa_key != nullptr && is_pkcs11_uri(o->rsa_key) &&
        check_pkcs11_uri(o->rsa_key, &why) != 0) {
        return usage_error(why);
    }
    if (o->passphrase_file != nullptr && (o->rsa_key == nullptr || is_pkcs11_uri(o->rsa_key))) {
        return usage_error("--passphrase-file needs --rsa-key naming a PEM or DER key file");
    }
    if (rsa && o->attach == nullptr && o->to_sign == nullptr && o->rsa_key == nullptr) {
        return usage_error("an RSA-signed image needs --rsa-key (or --to-sign for two steps)");
    }
    return -1;  // go on
}

void print_report(const Options& o, const Report& r) {
    if (o.quiet) return;
    if (o.json) {
        printf("{\"output\": %s, \"kind\": %s, \"chip\": %d, \"secure\": %d", json_string(o.output).c_str(),
               json_string(seal_mode_name(r.mode)).c_str(), o.chip, o.secure);
        const std::pair<const char*, const std::string*> fields[] = {
            {"aes_key", &r.aes_key},           {"rsa_private_key", &r.rsa_private},
            {"rsa_public_key", &r.rsa_public}, {"signature", &r.signature},
            {"image_digest", &r.image_digest}, {"header_digest", &r.header_digest}};
        for (const auto& field : fields) {
            if (!field.second->empty()) {
                printf(", \"%s\": %s", field.first, json_string(*field.second).c_str());
            }
        }
        if (o.to_sign != nullptr) printf(", \"to_sign\": %s", json_string(o.to_sign).c_str());
        printf("}\n");
        return;
    }
    printf("%s: %s image for chip %d (secure boot %d)\n", o.output, seal_mode_name(r.mode), o.chip,
           o.secure);
    const std::pair<const char*, const std::string*> lines[] = {
        {"aes key", &r.aes_key},           {"rsa private key", &r.rsa_private},
        {"rsa public key", &r.rsa_public}, {"image digest", &r.image_digest},
        {"header digest", &r.header_digest}, {"signature", &r.signature}};
    for (const auto& line : lines) {
        if (!line.second->empty()) printf("  %-16s %s\n", line.first, line.second->c_str());
    }
    if (o.to_sign != nullptr) {
        printf("  %-16s %s: sign it, then run --attach with the signature\n", "to sign", o.to_sign);
    }
}

// Writes the image, and with --to-sign the block beside it, as one set.
bool write_outputs(const Options& o) {
    StagedFile staged[2];
    const size_t count = o.to_sign != nullptr ? 2 : 1;
    if (stage_file(&staged[0], o.output, ImageBuffer, kImageSize, 0666, FileMode::kLikeOpen) !=
        WriteResult::kWritten) {
        failure(std::string("cannot write '") + o.output + "': " + strerror(staged[0].error));
        return false;
    }
    if (count == 2 && stage_file(&staged[1], o.to_sign, DeferredBlock, kRsaBlockSize, 0666,
                                 FileMode::kLikeOpen) != WriteResult::kWritten) {
        failure(std::string("cannot write '") + o.to_sign + "': " + strerror(staged[1].error));
        abandon_files(staged, 1);
        return false;
    }
    size_t failed = 0;
    if (!commit_files(staged, count, nullptr, &failed)) {
        const char* path = failed == 0 ? o.output : o.to_sign;
        failure(std::string("cannot put '") + path + "' in place: " +
                strerror(staged[failed].error) + "; nothing was written");
        return false;
    }
    return true;
}

int seal(const Options& o) {
    const ChipProfile& profile = select_chip_profile(o.chip);
    Report report;
    report.mode = decide_mode(profile, o.secure);
    const bool token = o.rsa_key != nullptr && is_pkcs11_uri(o.rsa_key);
    warn_if_readable_by_others("bootseal-sign", o.aes_key, "a secret key");
    warn_if_readable_by_others("bootseal-sign", token ? nullptr : o.rsa_key, "a secret key");
    warn_if_readable_by_others("bootseal-sign", o.passphrase_file, "a passphrase");
    set_passphrase_file(o.passphrase_file);
    if (token) {
        warn_if_readable_by_others("bootseal-sign", pkcs11_pin_source(o.rsa_key).c_str(), "a PIN");
    }
    RsaKeyContext token_key;
    rsa_key_init(&token_key);
    bool token_has_public = false;
    const std::string uri_text = token ? shown_pkcs11_uri(o.rsa_key) : std::string();
    if (token) {
        std::string why;
        if (open_token_key(o.rsa_key, &token_key, &token_has_public, &why) != 0) {
            close_token();
            rsa_key_free(&token_key);
            return failure(why);
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

    // The sealing steps report into a buffer: the reason of a failure is taken from there.
    char* transcript = nullptr;
    size_t transcript_size = 0;
    FILE* stream = open_memstream(&transcript, &transcript_size);
    if (stream == nullptr) return failure("out of memory");
    set_transcript(stream);
    memset(ImageBuffer, 0, kImageSize);
    int bytes_read = 0;
    int result = read_image(o.input, ImageBuffer, &bytes_read) == 0 ? 0 : -1;
    if (result == 0) result = make_image(profile, report.mode, o.chip);
    set_transcript(nullptr);
    fclose(stream);
    const std::string text(transcript, transcript_size);
    free(transcript);
    close_token();
    rsa_key_free(&token_key);
    if (result != 0) return failure(transcript_reason(text));

    if (report.mode != SealMode::kPlain) {
        report.aes_key = o.aes_key != nullptr ? std::string(o.aes_key)
                                              : "the built-in default key (public)";
    }
    if (report.mode == SealMode::kAesSigned || report.mode == SealMode::kRsaSigned) {
        report.image_digest = hex_bytes(ImageBuffer + kImageDigestOffset, kImageDigestSize);
        report.header_digest = hex_bytes(SealedHeaderDigest, sizeof(SealedHeaderDigest));
    }
    if (report.mode == SealMode::kRsaSigned) {
        if (o.rsa_key != nullptr) {
            report.rsa_private = token ? uri_text + " (token)" : describe_key_file(o.rsa_key);
        }
        report.rsa_public = o.rsa_pub != nullptr ? describe_key_file(o.rsa_pub)
                            : token              ? "from the token"
                                                 : "from the private key";
        report.signature = o.to_sign != nullptr ? "deferred: the signature field is zero"
                                                : "verified with the public key";
    }
    if (!write_outputs(o)) return 1;
    print_report(o, report);
    return 0;
}

// Reads a value of size bytes stored least significant byte first in the image.
void read_le_field(mbedtls_mpi* value, size_t offset, size_t size) {
    uint8_t big_endian[kRsaBlockSize] = {0};
    for (size_t i = 0; i < size; ++i) big_endian[size - 1 - i] = ImageBuffer[offset + i];
    mbedtls_mpi_read_binary(value, big_endian, size);
}

int attach(const Options& o) {
    FILE* file = fopen(o.attach, "rb");
    if (file == nullptr) {
        return failure(std::string("cannot open '") + o.attach + "': " + strerror(errno));
    }
    uint8_t signature[kRsaBlockSize + 1];
    const size_t got = fread(signature, 1, sizeof(signature), file);
    fclose(file);
    if (got != kRsaBlockSize) {
        return failure(std::string(o.attach) + " holds " + (got > kRsaBlockSize ? "more than " : "") +
                       std::to_string(got > kRsaBlockSize ? kRsaBlockSize : got) +
                       " bytes; a raw RSA signature for the header is 128 bytes");
    }
    const long size = load_image_file(o.input);
    if (size < 0) return failure(std::string("cannot read '") + o.input + "': " + strerror(errno));
    if (size != static_cast<long>(kImageSize)) {
        return failure(std::string(o.input) + " holds " +
                       (size == static_cast<long>(kImageSize) + 1 ? "more than 32768"
                                                              : std::to_string(size)) +
                       " bytes, not the 32768 of an image that --to-sign wrote");
    }
    // The header digest was taken with the modulus, exponent and signature fields all zero.
    uint8_t header[kHeaderSize];
    memcpy(header, ImageBuffer, kHeaderSize);
    memset(header + kRsaModulusOffset, 0, kRsaSignatureOffset + kRsaSignatureSize - kRsaModulusOffset);
    uint8_t digest[32];
    sha256_digest(header, static_cast<int32_t>(kHeaderSize), digest);
    uint8_t block[kRsaBlockSize] = {0};
    for (size_t i = 0; i < 32; ++i) block[31 - i] = digest[i];

    RsaKeyContext key;
    rsa_key_init(&key);
    read_le_field(&key.N, kRsaModulusOffset, kRsaModulusSize);
    read_le_field(&key.E, kRsaExponentOffset, kRsaExponentSize);
    const unsigned bits = static_cast<unsigned>(mbedtls_mpi_bitlen(&key.N));
    const bool verifies = bits > 1016 && rsa_signature_verifies(&key, signature, block);
    rsa_key_free(&key);
    if (bits <= 1016) {
        return failure(std::string(o.input) + " carries no 1024-bit RSA public key: it is not an "
                                              "image that --to-sign wrote");
    }
    if (!verifies) {
        return failure(std::string(o.attach) + " is not a signature of " + o.input +
                       ": it does not verify with the public key in its header");
    }
    memcpy(ImageBuffer + kRsaSignatureOffset, signature, kRsaSignatureSize);
    if (replace_file(o.output, ImageBuffer, kImageSize, 0666, FileMode::kLikeOpen, nullptr) !=
        WriteResult::kWritten) {
        return failure(std::string("cannot write '") + o.output + "'");
    }
    Report report;
    report.mode = SealMode::kRsaSigned;
    report.image_digest = hex_bytes(ImageBuffer + kImageDigestOffset, kImageDigestSize);
    report.header_digest = hex_bytes(digest, sizeof(digest));
    report.signature = std::string("from ") + o.attach + ", verified with the header's key";
    print_report(o, report);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = parse_options(argc, argv, &options);
    if (parsed >= 0) return parsed;
    const Options& o = options;
    const bool token = o.rsa_key != nullptr && is_pkcs11_uri(o.rsa_key);
    // The image may be written over its input, as bootseal does; no other two paths may meet.
    const NamedPath paths[] = {{o.attach ? "the unsigned image" : "the input", o.input},
                               {"the output", o.output},
                               {"the --to-sign block", o.to_sign},
                               {"the --attach signature", o.attach},
                               {"the --aes-key file", o.aes_key},
                               {"the --rsa-key file", token ? nullptr : o.rsa_key},
                               {"the --rsa-pub file", o.rsa_pub}};
    const std::string shared = shared_file_message(paths, sizeof(paths) / sizeof(paths[0]),
                                                   0, 1);
    if (!shared.empty()) return usage_error(shared);
    return options.attach != nullptr ? attach(options) : seal(options);
}
