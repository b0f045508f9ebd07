// SPDX-License-Identifier: Apache-2.0
#include "check/image_checks.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "digest/sha256.hpp"
#include "image/dram_table.hpp"
#include "image/header_display.hpp"
#include "image/image_checksum.hpp"
#include "image/image_layout.hpp"
#include "image/report_text.hpp"
#include "image/seal_mode.hpp"
#include "keys/read_key.hpp"
#include "platform/file_replace.hpp"
#include "platform/printf_format.hpp"
#include "seal/aes_cipher.hpp"
#include "seal/key_fingerprint.hpp"
#include "seal/rsa_signing.hpp"
#include "seal/sealed_header.hpp"
#include "seal/sealing.hpp"
#include "seal/wr_key.hpp"

namespace {

constexpr size_t kDigestSize = 32;

std::string format(const char* pattern, ...) BOOTSEAL_PRINTF_FORMAT(1, 2);
std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    vsnprintf(text, sizeof(text), pattern, args);
    va_end(args);
    return text;
}

// Adds a check's line, with the values it compared for the JSON report.
void add(std::vector<CheckResult>* results, const char* name, bool ok, const std::string& detail,
         std::vector<CheckValue> values = {}) {
    results->push_back({name, ok ? CheckStatus::kOk : CheckStatus::kFail, detail, values});
}

void unchecked(std::vector<CheckResult>* results, const char* name, const std::string& detail,
               std::vector<CheckValue> values = {}) {
    results->push_back({name, CheckStatus::kUnchecked, detail, values});
}

CheckValue number(const char* key, long long value) { return {key, true, value, ""}; }

CheckValue hex_value(const char* key, const uint8_t* data, size_t size) {
    return {key, false, 0, hex_bytes(data, size)};
}

uint16_t rom_sum16(const uint8_t* data, size_t length) {
    return static_cast<uint16_t>(image_checksum_sum(data, length));
}

// The AES key the image should have been made with: aes.txt in the key folder, or the default.
struct KeySource {
    bool ok;
    bool built_in;
    std::string description;
};

KeySource load_key(const VerifyRequest& request, const ChipProfile& profile,
                   uint8_t key[kAesKeySize]) {
    const std::string& path = request.aes_path;
    const AesKeyRead read = read_aes_key_file(path.c_str(), false, key);
    if (read == AesKeyRead::kUnopenable || (read == AesKeyRead::kAbsent && request.aes_named)) {
        return {false, false, path + " cannot be opened: " + strerror(errno)};
    }
    if (read == AesKeyRead::kAbsent) {
        default_aes_key(profile.reversed_default_key, key);
        return {true, true, "the built-in default key (public)"};
    }
    if (read == AesKeyRead::kNoKey) {
        return {false, false, path + " does not hold a 32-digit hexadecimal key"};
    }
    if (read != AesKeyRead::kKey) return {false, false, aes_key_refusal(path.c_str(), read)};
    return {true, false, path};
}

// Loads the AES key, recording an unreadable key file as a failed "aes key" check, and the
// public built-in key as one under --strict. Returns whether key holds a key to check with.
bool load_checked_key(const ChipProfile& profile, const VerifyRequest& request,
                      uint8_t key[kAesKeySize], KeySource* source,
                      std::vector<CheckResult>* results, VerifyOutcome* outcome) {
    *source = load_key(request, profile, key);
    outcome->aes.source = source->built_in ? "built-in" : "file";
    outcome->aes.file = source->built_in ? "" : request.aes_path;
    if (!source->ok) {
        add(results, "aes key", false, source->description);
        outcome->key_unreadable = true;
        outcome->key_error = source->description;
        return false;
    }
    // The digest of a key tells which key it was and gives nothing of it away.
    outcome->aes.fingerprint = aes_key_fingerprint(key);
    if (source->built_in && request.strict) {
        add(results, "aes key", false,
            "the built-in default key is public: --strict refuses it (name the key with --aes-key"
            " or --keys)");
    }
    return true;
}

