// SPDX-License-Identifier: Apache-2.0
// The journal of a set of files being put in place: written whole before the first name
// changes, it lets a later run finish the set or put the old files back after a kill at any
// instant.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One file of a set, as the journal records it. The steps, in order: every backup is linked to
// its old file, then every temp is renamed over its target and every target with no temp is
// unlinked (its old file lives on under backup).
struct JournalEntry {
    std::string target;  // the path replaced
    std::string temp;    // the new file's name until it is renamed over target; "" when none
    std::string backup;  // the old file's second name; "" when target held no file
};

// The journal of the set in folder, and its name once the set is being undone.
std::string set_journal_path(const std::string& folder);
std::string set_undo_path(const std::string& folder);

// The journal's bytes: a header, three NUL-ended fields per entry (one entry at least), and an
// end mark, so that a journal cut short is told from a whole one. The journal names its files
// by their names in folder alone, so that it says nothing of any other folder, and still holds
// when the folder is moved. Returns false when a file of entries is not in folder.
bool format_set_journal(const std::string& folder, const std::vector<JournalEntry>& entries,
                        std::string* bytes);

// Reads the journal of folder back, its names made paths in folder again. Returns false when the
// bytes are not a whole journal, or name anything but a file of folder (a path, "." or "..").
bool parse_set_journal(const std::string& folder, const std::string& bytes,
                       std::vector<JournalEntry>* entries);

// Whether every step of the set was done: every temp renamed, every target with no temp gone.
bool set_steps_done(const std::vector<JournalEntry>& entries);

// Puts the old file of every entry back and drops the new ones, from whatever step the set
// reached; done again, it changes nothing more. Returns 0, or the errno of a step that failed
// with *failed naming its file (the others are still undone).
int undo_set_steps(const std::vector<JournalEntry>& entries, std::string* failed);
