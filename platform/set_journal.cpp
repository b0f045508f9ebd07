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

std::string format_set_journal(const std::vector<JournalEntry>& entries) {
    std::string out(kHeader, sizeof(kHeader));
    for (const JournalEntry& entry : entries) {
        for (const std::string* field : {&entry.target, &entry.temp, &entry.backup}) {
            out.append(*field).push_back('\0');
        }
    }
    out.append(kEnd, sizeof(kEnd));
    return out;
}

bool parse_set_journal(const std::string& bytes, std::vector<JournalEntry>* entries) {
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
    for (size_t i = 1; i + 1 < fields.size(); i += 3) {
        const JournalEntry entry = {fields[i], fields[i + 1], fields[i + 2]};
        // Each entry changes something, and only a file kept under a backup may lose its name.
        if (entry.target.empty() || (entry.temp.empty() && entry.backup.empty())) return false;
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