// Names what lies at offset pos of a secure image: a field that sealing wrote, or the payload.
std::string overwritten_at(size_t pos, const std::vector<SealedField>& fields) {
    for (const SealedField& field : fields) {
        if (field.from < pos + 4 && pos < field.to) return field.name;
    }
    return "the encrypted payload";
}

// The count was taken from the loader before sealing. In a secure image the fields that sealing
// wrote and the encrypted payload lie where a long table ran, so the walk reads only the bytes
// sealing left as they were, and the payload only once it is decrypted (into ScratchBuffer).
// A walk that runs into anything else leaves the count unchecked.
void check_dram_count(const ChipProfile& profile, SealMode mode, bool payload_decrypted,
                      std::vector<CheckResult>* results) {
    const HeaderLayout layout = header_layout(profile);
    const int stored = stored_dram_param_count(layout.dram_param_count);
    if (mode == SealMode::kPlain) {
        const int walked = count_dram_params_quietly(layout.dram_param_table, profile) & 0xFFF;
        add(results, "dram count", stored == walked,
            format("stored %d, table walk %d", stored, walked),
            {number("stored", stored), number("computed", walked)});
        return;
    }
    static uint8_t intact[kImageSize];
    const std::vector<SealedField> fields =
        sealed_header_fields(profile, mode == SealMode::kRsaSigned);
    memset(intact, 1, kImageSize);
    for (const SealedField& field : fields) memset(intact + field.from, 0, field.to - field.from);
    if (!payload_decrypted) memset(intact + kPayloadOffset, 0, kPayloadSize);
    const uint8_t* image = payload_decrypted ? ScratchBuffer : ImageBuffer;
    const DramWalk walk = walk_dram_table_within(image, intact, layout.dram_param_table, profile);
    const int walked = walk.count & 0xFFF;
    if (walk.complete) {
        add(results, "dram count", stored == walked,
            format("stored %d, table walk %d", stored, walked),
            {number("stored", stored), number("computed", walked)});
        return;
    }
    unchecked(results, "dram count",
              format("stored %d; the table walk counted %d before offset %zu, where ", stored,
                     walked, walk.stopped_at) +
                  overwritten_at(walk.stopped_at, fields) + " replaced the loader's bytes",
              {number("stored", stored), number("counted_before_stop", walked),
               number("stopped_at", static_cast<long long>(walk.stopped_at))});
}

void check_plain(std::vector<CheckResult>* results) {
    const uint16_t sum = rom_sum16(ImageBuffer, kImageSize);
    add(results, "header checksum", sum == 0, format("16-bit sum 0x%04X, expected 0x0000", sum),
        {number("computed", sum), number("expected", 0)});
}

void check_wr_key(const ChipProfile& profile, const VerifyRequest& request,
                  std::vector<CheckResult>* results, VerifyOutcome* outcome) {
    char stamp[64];
    const bool stamped = format_key_stamp(kKeyStampOffset, stamp, sizeof(stamp));
    add(results, "key stamp", stamped,
        stamped ? format("secure program key [%s]", stamp)
                : format("0x%08X at offset %zu, expected 0x%08X", read_u32_le(kKeyStampOffset),
                         kKeyStampOffset, kKeyStampTag),
        {number("offset", kKeyStampOffset), number("stored", read_u32_le(kKeyStampOffset)),
         number("expected", kKeyStampTag)});
    check_plain(results);

    uint8_t key[kAesKeySize];
    KeySource source;
    if (!load_checked_key(profile, request, key, &source, results, outcome)) return;
    uint8_t kek[kAesKeySize];
    uint8_t unwrapped[kAesKeySize];
    key_encryption_key(kek);
    aes_ecb_decrypt(kek, ImageBuffer + kWrappedKeyOffset, unwrapped);
    const bool same = memcmp(unwrapped, key, kAesKeySize) == 0;
    add(results, "wrapped key", same,
        same ? "unwraps to the key of " + source.description
             : "unwraps to a key that is not the key of " + source.description);
    mbedtls_platform_zeroize(key, sizeof(key));
    mbedtls_platform_zeroize(kek, sizeof(kek));
    mbedtls_platform_zeroize(unwrapped, sizeof(unwrapped));
}

