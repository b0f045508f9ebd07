// SPDX-License-Identifier: Apache-2.0
#include "keygen/key_set.hpp"

#include <cstdint>
#include <cstdio>

#include "platform/file_replace.hpp"

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
