// SPDX-License-Identifier: Apache-2.0
#include "platform/folder_recovery.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/set_journal.hpp"
#include "tests/test_support.hpp"

namespace {

class FolderRecovery : public TempDirTest {
protected:
    // Every file of the folder with its text, hidden ones included: "name=text" lines.
    std::string listing() {
        return shell_output("cd " + dir_ +
                            " && for f in $(ls -A); do printf '%s=%s\\n' \"$f\" \"$(cat \"$f\")\"; "
                            "done");
    }
    // The pid of a process that ran and is gone.
    static pid_t dead_pid() {
        const pid_t child = fork();
        if (child == 0) _exit(0);
        waitpid(child, nullptr, 0);
        return child;
    }
};

// A set of three files (a.txt replaced, b.txt new, c.txt moved aside) interrupted after each of
// its steps is undone until its last step is taken, and finished after it; a recovery cut short
// while it undoes goes on undoing. The folder then holds the old set or the new one, and nothing
// else.
TEST_F(FolderRecovery, AnInterruptedSetIsUndoneOrFinishedFromEveryStep) {
    const std::string old_set = "a.txt=old a\nc.txt=old c\n";
    const std::string new_set = "a.txt=new a\na.txt.old=old a\nb.txt=new b\nc.txt.old=old c\n";
    struct Case {
        size_t steps;   // forward steps taken: links of a and c, rename a, rename b, unlink c
        bool undoing;   // the journal was marked for undoing
        size_t undone;  // undo steps of that run taken, from the last entry
        SetRecovery expected;
    };
    const Case cases[] = {
        {0, false, 0, SetRecovery::kUndone}, {1, false, 0, SetRecovery::kUndone},
        {2, false, 0, SetRecovery::kUndone}, {3, false, 0, SetRecovery::kUndone},
        {4, false, 0, SetRecovery::kUndone}, {5, false, 0, SetRecovery::kFinished},
        {3, true, 0, SetRecovery::kUndone},  {3, true, 1, SetRecovery::kUndone},
        {5, true, 1, SetRecovery::kUndone},  {5, true, 2, SetRecovery::kUndone},
        {5, true, 3, SetRecovery::kUndone},
    };
    const std::vector<JournalEntry> entries = {
        {path("a.txt"), path(".bootseal.1.0.tmp"), path("a.txt.old")},
        {path("b.txt"), path(".bootseal.1.1.tmp"), ""},
        {path("c.txt"), "", path("c.txt.old")}};
    for (const Case& c : cases) {
        SCOPED_TRACE("after " + std::to_string(c.steps) + " steps" +
                     (c.undoing ? ", undoing " + std::to_string(c.undone) : ""));
        shell_output("rm -rf " + dir_ + "/* " + dir_ + "/.[!.]*");
        write_text(path("a.txt"), "old a");
        write_text(path("c.txt"), "old c");
        write_text(entries[0].temp, "new a");
        write_text(entries[1].temp, "new b");
        std::string journal;
        ASSERT_TRUE(format_set_journal(dir_, entries, &journal));
        write_text(set_journal_path(dir_), journal);
        const std::vector<std::string> steps = {"ln a.txt a.txt.old", "ln c.txt c.txt.old",
                                                "mv .bootseal.1.0.tmp a.txt",
                                                "mv .bootseal.1.1.tmp b.txt", "rm c.txt"};
        for (size_t i = 0; i < c.steps; ++i) shell_output("cd " + dir_ + " && " + steps[i]);
        if (c.undoing) {
            shell_output("cd " + dir_ + " && mv .bootseal.journal .bootseal.undo");
            std::string failed;
            for (size_t i = 0; i < c.undone; ++i) {
                ASSERT_EQ(undo_set_steps({entries[entries.size() - 1 - i]}, &failed), 0);
            }
        }
        const ::FolderRecovery done = recover_folder(dir_.c_str(), false);
        EXPECT_EQ(done.set, c.expected) << done.why;
        EXPECT_EQ(listing(), c.expected == SetRecovery::kFinished ? new_set : old_set);
        EXPECT_EQ(recover_folder(dir_.c_str(), false).set, SetRecovery::kNothing);
    }
}

// A journal that is not whole says nothing to be trusted, nor one that names a file of another
// folder (a planted one would have a run as root rename files anywhere): the folder is left as
// it was found, temporaries included, and the failure says which journal.
TEST_F(FolderRecovery, AJournalCutShortOrNamingOtherFoldersLeavesTheFolderAsItWas) {
    std::string whole;
    ASSERT_TRUE(format_set_journal(dir_, {{path("a.txt"), path(".bootseal.1.0.tmp"), ""}}, &whole));
    EXPECT_EQ(whole.find(dir_), std::string::npos) << "the journal names its folder";
    std::string elsewhere;
    EXPECT_FALSE(
        format_set_journal(dir_, {{"/etc/a.txt", path(".bootseal.1.0.tmp"), ""}}, &elsewhere));
    const std::string header = whole.substr(0, whole.find('\0') + 1);
    auto planted = [&header](const std::string& target, const std::string& temp) {
        return header + target + '\0' + temp + '\0' + '\0' + "end" + '\0';
    };
    for (const std::string& bytes :
         {whole.substr(0, whole.size() - 1), std::string("\0", 1), std::string(),
          whole.substr(0, 23) + "end" + '\0', planted(dir_ + "/../victim", "x.tmp"),
          planted("a.txt", "/tmp/x.tmp"), planted("..", "x.tmp"), planted("a.txt", "sub/x")}) {
        shell_output("rm -rf " + dir_ + "/* " + dir_ + "/.[!.]*");
        write_text(path(".bootseal." + std::to_string(dead_pid()) + ".0.tmp"), "new a");
        write_text(set_journal_path(dir_), bytes);
        const std::string before = listing();
        const ::FolderRecovery done = recover_folder(dir_.c_str(), false);
        EXPECT_EQ(done.set, SetRecovery::kFailed);
        EXPECT_NE(done.why.find(".bootseal.journal' cannot be read whole, or names files of other "
                                "folders"),
                  std::string::npos);
        EXPECT_EQ(listing(), before);
    }
}

// Only temporaries of processes that no longer run are removed; a live run's, and names that
// only look like temporaries, stay.
TEST_F(FolderRecovery, OnlyTheTemporariesOfEndedProcessesAreRemoved) {
    const std::string dead = std::to_string(dead_pid());
    const std::string live = std::to_string(getpid());
    const std::vector<std::string> kept = {
        ".bootseal." + live + ".0.tmp",  ".bootseal.1.3.tmp",
        ".bootseal." + dead + ".tmp",    ".bootseal." + dead + ".0.tmp.old",
        ".bootseal.-" + dead + ".0.tmp", "bootseal." + dead + ".0.tmp"};
    const std::vector<std::string> removed = {".bootseal." + dead + ".0.tmp",
                                              ".bootseal." + dead + ".101.tmp"};
    for (const auto* names : {&kept, &removed}) {
        for (const std::string& name : *names) write_text(path(name), "x");
    }
    ASSERT_EQ(mkdir(path(".bootseal." + dead + ".7.tmp").c_str(), 0700), 0);  // not a file
    const ::FolderRecovery done = recover_folder(dir_.c_str(), false);
    EXPECT_EQ(done.set, SetRecovery::kNothing);
    EXPECT_EQ(done.temporaries_removed, removed.size());
    for (const std::string& name : kept) EXPECT_TRUE(file_exists(path(name))) << name;
    for (const std::string& name : removed) EXPECT_FALSE(file_exists(path(name))) << name;
}

// A second run waits for the lock while the first holds it, and gets it when the first ends,
// however it ends: the kernel drops the lock of a killed holder.
TEST_F(FolderRecovery, TheLockIsWaitedForAndDroppedWithItsHolder) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        lock_folder(dir_.c_str(), nullptr);
        (void)!write(ready[1], "x", 1);
        pause();  // until killed
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    static pid_t to_kill;
    static bool waited;
    to_kill = holder;
    waited = false;
    const int handle = lock_folder(dir_.c_str(), [](const char*) {
        waited = true;
        kill(to_kill, SIGKILL);
    });
    EXPECT_GE(handle, 0);
    EXPECT_TRUE(waited);
    waitpid(holder, nullptr, 0);
    // A folder this process holds is not waited for again (a run called twice in one process,
    // as the fuzzer calls bootseal's, would wait for itself).
    waited = false;
    EXPECT_EQ(lock_folder(dir_.c_str(), [](const char*) { waited = true; }), handle);
    EXPECT_FALSE(waited);
    unlock_folder(handle);
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
