// SPDX-License-Identifier: Apache-2.0
#include "image/command_line.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "image/report_text.hpp"
#include "platform/core_dumps.hpp"
#include "platform/file_status.hpp"

namespace {

const char* argument_kind(const OptionArgument* arguments, const char* name) {
    for (const OptionArgument* a = arguments; a != nullptr && a->name != nullptr; ++a) {
        if (strcmp(a->name, name) == 0) return a->kind;
    }
    return "a value";
}

const option* option_with_key(const option* options, int key) {
    for (const option* o = options; o->name != nullptr; ++o) {
        if (o->val == key && o->flag == nullptr) return o;
    }
    return nullptr;
}

// Explains an unknown or ambiguous long option: typed is the word as given, up to any "=".
std::string unknown_long(const option* options, const std::string& typed) {
    std::string matches;
    size_t count = 0;
    for (const option* o = options; o->name != nullptr; ++o) {
        if (strncmp(o->name, typed.c_str() + 2, typed.size() - 2) != 0) continue;
        matches += std::string(count++ == 0 ? "" : ", ") + "--" + o->name;
    }
    if (count > 1) return "option '" + typed + "' is ambiguous: it may be " + matches;
    return "unknown option '" + typed + "'";
}

}  // namespace

bool next_option(int argc, char** argv, const char* short_options, const option* options,
                 const OptionArgument* arguments, int* key, std::string* error) {
    opterr = 0;
    const int before = optind;
    int index = -1;
    *key = getopt_long(argc, argv, short_options, options, &index);
    if (*key == '?') {
        // A long option's word is always used up; a short one may sit inside a group ("-xq").
        const char* word = optind > before ? argv[optind - 1] : "";
        if (strncmp(word, "--", 2) != 0) {
            *error = "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
            return false;
        }
        const option* known = optopt != 0 ? option_with_key(options, optopt) : nullptr;
        if (known == nullptr) {
            *error = unknown_long(options, std::string(word, strcspn(word, "=")));
        } else if (strchr(word, '=') != nullptr) {
            *error = "option '--" + std::string(known->name) + "' takes no value";
        } else {
            *error = "option '--" + std::string(known->name) + "' needs " +
                     argument_kind(arguments, known->name);
        }
        return false;
    }
    if (*key == -1) return true;
    // A long option is taken by its whole name only: "--default" would otherwise quietly mean
    // --default-aes-key, the public key.
    if (index >= 0) {
        const char* name = options[index].name;
        for (int at = optind - 1; at >= before && at >= 1; --at) {
            const char* word = argv[at];
            if (strncmp(word, "--", 2) != 0) continue;
            const size_t typed = strcspn(word + 2, "=");
            if (strncmp(word + 2, name, typed) != 0) continue;
            if (typed != strlen(name)) {
                *error = "option '" + std::string(word, typed + 2) +
                         "' is not a whole option name: write --" + name;
                return false;
            }
            break;
        }
    }
    // Every option is given once: a second one would silently replace the first (a key, a chip).
    static std::set<int> seen;
    if (!seen.insert(*key).second) {
        const option* known = option_with_key(options, *key);
        *error = known != nullptr
                     ? "option '--" + std::string(known->name) + "' is given twice"
                     : "option '-" + std::string(1, static_cast<char>(*key)) + "' is given twice";
        return false;
    }
    // "--dir=" gives an empty argument, which would name the root folder's files or nothing.
    if (optarg != nullptr && *optarg == '\0') {
        const option* known = option_with_key(options, *key);
        const char* name = known != nullptr ? known->name : "?";
        *error = "option '--" + std::string(name) + "' needs " + argument_kind(arguments, name) +
                 ", not an empty value";
        return false;
    }
    return true;
}

bool named_path_exists(const char* path, bool want_directory) {
    const PathKind kind = path_kind(path);
    return kind != PathKind::kNothing && want_directory == (kind == PathKind::kFolder);
}

std::string dash_path_message(const NamedPath* paths, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (paths[i].path != nullptr && strcmp(paths[i].path, "-") == 0) {
            return std::string("'-' is not a file name here: name a file for ") + paths[i].role +
                   " (./- for a file called '-')";
        }
    }
    return "";
}

namespace {

bool json_errors = false;

// The failure as the JSON object of a run that asked for one: never an empty standard output.
void print_json_error(int status, const std::string& message) {
    if (!json_errors) return;
    printf(
        "{\"schema_version\": 1, \"result\": \"failed\", \"status\": %d, \"error\": "
        "{\"message\": %s}}\n",
        status, json_string(message).c_str());
    fflush(stdout);
}

}  // namespace

bool option_word_given(int argc, char** argv, const char* word) {
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], word) == 0) return true;
    }
    return false;
}

void set_json_errors(bool on) { json_errors = on; }

int usage_error(const char* tool, const std::string& message) {
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", tool, message.c_str(), tool);
    print_json_error(2, message);
    return 2;
}

int failure(const char* tool, const std::string& message) {
    fprintf(stderr, "%s: %s\n", tool, message.c_str());
    print_json_error(1, message);
    return 1;
}

bool output_written(const char* tool, const char* what, const std::string& done) {
    errno = 0;
    const bool flushed = fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !ferror(stdout)) return true;
    const std::string reason = error != 0 ? strerror(error) : "a write failed";
    fprintf(stderr, "%s: cannot write %s: %s%s%s\n", tool, what, reason.c_str(),
            done.empty() ? "" : "; ", done.c_str());
    return false;
}

void keep_keys_out_of_core_files(const char* tool) {
    if (forbid_core_dumps()) return;
    fprintf(stderr, "%s: warning: a core file of this run could hold its keys: %s\n", tool,
            strerror(errno));
}