std::string describe_rsa_key(const mbedtls_mpi* n, const mbedtls_mpi* e) {
    std::string text = format("%u-bit N, E ", static_cast<unsigned>(mbedtls_mpi_bitlen(n)));
    if (mbedtls_mpi_bitlen(e) > 32) return text + "of more than 32 bits";
    uint8_t bytes[4];
    mbedtls_mpi_write_binary(e, bytes, sizeof(bytes));
    return text + format("%u", static_cast<unsigned>(bytes[0]) << 24 |
                                   static_cast<unsigned>(bytes[1]) << 16 |
                                   static_cast<unsigned>(bytes[2]) << 8 | bytes[3]);
}

void check_rsa_signature(const uint8_t header_digest[kDigestSize], const VerifyRequest& request,
                         std::vector<CheckResult>* results, VerifyOutcome* outcome) {
    RsaKeyContext header_key;
    rsa_key_init(&header_key);
    const mbedtls_mpi& n = header_key.N;
    const mbedtls_mpi& e = header_key.E;
    read_header_rsa_key(ImageBuffer, &header_key.N, &header_key.E);
    uint8_t block[kRsaBlockSize];
    rsa_signed_block(header_digest, block);
    // The one signature check of every tool (a signature at or above N is no signature).
    const bool verifies =
        rsa_signature_verifies(&header_key, ImageBuffer + kRsaSignatureOffset, block);
    const std::string key_text = "the header's key (" + describe_rsa_key(&n, &e) + ")";
    bool unsigned_image = true;
    for (size_t i = 0; i < kRsaSignatureSize; ++i) {
        unsigned_image = unsigned_image && ImageBuffer[kRsaSignatureOffset + i] == 0;
    }
    const std::string exponent_fault = public_exponent_fault(&e);
    add(results, "rsa signature", verifies,
        verifies                  ? "verifies with " + key_text
        : unsigned_image          ? "the signature field is all zero: an unsigned image from "
                                    "--to-sign, to be signed and completed with bootseal-sign --attach"
        : !exponent_fault.empty() ? key_text + " signs nothing: " + exponent_fault
                                  : "does not give the reversed header digest with " + key_text);

    const std::string& pub_path = request.rsa_pub_path;
    outcome->rsa = {"header", "", image_key_fingerprint()};
    RsaKeyContext file_key;
    rsa_key_init(&file_key);
    KeyReading reading;
    const int read =
        read_rsa_key(pub_path.c_str(), KeyHalf::kPublic, KeyForms::kAny, &file_key, &reading);
    std::string& why = reading.why;
    if (read == kRsaFileMissing && !request.rsa_pub_named) {
        unchecked(results, "rsa key",
                  "no " + pub_path +
                      ": nothing confirms the header's own key, which any signer can"
                      " put there (name the public key with --rsa-pub or --keys)");
    } else if (read != 0) {
        if (read == kRsaFileMissing) why = pub_path + " cannot be opened";
        add(results, "rsa key", false, why);
        outcome->key_unreadable = true;
        outcome->key_error = why;
        outcome->rsa = {"file", pub_path, ""};
    } else {
        outcome->rsa = {"file", pub_path, header_form_fingerprint(&file_key.N, &file_key.E)};
        const bool same = mbedtls_mpi_cmp_mpi(&n, &file_key.N) == 0 &&
                          mbedtls_mpi_cmp_mpi(&e, &file_key.E) == 0;
        add(results, "rsa key", same,
            same ? "the header's key is the one in " + pub_path
                 : "the header's key is not the one in " + pub_path);
    }
    rsa_key_free(&file_key);
    rsa_key_free(&header_key);
}

