// SPDX-License-Identifier: Apache-2.0
#include "keys/key_set.hpp"

#include <mbedtls/platform_util.h>

#include <cstdint>

#include "keys/pem_keys.hpp"
#include "keys/secret_text.hpp"
#include "platform/file_replace.hpp"
#include "platform/file_status.hpp"
#include "platform/file_steps.hpp"

namespace {

// Room for the longest key text: seven lines of at most 2 * 512 digits each.
constexpr size_t kKeyTextCapacity = 8192;

// Appends "NAME = VALUE\n" to *out, which has room for it. Returns false when the value cannot
// be written.
bool append_line(std::string* out, const char* name, const mbedtls_mpi* value) {
    char text[1100];
    size_t length = 0;
    const bool written = mbedtls_mpi_write_string(value, 16, text, sizeof(text), &length) == 0;
    if (written) {
        out->append(name).append(" = ").append(text).push_back('\n');
    }
    mbedtls_platform_zeroize(text, sizeof(text));
    return written;
}

// The lines of the named values, or "" when one cannot be written.
std::string key_lines(const char* const* names, const mbedtls_mpi* const* values, size_t count) {
    std::string out;
    out.reserve(kKeyTextCapacity);  // appended in place: no reallocation leaves a copy behind
    for (size_t i = 0; i < count; ++i) {
        if (!append_line(&out, names[i], values[i])) {
            mbedtls_platform_zeroize(&out[0], out.size());
            return "";
        }
    }
    return out;
}

// Whether the file keys[i] belongs to what a run replaces: every file of the pair, whatever
// forms the run writes (no folder holds two pairs), and aes.txt only when the run writes one.
// An AES key moved aside unasked would leave bootseal to seal with the public built-in key.
bool in_replaced_set(const KeyFile keys[kKeySetFiles], size_t i) {
    return keys[i].wanted || i != kAesKeyFile;
}

}  // namespace

std::string format_rsa_private(const RsaKeyContext& key) {
    static const char* const kNames[] = {"N", "D", "P", "Q", "DP", "DQ", "QP"};
    const mbedtls_mpi* const values[] = {&key.N, &key.D, &key.P, &key.Q, &key.DP, &key.DQ, &key.QP};
    return key_lines(kNames, values, 7);
}

std::string format_rsa_public(const RsaKeyContext& key) {
    static const char* const kNames[] = {"N", "E"};
    const mbedtls_mpi* const values[] = {&key.N, &key.E};
    return key_lines(kNames, values, 2);
}

void plan_key_set(const std::string& dir, bool in_token, bool with_aes, bool with_pem,
                  KeyFile keys[kKeySetFiles]) {
    keys[0] = {dir + "/rsa_priv.txt", "", 0600, false, !in_token};
    keys[1] = {dir + "/rsa_pub.txt", "", 0644, false, true};
    keys[2] = {dir + "/aes.txt", "", 0600, false, with_aes};
    keys[3] = {dir + "/private.pem", "", 0600, false, with_pem && !in_token};
    keys[4] = {dir + "/public.pem", "", 0644, false, with_pem};
}

bool check_key_set_outputs(const KeyFile keys[kKeySetFiles], bool force, std::string* why) {
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        const KeyFile& file = keys[i];
        if (!in_replaced_set(keys, i) || path_kind(file.path.c_str()) == PathKind::kNothing) {
            continue;
        }
        if (!force) {
            *why = "'" + file.path + "' exists; nothing written (use --force to replace it)";
            return false;
        }
        const std::string backup = file.path + kBackupSuffix;
        if (path_kind(backup.c_str()) != PathKind::kNothing) {
            *why = "'" + backup +
                   "' holds a key replaced earlier; nothing written (move it away "
                   "first)";
            return false;
        }
    }
    return true;
}

bool fill_key_set(KeyFile keys[kKeySetFiles], const RsaKeyContext& key,
                  const unsigned char aes_key[16], std::string* why) {
    if (keys[0].wanted) keys[0].text = format_rsa_private(key);
    keys[1].text = format_rsa_public(key);
    if (keys[2].wanted) {
        keys[2].text.reserve(2 * 16 + 1);  // filled in place: no copy of the key is left behind
        for (size_t i = 0; i < 16; ++i) {
            keys[2].text.push_back(hex_digit_char(aes_key[i] >> 4));
            keys[2].text.push_back(hex_digit_char(aes_key[i] & 0xFu));
        }
        keys[2].text.push_back('\n');
    }
    if ((keys[0].wanted && keys[0].text.empty()) || keys[1].text.empty()) {
        *why = "the key's text lines cannot be made";
        return false;
    }
    if ((keys[3].wanted && format_pem_key(key, false, &keys[3].text) != 0) ||
        (keys[4].wanted && format_pem_key(key, true, &keys[4].text) != 0)) {
        *why = "the PEM files cannot be made";
        return false;
    }
    return true;
}

bool write_key_set(const std::string& dir, KeyFile keys[kKeySetFiles], std::string* why) {
    StagedFile staged[kKeySetFiles];
    KeyFile* order[kKeySetFiles];
    size_t count = 0;
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        // A key file that is a link lives in another folder, which the set's journal cannot
        // name: it is not replaced through the link.
        if (in_replaced_set(keys, i) && path_kind(keys[i].path.c_str()) == PathKind::kRegular &&
            !names_plain_file(keys[i].path)) {
            *why = "'" + keys[i].path +
                   "' is a link: a key set is replaced in its own folder only; put the file "
                   "itself there, or name the folder it is in with --dir; nothing written";
            return false;
        }
    }
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        KeyFile* key = &keys[i];
        key->kept = false;
        WriteResult result;
        if (key->wanted) {
            result = stage_file(&staged[count], key->path.c_str(),
                                reinterpret_cast<const uint8_t*>(key->text.data()),
                                key->text.size(), key->mode, FileMode::kExact);
        } else if (in_replaced_set(keys, i) && path_kind(key->path.c_str()) != PathKind::kNothing) {
            result = stage_move_aside(&staged[count], key->path.c_str());
        } else {
            continue;
        }
        order[count] = key;
        if (result != WriteResult::kWritten) {
            *why = "cannot write '" + key->path + "': " + staged_file_reason(staged[count]) +
                   "; nothing written";
            abandon_files(staged, count);
            return false;
        }
        ++count;
    }
    size_t failed = 0;
    if (!commit_file_set(dir.c_str(), staged, count, kBackupSuffix, &failed)) {
        *why = "cannot put '" + order[failed]->path +
               "' in place: " + staged_file_reason(staged[failed]) +
               "; the key files are as they were";
        return false;
    }
    for (size_t i = 0; i < count; ++i) order[i]->kept = !staged[i].backup_path.empty();
    return true;
}

void wipe_key_set(KeyFile keys[kKeySetFiles]) {
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        if (!keys[i].text.empty()) mbedtls_platform_zeroize(&keys[i].text[0], keys[i].text.size());
    }
}
