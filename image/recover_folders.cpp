// SPDX-License-Identifier: Apache-2.0
#include "image/recover_folders.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

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
    std::vector<std::string> done;
    bool whole = true;
    for (const char* path : paths) {
        if (path == nullptr || path[0] == '\0') continue;
        const std::string dir = folder_of(path);
        bool seen = false;
        for (const std::string& other : done) seen = seen || other == dir;
        if (seen) continue;
        done.push_back(dir);
        whole = report(tool, dir, recover_folder(dir.c_str(), false)) && whole;
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