// Loads the AES key and decrypts the payload of a copy of the image into ScratchBuffer. Returns
// whether it did; the key stays in key for the signature check.
bool decrypt_payload(const ChipProfile& profile, const VerifyRequest& request,
                     uint8_t key[kAesKeySize], KeySource* source,
                     std::vector<CheckResult>* key_results, VerifyOutcome* outcome) {
    if (!load_checked_key(profile, request, key, source, key_results, outcome)) return false;
    memcpy(ScratchBuffer, ImageBuffer, kImageSize);
    outcome->decrypted = aes_cbc_decrypt(key, ScratchBuffer + kPayloadOffset, kPayloadSize) == 0;
    return outcome->decrypted;
}

// The zero bytes of the payload of image.
size_t payload_zeros(const uint8_t* image) {
    size_t zeros = 0;
    for (size_t i = kPayloadOffset; i < kImageSize; ++i) zeros += image[i] == 0 ? 1u : 0u;
    return zeros;
}

// Whether the decrypted payload of plain is still a payload encrypted with key: an image sealed
// from a sealed image. Nothing of the inner sealing survives in the header (the outer one wrote
// every field it had written), but its ciphertext does: a payload that reads as random bytes
// (about one byte in 256 zero) and that decrypts once more to one with the zeros of code and
// padding. A compressed or encrypted loader decrypts again to random bytes, and is not taken.
bool encrypted_twice(const uint8_t key[kAesKeySize], const uint8_t* plain) {
    constexpr size_t kRandomZeros = kPayloadSize / 128;  // twice what random bytes hold
    if (payload_zeros(plain) > kRandomZeros) return false;
    static uint8_t again[kImageSize];
    memcpy(again, plain, kImageSize);
    aes_cbc_decrypt(key, again + kPayloadOffset, kPayloadSize);
    const bool inner = payload_zeros(again) > 4 * kRandomZeros;
    memset(again, 0, sizeof(again));
    return inner;
}

