// SPDX-License-Identifier: Apache-2.0
#include "keygen/key_set.hpp"

#include <cstdint>
#include <cstdio>

#include "image/report_text.hpp"
#include "keygen/rsa_keygen.hpp"
#include "keys/pem_keys.hpp"
#include "platform/file_replace.hpp"
#include "platform/file_status.hpp"

void plan_key_set(const std::string& dir, bool in_token, bool with_aes, bool with_pem,
                  KeyFile keys[kKeySetFiles]) {
    keys[0] = {dir + "/rsa_priv.txt", "", 0600, false, !in_token};
    keys[1] = {dir + "/rsa_pub.txt", "", 0644, false, true};
    keys[2] = {dir + "/aes.txt", "", 0600, false, with_aes};
    keys[3] = {dir + "/private.pem", "", 0600, false, with_pem && !in_token};
    keys[4] = {dir + "/public.pem", "", 0644, false, with_pem};
}

int check_key_set_outputs(const KeyFile keys[kKeySetFiles], bool force) {
    for (size_t i = 0; i < kKeySetFiles; ++i) {
        const KeyFile& file = keys[i];
        if (!file.wanted || path_kind(file.path.c_str()) == PathKind::kNothing) continue;
        if (!force) {
            fprintf(stderr,
                    "bootseal-keygen: '%s' exists; nothing written (use --force to replace it)\n",
                    file.path.c_str());
            return 1;
        }
        const std::string backup = file.path + kBackupSuffix;
        if (path_kind(backup.c_str()) != PathKind::kNothing) {
            fprintf(stderr,
                    "bootseal-keygen: '%s' holds a key replaced earlier; nothing written (move it "
                    "away first)\n",
                    backup.c_str());
            return 1;
        }
    }
    return 0;
}

int fill_key_set(KeyFile keys[kKeySetFiles], const RsaKeyContext& key,
                 const unsigned char aes_key[16]) {
    if (keys[0].wanted) keys[0].text = format_rsa_private(key);
    keys[1].text = format_rsa_public(key);
    if (keys[2].wanted) keys[2].text = hex_bytes(aes_key, 16) + "\n";
    if ((keys[3].wanted && format_pem_key(key, false, &keys[3].text) != 0) ||
        (keys[4].wanted && format_pem_key(key, true, &keys[4].text) != 0)) {
        fprintf(stderr, "bootseal-keygen: the PEM files cannot be made\n");
        return 1;
    }
    return 0;
}

bool write_key_set(KeyFile* const* keys, size_t count) {
    StagedFile staged[5];
    for (size_t i = 0; i < count; ++i) {
        const WriteResult result =
            stage_file(&staged[i], keys[i]->path.c_str(),
                       reinterpret_cast<const uint8_t*>(keys[i]->text.data()), keys[i]->text.size(),
                       keys[i]->mode, FileMode::kExact);
        if (result != WriteResult::kWritten) {
            fprintf(stderr, "bootseal-keygen: cannot write '%s': %s; nothing written\n",
                    keys[i]->path.c_str(), staged_file_reason(staged[i]).c_str());
            abandon_files(staged, i);
            return false;
        }
    }
    size_t failed = 0;
    if (!commit_files(staged, count, kBackupSuffix, &failed)) {
        fprintf(stderr,
                "bootseal-keygen: cannot put '%s' in place: %s; the key files are as they were\n",
                keys[failed]->path.c_str(), staged_file_reason(staged[failed]).c_str());
        return false;
    }
    for (size_t i = 0; i < count; ++i) keys[i]->kept = !staged[i].backup_path.empty();
    return true;
}
