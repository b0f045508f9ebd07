// SPDX-License-Identifier: Apache-2.0
#include "platform/file_replace.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/test_support.hpp"

namespace {

class FileReplace : public TempDirTest {
protected:
    WriteResult stage(StagedFile* file, const std::string& name, const std::string& text,
                      unsigned mode = 0644) {
        return stage_file(file, path(name).c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                          text.size(), mode, FileMode::kExact);
    }
    std::string text_of(const std::string& name) {
        const Bytes data = read_file(path(name));
        return std::string(data.begin(), data.end());
    }
    std::string listing() { return shell_output("ls -A " + dir_); }
};

// Whatever stands at the target when the staged file is named, only a regular file (or nothing)
// is replaced; anything else stays, and the staged file leaves no trace.
TEST_F(FileReplace, OnlyARegularFileOrNothingIsReplaced) {
    struct Case {
        const char* name;
        std::function<void(const std::string& target)> put;  // runs between stage and commit
        bool replaced;
    };
    const Case cases[] = {
        {"nothing", [](const std::string&) {}, true},
        {"a regular file", [](const std::string& t) { write_text(t, "old"); }, true},
        {"a FIFO", [](const std::string& t) { ASSERT_EQ(mkfifo(t.c_str(), 0644), 0); }, false},
        {"a folder", [](const std::string& t) { ASSERT_EQ(mkdir(t.c_str(), 0755), 0); }, false},
        {"a link", [](const std::string& t) { ASSERT_EQ(symlink("elsewhere", t.c_str()), 0); },
         false},
        {"a device node", [](const std::string& t) { ASSERT_TRUE(make_device(t, 1, 3)); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell_output("rm -rf " + dir_ + "/* " + dir_ + "/.[!.]*");
        StagedFile file;
        ASSERT_EQ(stage(&file, "out.bin", "new"), WriteResult::kWritten);
        c.put(path("out.bin"));
        struct stat before;
        const bool had = lstat(path("out.bin").c_str(), &before) == 0;
        EXPECT_EQ(commit_files(&file, 1, nullptr, nullptr), c.replaced);
        EXPECT_EQ(listing(), "out.bin\n") << "a staged file was left behind";
        struct stat after;
        ASSERT_EQ(lstat(path("out.bin").c_str(), &after), 0);
        if (c.replaced) {
            EXPECT_EQ(text_of("out.bin"), "new");
        } else {
            ASSERT_TRUE(had);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_mode, before.st_mode);
        }
    }
}

// A set of files is named whole or not at all: when one cannot be put in place, the files
// already replaced get their old contents back and no backup or staged file remains.
TEST_F(FileReplace, ASetIsReplacedWholeOrNotAtAll) {
    for (const bool with_backup : {true, false}) {
        SCOPED_TRACE(with_backup ? "with backups" : "without backups");
        shell_output("rm -rf " + dir_ + "/*");
        write_text(path("a.txt"), "old a");
        chmod(path("a.txt").c_str(), 0600);
        StagedFile files[3];
        ASSERT_EQ(stage(&files[0], "a.txt", "new a"), WriteResult::kWritten);
        ASSERT_EQ(stage(&files[1], "b.txt", "new b"), WriteResult::kWritten);
        ASSERT_EQ(stage(&files[2], "c.txt", "new c"), WriteResult::kWritten);
        ASSERT_EQ(mkdir(path("c.txt").c_str(), 0755), 0);  // the last cannot be put in place
        size_t failed = 99;
        EXPECT_FALSE(commit_files(files, 3, with_backup ? ".old" : nullptr, &failed));
        EXPECT_EQ(failed, 2u);
        EXPECT_EQ(listing(), "a.txt\nc.txt\n");
        EXPECT_EQ(text_of("a.txt"), "old a");
        struct stat st;
        ASSERT_EQ(stat(path("a.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(FileReplace, ReplacedFilesAreKeptUnderTheBackupNameUnlessOneIsThere) {
    write_text(path("key.txt"), "old key");
    chmod(path("key.txt").c_str(), 0600);
    StagedFile file;
    ASSERT_EQ(stage(&file, "key.txt", "new key", 0600), WriteResult::kWritten);
    ASSERT_TRUE(commit_files(&file, 1, ".old", nullptr));
    EXPECT_EQ(listing(), "key.txt\nkey.txt.old\n");
    EXPECT_EQ(text_of("key.txt"), "new key");
    EXPECT_EQ(text_of("key.txt.old"), "old key");
    struct stat st;
    ASSERT_EQ(stat(path("key.txt.old").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second replacement would have to drop the first backup: it is refused instead.
    ASSERT_EQ(stage(&file, "key.txt", "newer key", 0600), WriteResult::kWritten);
    EXPECT_FALSE(commit_files(&file, 1, ".old", nullptr));
    EXPECT_EQ(listing(), "key.txt\nkey.txt.old\n");
    EXPECT_EQ(text_of("key.txt"), "new key");
    EXPECT_EQ(text_of("key.txt.old"), "old key");
}

}  // namespace