void check_secure(const ChipProfile& profile, bool rsa_signed, const VerifyRequest& request,
                  uint8_t key[kAesKeySize], const KeySource& source,
                  std::vector<CheckResult>* results, VerifyOutcome* outcome) {
    if (profile.secure_header) {
        const uint16_t marker = read_u16_le(kSecureMarkerOffset);
        add(results, "secure marker", marker == kSecureMarkerValue,
            format("0x%04X at offset %zu, expected 0x%04X", marker, kSecureMarkerOffset,
                   kSecureMarkerValue),
            {number("offset", kSecureMarkerOffset), number("stored", marker),
             number("expected", kSecureMarkerValue)});
    }
    const uint16_t stored_data = read_u16_le(kDataChecksumOffset);
    const uint16_t computed_data = payload_checksum(ImageBuffer);
    add(results, "data checksum", stored_data == computed_data,
        format("stored 0x%04X, computed 0x%04X over the encrypted payload", stored_data,
               computed_data),
        {number("stored", stored_data), number("computed", computed_data)});

    if (!source.ok) return;  // the unreadable key is already reported
    const std::string decrypted_text = format("%zu bytes with ", kPayloadSize) + source.description;
    if (!outcome->decrypted) {
        add(results, "payload decrypts", false, decrypted_text);
        return;
    }
    if (!profile.secure_header) {
        // CBC decryption cannot fail, and sealing overwrote the plaintext header bytes that the
        // digest and the signature were taken over: nothing left in the image confirms the key.
        unchecked(results, "payload decrypts",
                  decrypted_text + "; the AES key cannot be confirmed on this chip, as "
                                   "decryption takes any key");
        const std::string why =
            format("cannot be recomputed on this chip: sealing overwrote the plaintext header "
                   "bytes %zu to %zu that it covered",
                   kAesSignatureOffset, kImageDigestOffset + kImageDigestSize - 1);
        unchecked(results, "image digest", why);
        unchecked(results, "signature", why);
        return;
    }
    // The image digest was taken over the plaintext image with the digest and signature fields
    // (and, for RSA, the key fields) still zero.
    static uint8_t reconstructed[kImageSize];
    memcpy(reconstructed, ScratchBuffer, kImageSize);
    const size_t cleared_from = rsa_signed ? kRsaModulusOffset : kRsaSignatureOffset;
    memset(reconstructed + cleared_from, 0, kHeaderSize - cleared_from);
    uint8_t digest[kDigestSize];
    sha256_digest(reconstructed, static_cast<int32_t>(kImageSize), digest);
    const bool image_ok = memcmp(digest, ImageBuffer + kImageDigestOffset, kDigestSize) == 0;
    uint8_t header_digest[kDigestSize];
    recompute_header_digest(ImageBuffer, rsa_signed, header_digest);
    uint8_t aes_signature[kDigestSize];
    memcpy(aes_signature, ImageBuffer + kAesSignatureOffset, kDigestSize);
    aes_cbc_decrypt(key, aes_signature, kDigestSize);
    const bool aes_signature_ok =
        !rsa_signed && memcmp(aes_signature, header_digest, kDigestSize) == 0;

    // Decryption cannot fail: the key is the image's only when the plaintext gives the stored
    // image digest, or (AES-signed) the signature decrypts with it to the header digest.
    outcome->key_proven = image_ok || aes_signature_ok;
    const bool twice = outcome->key_proven && encrypted_twice(key, ScratchBuffer);
    add(results, "payload decrypts", outcome->key_proven && !twice,
        !outcome->key_proven
            ? decrypted_text + ", which is not shown to be the image's key: " +
                  (rsa_signed ? "the plaintext does not give the image digest (a wrong key, or "
                                "a changed payload)"
                              : "neither the image digest nor the AES signature checks with it")
        : twice ? decrypted_text +
                      ", but the plaintext is encrypted once more with the same key: the image "
                      "was sealed twice (its input was a sealed image), and would not boot"
                : decrypted_text);

    // Decryption cannot fail: a wrong key shows here first, as a digest of garbled plaintext.
    add(results, "image digest", image_ok,
        "stored " + hex_bytes(ImageBuffer + kImageDigestOffset, 8) + "..., computed " +
            hex_bytes(digest, 8) + "..." +
            (image_ok ? ""
                      : " (the payload changed, or " + source.description +
                            " is not the key it was sealed with)"),
        {hex_value("stored", ImageBuffer + kImageDigestOffset, kImageDigestSize),
         hex_value("computed", digest, kDigestSize)});

    // The header digest: the first 512 bytes with the image digest in place and the signature
    // (and, for RSA, the key fields) zero.
    add(results, "header digest", true, hex_bytes(header_digest, kDigestSize),
        {hex_value("computed", header_digest, kDigestSize)});

    if (rsa_signed) {
        check_rsa_signature(header_digest, request, results, outcome);
    } else {
        add(results, "aes signature", aes_signature_ok,
            aes_signature_ok
                ? "decrypts to the header digest with " + source.description
                : "decrypts to " + hex_bytes(aes_signature, 8) + "... with " + source.description,
            {hex_value("computed", aes_signature, kDigestSize),
             hex_value("expected", header_digest, kDigestSize)});
    }

    // The re-checksum that sealing stores is the two's complement of the data checksum.
    const HeaderLayout layout = header_layout(profile);
    const uint16_t final_checksum = read_u16_le(layout.header_checksum);
    const uint16_t expected_final = sealed_header_checksum(stored_data);
    add(results, "header checksum", final_checksum == expected_final,
        format("stored 0x%04X, expected 0x%04X from the data checksum", final_checksum,
               expected_final),
        {number("stored", final_checksum), number("expected", expected_final)});
}

}  // namespace

const char* status_name(CheckStatus status) {
    switch (status) {
        case CheckStatus::kOk:
            return "OK";
        case CheckStatus::kFail:
            return "FAIL";
        case CheckStatus::kUnchecked:
            return "UNCHECKED";
    }
    return "FAIL";
}

