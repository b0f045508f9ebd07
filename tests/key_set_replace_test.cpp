// SPDX-License-Identifier: Apache-2.0
// bootseal-keygen replacing a key set: the whole set it finds, one run at a time, and every tool
// putting right the set a killed run left half replaced.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/set_journal.hpp"
#include "tests/test_support.hpp"

namespace {

const std::string kKeys = std::string(TEST_DATA_DIR) + "/keys/";

class KeySetReplace : public TempDirTest {
protected:
    // kg/ with the five files of pair-high's set (aes.txt a fixed key).
    void put_old_set() {
        const std::string from = kKeys + "pair-high/";
        shell_output("rm -rf " + path("kg") + " && mkdir " + path("kg") + " && cd " + from +
                     " && cp rsa_priv.txt rsa_pub.txt private.pem public.pem " + path("kg") +
                     " && echo 000102030405060708090a0b0c0d0e0f >" + path("kg/aes.txt"));
    }
    std::string listing(const std::string& folder) {
        return shell_output("cd " + path(folder) + " && ls -A | xargs && md5sum $(ls -A)");
    }
};

// --force moves every file of the set it finds aside, whatever forms it writes, and says so for
// each; without --force any file of a set refuses the run, and so does a backup in the way.
TEST_F(KeySetReplace, ForceReplacesTheWholeSetItFinds) {
    // aes.txt is not of the pair: it stays unless the run makes a new one (moved aside unasked,
    // it would leave bootseal to seal with the public built-in key).
    const std::string kept_pair =
        "kept the replaced kg/rsa_priv.txt as kg/rsa_priv.txt.old\n"
        "kept the replaced kg/rsa_pub.txt as kg/rsa_pub.txt.old\n"
        "kept the replaced kg/private.pem as kg/private.pem.old\n"
        "kept the replaced kg/public.pem as kg/public.pem.old\n";
    struct Case {
        std::vector<std::string> options;
        const char* remove;  // files of the old set taken away first
        int status;
        std::string report;  // standard output up to the modulus line, or the refusal
        const char* names;   // the folder afterwards
    };
    const Case cases[] = {
        {{"--force"},
         "",
         0,
         "wrote kg/rsa_priv.txt (mode 0600)\nwrote kg/rsa_pub.txt\n" + kept_pair,
         "aes.txt private.pem.old public.pem.old rsa_priv.txt rsa_priv.txt.old rsa_pub.txt "
         "rsa_pub.txt.old"},
        {{"--force", "--pem"},
         "kg/aes.txt",
         0,
         "wrote kg/rsa_priv.txt (mode 0600)\nwrote kg/rsa_pub.txt\nwrote kg/private.pem (mode "
         "0600)\nwrote kg/public.pem\nkept the replaced kg/rsa_priv.txt as kg/rsa_priv.txt.old\n"
         "kept the replaced kg/rsa_pub.txt as kg/rsa_pub.txt.old\nkept the replaced "
         "kg/private.pem as kg/private.pem.old\nkept the replaced kg/public.pem as "
         "kg/public.pem.old\n",
         "private.pem private.pem.old public.pem public.pem.old rsa_priv.txt rsa_priv.txt.old "
         "rsa_pub.txt rsa_pub.txt.old"},
        {{},
         "kg/rsa_priv.txt kg/rsa_pub.txt kg/aes.txt",
         1,
         "bootseal-keygen: 'kg/private.pem' exists; nothing written (use --force to replace it)\n",
         nullptr},
        {{"--force", "--aes"},
         "kg/rsa_pub.txt",
         1,
         "bootseal-keygen: 'kg/public.pem.old' holds a key replaced earlier; nothing written (move "
         "it away first)\n",
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options) + " without " + c.remove);
        put_old_set();
        shell_output("cd " + dir_ + " && rm -f " + c.remove);
        if (c.status != 0) shell_output("touch " + path("kg/public.pem.old"));
        const std::string before = listing("kg");
        // A secret key of its owner's only, as keygen would warn otherwise.
        shell_output("cp " + kKeys + "pair-b/private.pem " + path("from.pem") + " && chmod 600 " +
                     path("from.pem"));
        std::vector<std::string> args = {"--dir", "kg", "--from-pem", path("from.pem")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ToolRun run = run_program(KEYGEN_EXE, dir_, args);
        EXPECT_EQ(run.status, c.status) << run.errors;
        if (c.status != 0) {
            EXPECT_EQ(run.errors, c.report);
            EXPECT_EQ(listing("kg"), before);
            continue;
        }
        EXPECT_EQ(run.output.substr(0, run.output.find("modulus:")), c.report);
        EXPECT_EQ(shell_output("cd " + path("kg") + " && ls -A | xargs"),
                  std::string(c.names) + "\n");
        // The new pair is the --from-pem key's.
        EXPECT_EQ(shell_output("head -n 1 " + path("kg/rsa_pub.txt")),
                  shell_output("head -n 1 " + kKeys + "pair-b/rsa_pub.txt"));
    }
}

// A second run into the folder waits while the first writes, says so, and then finds the first
// run's keys: keygen refuses them without --force, as it would have after the first had ended,
// and bootseal seals with the whole new pair, never half of one. A folder the first run makes
// is waited for too.
TEST_F(KeySetReplace, ASecondRunWaitsForTheFirstAndFindsItsKeys) {
    write_file(path("in.bin"), read_file(SAMPLE_LOADER));
    struct Case {
        const char* name;
        bool folder_exists;
        std::string second;  // run in the test's folder
        const char* status;  // the first run's, then the second's
        std::string said;
    };
    const Case cases[] = {
        {"keygen", true, std::string(KEYGEN_EXE) + " --dir kg", "0\n1\n",
         "bootseal-keygen: waiting for the run that is writing into 'kg'\n"
         "bootseal-keygen: 'kg/rsa_priv.txt' exists; nothing written (use --force to replace "
         "it)\n"},
        {"bootseal", true,
         "cd kg && " + std::string(BOOTSEAL_EXE) +
             " ../in.bin ../out.bin 341 2 "
             ">/dev/null",
         "0\n0\n", "bootseal: waiting for the run that is writing into '.'\n"},
        // Both started at once, neither finding the folder: one makes it, the other waits.
        {"keygen into a folder the first makes", false, std::string(KEYGEN_EXE) + " --dir kg",
         "0\n1\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell_output("rm -rf " + path("kg") + " " + path("out.bin") +
                     (c.folder_exists ? " && mkdir " + path("kg") : std::string()));
        // The first run is held at its first rename, its journal written, for a second.
        // (LeakSanitizer cannot run under ptrace: a sanitizer build leaves it out there.)
        const std::string first = "cd " + dir_ +
                                  " && ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null "
                                  "-e trace=rename " +
                                  "-e inject=rename:delay_enter=1000000:when=1 " + KEYGEN_EXE +
                                  " --dir kg >first.out 2>&1; echo $? >first.status";
        const std::string wait = c.folder_exists ? "for i in $(seq 200); do [ -e "
                                                   "kg/.bootseal.journal ] && break; sleep 0.02; "
                                                   "done; "
                                                 : "";
        shell_output("(" + first + ") & cd " + dir_ + " && " + wait + "(" + c.second +
                     ") >second.out 2>&1; echo $? >second.status; wait");
        EXPECT_EQ(
            shell_output("cat " + path("first.status") + " " + path("second.status") + " | sort"),
            c.status);
        const std::string said = shell_output("cat " + path("second.out"));
        EXPECT_EQ(said.substr(0, c.said.size()), c.said) << said;
        EXPECT_EQ(shell_output("cd " + path("kg") + " && ls -A | xargs"),
                  "rsa_priv.txt rsa_pub.txt\n");
        if (std::string(c.name) == "bootseal") {
            // Signed with the first run's new pair, whole.
            const ToolRun check = run_program(
                VERIFY_EXE, dir_, {"out.bin", "--chip", "341", "--secure", "2", "--keys", "kg"});
            EXPECT_EQ(check.status, 0) << check.output;
        }
    }
}

// Every tool, before it reads a key from a folder or writes into it, undoes the replacement a
// killed run left there and removes the killed run's temporaries, and says so on standard error:
// bootseal's transcript on standard output stays as it was.
TEST_F(KeySetReplace, EveryToolPutsBackTheSetAKilledRunLeft) {
    struct Case {
        const char* tool;
        const char* folder;  // where the keys are read from
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {BOOTSEAL_EXE, ".", {"in.bin", "out.bin", "341", "2"}},
        {SIGN_EXE,
         "kg",
         {"--quiet", "--chip", "341", "--secure", "2", "--default-aes-key", "--rsa-key",
          "kg/rsa_priv.txt", "--rsa-pub", "kg/rsa_pub.txt", "in.bin", "out.bin"}},
        {VERIFY_EXE, "kg", {"in.bin", "--chip", "341", "--secure", "2", "--keys", "kg"}},
        {KEYGEN_EXE, "kg", {"--dir", "kg", "--force"}},
    };
    const std::string pair = kKeys + "pair-high/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        const std::string folder = path(c.folder);
        shell_output("rm -rf " + dir_ + "/* && mkdir -p " + folder + " && cp " + pair +
                     "rsa_*.txt " + folder + " && chmod 600 " + folder + "/rsa_priv.txt");
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        const ToolRun clean = run_program(c.tool, dir_, c.args);
        // A run killed after the first of two new files took its place.
        shell_output("cd " + folder + " && rm -f *.old out.bin && cp " + pair +
                     "rsa_*.txt . && ln rsa_priv.txt rsa_priv.txt.old && ln rsa_pub.txt "
                     "rsa_pub.txt.old && echo N = 12 >.bootseal.999999.1.tmp && echo D = 1 "
                     ">new && mv new rsa_priv.txt && echo x >.bootseal.999999.2.tmp");
        std::string journal;
        ASSERT_TRUE(
            format_set_journal(folder,
                               {{folder + "/rsa_priv.txt", folder + "/.bootseal.999999.0.tmp",
                                 folder + "/rsa_priv.txt.old"},
                                {folder + "/rsa_pub.txt", folder + "/.bootseal.999999.1.tmp",
                                 folder + "/rsa_pub.txt.old"}},
                               &journal));
        write_text(set_journal_path(folder), journal);
        const ToolRun run = run_program(c.tool, dir_, c.args);
        EXPECT_EQ(run.status, clean.status) << run.errors;
        const std::string name = shell_output("basename " + std::string(c.tool) + " | tr -d '\\n'");
        EXPECT_EQ(run.errors.substr(0, run.errors.find('\n', run.errors.find('\n') + 1) + 1),
                  name + ": undid the interrupted replacement of the key files in '" + c.folder +
                      "': the old ones are back\n" + name +
                      ": removed 1 temporary file that a stopped run left in '" + c.folder + "'\n");
        if (c.tool == std::string(KEYGEN_EXE)) continue;  // it goes on to replace the set
        EXPECT_EQ(run.output, clean.output);
        EXPECT_EQ(read_file(folder + "/rsa_priv.txt"), read_file(pair + "rsa_priv.txt"));
        EXPECT_EQ(shell_output("cd " + folder + " && ls -A | grep -c 'bootseal\\|old'"), "0\n");
    }
}

}  // namespace
