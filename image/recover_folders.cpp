// SPDX-License-Identifier: Apache-2.0
#include "image/recover_folders.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file_identity.hpp"
#include "platform/file_status.hpp"
#include "platform/folder_recovery.hpp"

namespace {

const char* waiting_tool = "";

void say_waiting(const char* dir) {
    fprintf(stderr, "%s: waiting for the run that is writing into '%s'\n", waiting_tool, dir);
}

// The folder a path names or holds its file: "." for a bare file name.
std::string folder_of(const char* path) {
    if (path_kind(path) == PathKind::kFolder) return path;
    const std::string text = path;
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : text.substr(0, slash);
}

// Says what recovery did in dir. Returns false when the folder could not be made whole.
bool report(const char* tool, const std::string& dir, const FolderRecovery& done) {
    const char* what = "interrupted replacement of the key files";
    switch (done.set) {
        case SetRecovery::kFinished:
            fprintf(stderr, "%s: finished the %s in '%s': the new ones are in place\n", tool, what,
                    dir.c_str());
            break;
        case SetRecovery::kUndone:
            fprintf(stderr, "%s: undid the %s in '%s': the old ones are back\n", tool, what,
                    dir.c_str());
            break;
        case SetRecovery::kFailed:
            fprintf(stderr, "%s: cannot finish or undo the %s in '%s': %s\n", tool, what,
                    dir.c_str(), done.why.c_str());
            break;
        case SetRecovery::kNothing:
            break;
    }
    if (done.temporaries_removed > 0) {
        const bool one = done.temporaries_removed == 1;
        fprintf(stderr, "%s: removed %zu temporary file%s that %s left in '%s'\n", tool,
                done.temporaries_removed, one ? "" : "s", one ? "a stopped run" : "stopped runs",
                dir.c_str());
    }
    return done.set != SetRecovery::kFailed;
}

}  // namespace

bool recover_folders(const char* tool, std::initializer_list<const char*> paths) {
    // Each folder once, however it is spelt, and locked in one order by every run, so that two
    // runs that lock the same folders never wait for each other.
    struct Folder {
        std::string dir;
        FileIdentity identity;
    };
    std::vector<Folder> folders;
    for (const char* path : paths) {
        if (path == nullptr || path[0] == '\0') continue;
        const std::string dir = folder_of(path);
        const FileIdentity identity = file_identity(dir.c_str());
        if (!identity.known) continue;  // a folder that is not there holds nothing to recover
        bool seen = false;
        for (const Folder& other : folders) {
            seen = seen || same_file_identity(other.identity, identity);
        }
        if (!seen) folders.push_back({dir, identity});
    }
    std::sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
        return a.identity.volume != b.identity.volume ? a.identity.volume < b.identity.volume
                                                      : a.identity.file < b.identity.file;
    });
    waiting_tool = tool;
    bool whole = true;
    for (const Folder& folder : folders) {
        // Held until the run ends (the system drops it then): no key set is replaced under the
        // run while it reads the keys or writes its files.
        const bool locked = lock_folder(folder.dir.c_str(), say_waiting) >= 0;
        whole = report(tool, folder.dir, recover_folder(folder.dir.c_str(), locked)) && whole;
    }
    return whole;
}

bool lock_and_recover_folder(const char* tool, const std::string& dir, bool* locked) {
    *locked = false;
    if (path_kind(dir.c_str()) != PathKind::kFolder) return true;  // checked when it is made
    waiting_tool = tool;
    if (lock_folder(dir.c_str(), say_waiting) < 0) {
        fprintf(stderr, "%s: cannot open the folder '%s': %s; nothing written\n", tool, dir.c_str(),
                strerror(errno));
        return false;
    }
    *locked = true;  // held until the run ends: the kernel drops it then
    return report(tool, dir, recover_folder(dir.c_str(), true));
}