const char* result_name(const CheckTally& tally) {
    return tally.failed ? "fail" : tally.unchecked ? "unchecked" : "ok";
}

CheckResult write_decrypted_image(const std::string& path, const VerifyOutcome& outcome) {
    if (!outcome.decrypted) {
        return {"decrypt", CheckStatus::kFail, "not written: the payload was not decrypted", {}};
    }
    if (!outcome.key_proven) {
        return {"decrypt",
                CheckStatus::kFail,
                "not written: the AES key is not shown to be the image's key",
                {}};
    }
    // The plaintext is the firmware a secure image exists to hide: its owner's only.
    if (replace_file(path.c_str(), ScratchBuffer, kImageSize, 0600, FileMode::kExact, nullptr) !=
        WriteResult::kWritten) {
        return {"decrypt", CheckStatus::kFail, "cannot write '" + path + "'", {}};
    }
    return {"decrypt", CheckStatus::kOk, "plaintext image written to '" + path + "'", {}};
}

CheckTally tally_checks(const std::vector<CheckResult>& results) {
    CheckTally tally = {0, 0, 0, ""};
    for (const CheckResult& r : results) {
        if (r.status == CheckStatus::kOk) ++tally.passed;
        if (r.status == CheckStatus::kFail) ++tally.failed;
        if (r.status != CheckStatus::kUnchecked) continue;
        tally.unchecked_names += (tally.unchecked++ ? ", " : "") + r.name;
    }
    return tally;
}

std::vector<CheckResult> verify_image(size_t image_size, const VerifyRequest& request,
                                      VerifyOutcome* outcome) {
    std::vector<CheckResult> results;
    *outcome = VerifyOutcome();
    const bool endless = image_size == kImageSize + 1;
    add(&results, "size", image_size == kImageSize,
        endless ? format("more than %zu bytes (reading stopped one byte past), expected %zu",
                         kImageSize, kImageSize)
                : format("%zu bytes, expected %zu", image_size, kImageSize),
        {number(endless ? "more_than" : "actual",
                static_cast<long long>(endless ? kImageSize : image_size)),
         number("expected", kImageSize)});
    if (image_size != kImageSize) return results;

    const ChipProfile& profile = select_chip_profile(request.chip_id);
    const SealMode mode = decide_mode(profile, request.secure_boot);
    const HeaderLayout layout = header_layout(profile);
    const uint16_t tag = read_u16_le(layout.boot_tag);
    add(&results, "boot tag", tag == kBootTagValue,
        format("0x%04X at offset %zu, expected 0x%04X", tag, layout.boot_tag, kBootTagValue),
        {number("offset", static_cast<long long>(layout.boot_tag)), number("stored", tag),
         number("expected", kBootTagValue)});

    switch (mode) {
        case SealMode::kWrKey:
            check_wr_key(profile, request, &results, outcome);
            break;
        case SealMode::kPlain:
            check_dram_count(profile, mode, false, &results);
            check_plain(&results);
            break;
        case SealMode::kAesSigned:
        case SealMode::kRsaSigned: {
            // The payload is decrypted first, so that the DRAM walk can read it; the key's own
            // line follows the count's.
            uint8_t key[kAesKeySize];
            KeySource source;
            std::vector<CheckResult> key_results;
            decrypt_payload(profile, request, key, &source, &key_results, outcome);
            check_dram_count(profile, mode, outcome->decrypted, &results);
            results.insert(results.end(), key_results.begin(), key_results.end());
            check_secure(profile, mode == SealMode::kRsaSigned, request, key, source, &results,
                         outcome);
            mbedtls_platform_zeroize(key, sizeof(key));
            break;
        }
    }
    if (request.strict) {
        for (CheckResult& r : results) {
            if (r.status != CheckStatus::kUnchecked) continue;
            r.status = CheckStatus::kFail;
            r.detail = "--strict refuses what cannot be checked: " + r.detail;
        }
    }
    return results;
}
