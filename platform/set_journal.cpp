// SPDX-License-Identifier: Apache-2.0
#include "platform/set_journal.hpp"

#include <cerrno>

#include "platform/file_steps.hpp"

namespace {

constexpr char kHeader[] = "bootseal set journal 1";
constexpr char kEnd[] = "end";

// Whether the entry's new name was made: its temp renamed over target, or target unlinked.
bool entry_done(const JournalEntry& entry) {
    return !name_exists(entry.temp.empty() ? entry.target : entry.temp);
}

// Puts back the old file kept as backup. Before the entry's step the backup can only be a second
// name of target, which it then merely loses; after it, the backup takes target's name again.
int restore_backup(const JournalEntry& entry) {
    if (!name_exists(entry.backup)) return 0;  // back already
    if (entry_done(entry)) return rename_name(entry.backup, entry.target);
    if (!same_named_file(entry.target, entry.backup)) return 0;  // not this set's second name
    return remove_name(entry.backup);
}

int undo_entry(const JournalEntry& entry) {
    if (!entry.backup.empty()) {
        const int error = restore_backup(entry);
        if (error != 0) return error;
    } else if (entry_done(entry)) {
        // A new file renamed into place where there was none: it goes again.
        const int error = remove_name(entry.target);
        if (error != 0 && error != ENOENT) return error;
    }
    const int error = entry.temp.empty() ? 0 : remove_name(entry.temp);
    return error == ENOENT ? 0 : error;
}

}  // namespace

std::string set_journal_path(const std::string& folder) { return folder + "/.bootseal.journal"; }

std::string set_undo_path(const std::string& folder) { return folder + "/.bootseal.undo"; }

namespace {

// Where the name of path starts: after its last separator.
size_t name_start(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

// Whether text is the name of a file in a folder, and nothing more.
bool plain_name(const std::string& text) {
    return !text.empty() && text != "." && text != ".." &&
           text.find_first_of("/\\") == std::string::npos;
}

// The name of path when it is a file of folder, else "".
std::string name_in(const std::string& folder, const std::string& path) {
    if (path.empty()) return "";
    const size_t start = name_start(path);
    const std::string parent = start == 0 ? "." : path.substr(0, start);
    if (!same_named_file(parent, folder.empty() ? "." : folder)) return "";
    return path.substr(start);
}

}  // namespace

bool format_set_journal(const std::string& folder, const std::vector<JournalEntry>& entries,
                        std::string* bytes) {
    std::string out(kHeader, sizeof(kHeader));
    for (const JournalEntry& entry : entries) {
        for (const std::string* field : {&entry.target, &entry.temp, &entry.backup}) {
            const std::string name = name_in(folder, *field);
            if (!field->empty() && name.empty()) return false;
            out.append(name).push_back('\0');
        }
    }
    out.append(kEnd, sizeof(kEnd));
    *bytes = out;
    return true;
}

bool parse_set_journal(const std::string& folder, const std::string& bytes,
                       std::vector<JournalEntry>* entries) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        fields.push_back(bytes.substr(start, end - start));
    }
    if (start != bytes.size() || fields.size() < 5 || fields.front() != kHeader ||
        fields.back() != kEnd || (fields.size() - 2) % 3 != 0) {
        return false;
    }
    entries->clear();
    const std::string prefix = (folder.empty() ? std::string(".") : folder) + "/";
    for (size_t i = 1; i + 1 < fields.size(); i += 3) {
        // Each entry changes something, and only a file kept under a backup may lose its name.
        if (fields[i].empty() || (fields[i + 1].empty() && fields[i + 2].empty())) return false;
        JournalEntry entry;
        std::string* paths[] = {&entry.target, &entry.temp, &entry.backup};
        for (size_t f = 0; f < 3; ++f) {
            const std::string& name = fields[i + f];
            if (name.empty()) continue;
            // A journal that names anything else is not one this tool wrote: nothing of it is
            // followed.
            if (!plain_name(name)) return false;
            *paths[f] = prefix + name;
        }
        entries->push_back(entry);
    }
    return true;
}

bool set_steps_done(const std::vector<JournalEntry>& entries) {
    for (const JournalEntry& entry : entries) {
        if (!entry_done(entry)) return false;
    }
    return true;
}

int undo_set_steps(const std::vector<JournalEntry>& entries, std::string* failed) {
    int first_error = 0;
    for (size_t i = entries.size(); i-- > 0;) {
        const int error = undo_entry(entries[i]);
        if (error != 0 && first_error == 0) {
            first_error = error;
            *failed = entries[i].target;
        }
    }
    return first_error;
}
