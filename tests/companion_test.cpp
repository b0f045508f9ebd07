// SPDX-License-Identifier: Apache-2.0
// bootseal-keygen and bootseal-verify against images the built bootseal makes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

struct SealCase {
    const char* chip;
    const char* mode;
};

const SealCase kEveryKind[] = {
    {"229", "0"}, {"173", "0"}, {"229", "1"}, {"341", "3"}, {"227", "2"}, {"341", "2"}, {"229", "3"},
};

class Companions : public TempDirTest {
protected:
    ToolRun verify(const std::string& image, const char* chip, const char* mode,
                   std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {image, "--chip", chip, "--secure", mode};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_program(VERIFY_EXE, dir_, args);
    }
    ToolRun seal(const SealCase& c, const std::string& out) {
        return run_tool(dir_, {"in.bin", out, c.chip, c.mode});
    }
    void sample(const char* chip) {
        Bytes input = read_file(SAMPLE_LOADER);
        if (std::string(chip) == "173") {  // layout B: move the header up by sixteen bytes
            Bytes moved(input.size(), 0);
            std::copy(input.begin(), input.begin() + 48, moved.begin());
            std::copy(input.begin() + 48, input.begin() + 100, moved.begin() + 64);
            std::fill(moved.begin() + 80, moved.begin() + 120, 0);
            std::copy(input.begin() + 112, input.end(), moved.begin() + 112);
            input = moved;
        }
        write_file(path("in.bin"), input);
    }
    static size_t count(const std::string& text, const std::string& word) {
        size_t n = 0;
        for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
        return n;
    }
};

TEST_F(Companions, KeygenThenEveryKindOfImageThenVerifyPasses) {
    ToolRun keygen = run_program(KEYGEN_EXE, dir_, {"--aes"});
    ASSERT_EQ(keygen.status, 0) << keygen.errors;
    struct stat st;
    ASSERT_EQ(stat(path("rsa_priv.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(path("aes.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const SealCase& c : kEveryKind) {
        SCOPED_TRACE(std::string(c.chip) + " " + c.mode);
        sample(c.chip);
        const ToolRun sealed = seal(c, "out.bin");
        ASSERT_EQ(sealed.status, 0) << sealed.output;
        EXPECT_EQ(sealed.output.find(" failed"), std::string::npos);
        const ToolRun checked = verify("out.bin", c.chip, c.mode, {"--keys", dir_});
        EXPECT_EQ(checked.status, 0) << checked.output;
        EXPECT_EQ(count(checked.output, " FAIL "), 0u) << checked.output;
        // Nothing left in a secure image of chip 227 confirms its AES key.
        const bool confirmable = std::string(c.chip) != "227";
        EXPECT_NE(checked.output.find(confirmable
                                          ? "result           OK         every check passed\n"
                                          : "result           UNCHECKED  4 passed, 3 could not be "
                                            "made (payload decrypts, image digest, signature): "
                                            "see their lines\n"),
                  std::string::npos)
            << checked.output;
    }
}

TEST_F(Companions, VerifyReportsEachCheckOnItsOwnLine) {
    sample("341");
    write_file(path("rsa_priv.txt"),
               read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_priv.txt"));
    write_file(path("rsa_pub.txt"),
               read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_pub.txt"));
    ASSERT_EQ(seal({"341", "2"}, "rsa.bin").status, 0);
    const ToolRun run = verify("rsa.bin", "341", "2");
    EXPECT_EQ(run.status, 0);
    const char* names[] = {"size", "boot tag", "dram count", "secure marker", "data checksum",
                           "payload decrypts", "image digest", "header digest", "rsa signature",
                           "rsa key", "header checksum"};
    std::string expected_order;
    std::string actual_order;
    for (const char* name : names) expected_order += std::string(name) + ";";
    std::istringstream lines(run.output);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "rsa.bin: chip 341, secure boot 2, RSA-signed image");
    while (std::getline(lines, line)) {
        if (line.rfind("result", 0) == 0) break;
        std::string name = line.substr(0, 16);  // names are padded to sixteen columns
        name.erase(name.find_last_not_of(' ') + 1);
        actual_order += name + ";";
        EXPECT_EQ(line.substr(17, 11), "OK         ") << line;
    }
    EXPECT_EQ(actual_order, expected_order);
    EXPECT_NE(
        run.output.find("rsa key          OK         the header's key is the one in ./rsa_pub.txt"),
        std::string::npos);
}

struct Corruption {
    const char* name;
    size_t offset;
};

TEST_F(Companions, EverySingleByteCorruptionOfASignedImageFails) {
    write_file(path("rsa_priv.txt"),
               read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_priv.txt"));
    write_file(path("rsa_pub.txt"),
               read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_pub.txt"));
    const Corruption common[] = {
        {"header start", 0},      {"boot tag", 48},        {"header checksum", 50},
        {"dram count", 56},       {"dram table", 68},      {"key stamp", 116},
        {"secure marker", 140},   {"data checksum", 142},  {"image digest", 480},
        {"image digest end", 511}, {"payload start", 512}, {"payload middle", 20000},
        {"payload end", 32767},
    };
    const Corruption aes_only[] = {{"aes signature", 448}, {"aes signature end", 479},
                                   {"unused header bytes", 300}};
    const Corruption rsa_only[] = {{"rsa modulus", 192},    {"rsa modulus top", 319},
                                   {"rsa exponent", 320},   {"rsa exponent top", 351},
                                   {"rsa signature", 352},  {"rsa signature end", 479}};
    for (const SealCase& c : {SealCase{"229", "1"}, SealCase{"341", "2"}}) {
        sample(c.chip);
        ASSERT_EQ(seal(c, "good.bin").status, 0);
        const Bytes good = read_file(path("good.bin"));
        std::vector<Corruption> cases(std::begin(common), std::end(common));
        if (std::string(c.mode) == "1") {
            cases.insert(cases.end(), std::begin(aes_only), std::end(aes_only));
        } else {
            cases.insert(cases.end(), std::begin(rsa_only), std::end(rsa_only));
        }
        for (const Corruption& k : cases) {
            SCOPED_TRACE(std::string(c.chip) + " " + k.name);
            Bytes bad = good;
            bad[k.offset] ^= 0x01;
            write_file(path("bad.bin"), bad);
            const ToolRun run = verify("bad.bin", c.chip, c.mode);
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_GE(count(run.output, " FAIL "), 1u) << run.output;
        }
    }
}

TEST_F(Companions, WrongKeysAreNamedInTheFailure) {
    sample("229");
    write_text(path("aes.txt"), "00112233445566778899aabbccddeeff");
    ASSERT_EQ(seal({"229", "1"}, "aes.bin").status, 0);
    ASSERT_EQ(seal({"229", "3"}, "wr.bin").status, 0);
    ASSERT_EQ(mkdir(path("other").c_str(), 0755), 0);
    write_text(path("other/aes.txt"), "ffeeddccbbaa99887766554433221100");
    ToolRun run = verify("aes.bin", "229", "1", {"--keys", path("other")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("aes signature    FAIL       decrypts to "), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(path("other/aes.txt")), std::string::npos);
    EXPECT_NE(run.output.find("image digest     FAIL"), std::string::npos);
    run = verify("wr.bin", "229", "3", {"--keys", path("other")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.output.find("wrapped key      FAIL       unwraps to a key that is not the key of " +
                        path("other/aes.txt")),
        std::string::npos)
        << run.output;

    sample("341");
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/";
    write_file(path("rsa_priv.txt"), read_file(keys + "pair-high/rsa_priv.txt"));
    write_file(path("rsa_pub.txt"), read_file(keys + "pair-high/rsa_pub.txt"));
    ASSERT_EQ(seal({"341", "2"}, "rsa.bin").status, 0);
    write_file(path("other/aes.txt"), read_file(path("aes.txt")));
    write_file(path("other/rsa_pub.txt"), read_file(keys + "pair-a/rsa_pub.txt"));
    run = verify("rsa.bin", "341", "2", {"--keys", path("other")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("rsa signature    OK         verifies with the header's key "
                              "(1024-bit N, E 65537)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("rsa key          FAIL       the header's key is not the one in " +
                              path("other/rsa_pub.txt")),
              std::string::npos)
        << run.output;
}

TEST_F(Companions, DecryptWritesThePlaintextAndJsonCarriesTheSameResults) {
    sample("229");
    ASSERT_EQ(seal({"229", "1"}, "aes.bin").status, 0);
    const ToolRun run = verify("aes.bin", "229", "1", {"--decrypt", "plain.bin", "--json"});
    EXPECT_EQ(run.status, 0) << run.output;
    Bytes expected = read_file(SAMPLE_LOADER);
    expected.resize(32768, 0);
    const Bytes plain = read_file(path("plain.bin"));
    ASSERT_EQ(plain.size(), 32768u);
    EXPECT_TRUE(std::equal(plain.begin() + 512, plain.end(), expected.begin() + 512));
    write_text(path("report.json"), run.output);
    EXPECT_EQ(shell_output("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                           "print(d[\"result\"], len(d[\"checks\"]), d[\"kind\"])' " +
                           path("report.json")),
              "ok 11 AES-signed\n");
}

// A sealed image is not sealed again by mistake, and plaintext is written only with a key the
// image shows is its own, for its owner only.
TEST_F(Companions, NoSecondSealAndNoPlaintextFromAnUnprovenKey) {
    sample("341");
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    shell_output("cd " + dir_ + " && cp " + keys + "rsa_priv.txt " + keys + "rsa_pub.txt . && " +
                 "echo 00112233445566778899aabbccddeeff > aes.txt && " +
                 "echo ffeeddccbbaa99887766554433221100 > wrong.txt && chmod 600 *.txt && " +
                 // A loader whose code reads as random bytes, as a compressed one does.
                 "(head -c 512 in.bin; head -c 20000 /dev/urandom) > dense.bin");
    ASSERT_EQ(seal({"229", "1"}, "aes.bin").status, 0);
    ASSERT_EQ(seal({"341", "2"}, "rsa.bin").status, 0);
    ASSERT_EQ(seal({"229", "0"}, "plain.bin").status, 0);
    ASSERT_EQ(seal({"227", "2"}, "other.bin").status, 0);
    ASSERT_EQ(run_tool(dir_, {"aes.bin", "twice.bin", "229", "1"}).status, 0);  // as it always did
    ASSERT_EQ(run_tool(dir_, {"dense.bin", "dense-aes.bin", "229", "1"}).status, 0);
    const std::vector<std::string> sign = {"--chip",    "229",     "--secure", "1",
                                           "--aes-key", "aes.txt", "--quiet"};
    auto with = [](std::vector<std::string> a, std::initializer_list<std::string> b) {
        a.insert(a.end(), b);
        return a;
    };
    const std::vector<std::string> rsa = {"--chip",    "341",         "--secure",  "2",
                                          "--aes-key", "aes.txt",     "--rsa-key", "rsa_priv.txt",
                                          "--rsa-pub", "rsa_pub.txt", "--quiet"};
    auto check = [](const char* chip, const char* mode, std::initializer_list<std::string> b) {
        std::vector<std::string> a = {"--chip", chip, "--secure", mode, "--aes-key"};
        a.insert(a.end(), b);
        return a;
    };
    struct Case {
        const char* name;
        const char* program;
        std::vector<std::string> args;
        int status;
        const char* says;     // in standard output or standard error
        const char* written;  // the file the run writes, or that must not be there
        bool expect_written;
    };
    const Case cases[] = {
        {"sign refuses an AES-signed input", SIGN_EXE, with(sign, {"aes.bin", "o1.bin"}), 1,
         "'aes.bin' is a secure image already", "o1.bin", false},
        {"sign refuses an RSA-signed input", SIGN_EXE, with(rsa, {"rsa.bin", "o2.bin"}), 1,
         "--reseal to seal it anyway", "o2.bin", false},
        {"sign reseals when told", SIGN_EXE, with(sign, {"--reseal", "aes.bin", "o3.bin"}), 0, "",
         "o3.bin", true},
        {"sign seals a plain image", SIGN_EXE, with(sign, {"plain.bin", "o4.bin"}), 0, "", "o4.bin",
         true},
        {"--reseal is refused with a plain image",
         SIGN_EXE,
         {"--chip", "229", "--secure", "0", "--reseal", "in.bin", "o5.bin"},
         2,
         "--reseal is for sealing an AES- or RSA-signed image",
         "o5.bin",
         false},
        {"strict fails a twice-sealed image", VERIFY_EXE,
         with(check("229", "1", {"aes.txt"}), {"--strict", "twice.bin"}), 1,
         "the image was sealed twice", "", false},
        {"verify fails it without --strict too", VERIFY_EXE,
         with(check("229", "1", {"aes.txt"}), {"twice.bin"}), 1,
         "payload decrypts FAIL       32256 bytes with aes.txt, but the plaintext is encrypted "
         "once",
         "", false},
        {"a random-looking loader is sealed once", VERIFY_EXE,
         with(check("229", "1", {"aes.txt"}), {"--strict", "dense-aes.bin"}), 0,
         "every check passed", "", false},
        {"no plaintext with a wrong key (AES)", VERIFY_EXE,
         with(check("229", "1", {"wrong.txt"}), {"--decrypt", "p1.bin", "aes.bin"}), 1,
         "decrypt          FAIL       not written: the AES key is not shown to be the image's key",
         "p1.bin", false},
        {"no plaintext with a wrong key (RSA)", VERIFY_EXE,
         with(check("341", "2", {"wrong.txt"}), {"--decrypt", "p2.bin", "rsa.bin"}), 1,
         "which is not shown to be the image's key: the plaintext does not give the image digest",
         "p2.bin", false},
        {"no plaintext where no key can be shown", VERIFY_EXE,
         with(check("227", "2", {"aes.txt"}), {"--decrypt", "p3.bin", "other.bin"}), 1,
         "not written: the AES key is not shown", "p3.bin", false},
        {"plaintext with the image's key", VERIFY_EXE,
         with(check("341", "2", {"aes.txt"}), {"--decrypt", "p4.bin", "rsa.bin"}), 0,
         "plaintext image written to 'p4.bin'", "p4.bin", true},
    };
    write_text(path("p4.bin"), "an older plaintext, readable by all");
    chmod(path("p4.bin").c_str(), 0644);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = run_program(c.program, dir_, c.args);
        EXPECT_EQ(run.status, c.status) << run.output << run.errors;
        EXPECT_NE((run.output + run.errors).find(c.says), std::string::npos)
            << run.output << run.errors;
        if (c.written[0] != '\0') {
            EXPECT_EQ(file_exists(path(c.written)), c.expect_written);
        }
    }
    struct stat st;
    ASSERT_EQ(stat(path("p4.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the plaintext is its owner's only";
    EXPECT_EQ(read_file(path("p4.bin")).size(), 32768u);
}

TEST_F(Companions, UsageErrorsExitWithTwo) {
    sample("229");
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"in.bin", "--chip", "229"},
        {"in.bin", "--strict"},
        {"in.bin", "--chip", "abc", "--secure", "0"},
        {"in.bin", "--chip", "229", "--secure", "1x"},
        {"in.bin", "other.bin", "--chip", "229", "--secure", "0"},
        {"in.bin", "--chip", "229", "--secure", "0", "--decrypt", "x.bin"},
        {"in.bin", "--bogus"},
        // A misspelt key name, named in the message.
        {"in.bin", "--chip", "229", "--secure", "1", "--keys", "keys_typo"},
        {"in.bin", "--chip", "229", "--secure", "1", "--keys", "in.bin"},
        {"in.bin", "--chip", "229", "--secure", "0", "--aes-key", "nofile"},
        {"in.bin", "--chip", "341", "--secure", "2", "--rsa-pub", "nopub"},
    };
    for (const auto& args : bad) {
        const ToolRun run = run_program(VERIFY_EXE, dir_, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.output, "");
        EXPECT_NE(run.errors.find("Try 'bootseal-verify --help'"), std::string::npos);
        if (args.size() == 7 && args[5] != "--decrypt") {
            EXPECT_NE(run.errors.find("'" + args[6] + "'"), std::string::npos);
        }
    }
    EXPECT_EQ(run_program(VERIFY_EXE, dir_, {"--help"}).status, 0);
    EXPECT_EQ(run_program(KEYGEN_EXE, dir_, {"extra"}).status, 2);
    EXPECT_EQ(run_program(KEYGEN_EXE, dir_, {"--version"}).output.rfind("bootseal-keygen ", 0), 0u);
    const ToolRun missing = verify("absent.bin", "229", "0");
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.errors.find("cannot read 'absent.bin'"), std::string::npos);
    write_file(path("short.bin"), Bytes(100, 0));
    const ToolRun short_image = verify("short.bin", "229", "0");
    EXPECT_EQ(short_image.status, 1);
    EXPECT_NE(short_image.output.find("size             FAIL       100 bytes, expected 32768"),
              std::string::npos);
}

// The signer names the keys an image was made with as verify does (the same fingerprints,
// computed here by Python), names the loader limit it holds to, calls a missing public key a
// usage error, and keygen warns of a folder others may write into.
TEST_F(Companions, SignerFingerprintsLimitsAndWarnings) {
    sample("341");
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    shell_output("cd " + dir_ + " && cp " + keys + "rsa_priv.txt " + keys + "rsa_pub.txt " + keys +
                 "private.pem . && echo 00112233445566778899aabbccddeeff > aes.txt && chmod 600 "
                 "aes.txt rsa_priv.txt private.pem && head -c 32769 /dev/zero > big.bin && "
                 "mkdir -m 0777 open && mkdir -m 0700 closed");
    const std::string aes_sha = shell_output(
        "python3 -c 'import hashlib; print(hashlib.sha256(bytes.fromhex(\"00112233445566778899aabb"
        "ccddeeff\")).hexdigest(), end=\"\")'");
    const std::string rsa_sha = shell_output(
        "cd " + dir_ +
        " && python3 -c 'import hashlib; v = dict(l.split(\" = \") for l in "
        "open(\"rsa_pub.txt\").read().split(\"\\n\") if l); n, e = (int(v[k], 16) for k in "
        "\"NE\"); print(hashlib.sha256(n.to_bytes(128, \"little\") + e.to_bytes(32, "
        "\"little\")).hexdigest(), end=\"\")'");
    ASSERT_EQ(aes_sha.size(), 64u);
    ASSERT_EQ(rsa_sha.size(), 64u);
    const std::string json_keys =
        "python3 -c 'import json, sys; k = json.load(sys.stdin)[\"keys\"]; "
        "print(k[\"aes\"][\"source\"], k[\"aes\"][\"fingerprint\"], k[\"rsa\"][\"source\"], "
        "k[\"rsa\"][\"fingerprint\"])'";
    const std::string seal = std::string(SIGN_EXE) + " --chip 341 --aes-key aes.txt ";
    struct Case {
        const char* name;
        std::string command;
        std::string expected;  // a part of standard output and standard error, together
        int status;
    };
    const Case cases[] = {
        {"RSA-signed, JSON",
         seal + "--secure 2 --rsa-key private.pem --json in.bin a.bin | " + json_keys,
         "file " + aes_sha + " file " + rsa_sha, 0},
        {"verify says the same",
         std::string(VERIFY_EXE) +
             " --chip 341 --secure 2 --aes-key aes.txt --rsa-pub "
             "rsa_pub.txt --json a.bin | " +
             json_keys,
         "file " + aes_sha + " file " + rsa_sha, 0},
        {"two steps, JSON",
         seal +
             "--secure 2 --rsa-pub rsa_pub.txt --to-sign b.blk --json "
             "in.bin b.bin | " +
             json_keys,
         "file " + aes_sha + " file " + rsa_sha, 0},
        {"AES-signed, text", seal + "--secure 1 in.bin c.bin",
         "  aes key sha256   " + aes_sha + "\n", 0},
        {"built-in key, JSON",
         std::string(SIGN_EXE) + " --chip 229 --secure 3 --default-aes-key --json in.bin d.bin | " +
             json_keys,
         "built-in ", 0},
        {"a loader over the limit", std::string(SIGN_EXE) + " --chip 229 --secure 0 big.bin e.bin",
         "bootseal-sign: 'big.bin' holds more than 32768 bytes, the most a loader may hold\n", 1},
        {"a text key without --rsa-pub", seal + "--secure 2 --rsa-key rsa_priv.txt in.bin f.bin",
         "holds no public exponent: name the public key file with --rsa-pub\nTry 'bootseal-sign "
         "--help'",
         2},
        {"a folder others may write", std::string(KEYGEN_EXE) + " --dir open",
         "warning: the folder 'open' may be written by other users (mode 0777)", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out =
            shell_output("cd " + dir_ + " && (" + c.command + ") 2>&1; echo \"status $?\"");
        EXPECT_NE(out.find(c.expected), std::string::npos) << out;
        EXPECT_NE(out.find("status " + std::to_string(c.status) + "\n"), std::string::npos) << out;
    }
    const std::string quiet =
        shell_output("cd " + dir_ + " && " + KEYGEN_EXE + " --dir closed 2>&1 >/dev/null");
    EXPECT_EQ(quiet.find("warning"), std::string::npos) << quiet;
    const std::string once = shell_output("cd " + dir_ + " && " + SIGN_EXE +
                                          " --chip 229 --secure 0 big.bin e.bin 2>&1");
    EXPECT_EQ(count(once, "32768"), 1u) << once;
}

struct ReportCase {
    const char* name;
    std::vector<std::string> args;  // after "--chip N --secure M" of the image's own kind
    const char* image;               // secure.bin (342, 1), rsa.bin (341, 2), or another input
    int status;
    const char* expected;  // in standard output or standard error
};

TEST_F(Companions, VerifyPassesOnlyWhatItCheckedAndSaysWhatItCouldNot) {
    write_file(path("rsa_priv.txt"),
               read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_priv.txt"));
    sample("342");
    ASSERT_EQ(seal({"342", "1"}, "secure.bin").status, 0);
    write_file(path("rsa_pub.txt"),
               read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_pub.txt"));
    sample("341");
    ASSERT_EQ(seal({"341", "2"}, "rsa.bin").status, 0);
    ASSERT_EQ(unlink(path("rsa_pub.txt").c_str()), 0);
    write_text(path("wrong.txt"), "ffeeddccbbaa99887766554433221100\n");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
    ASSERT_TRUE(make_device(path("zero"), 1, 5));
    ASSERT_TRUE(make_device(path("full"), 1, 7));
    const ReportCase cases[] = {
        {"wrong key on a chip that cannot confirm it",
         {"--aes-key", "wrong.txt"},
         "secure.bin",
         0,
         "payload decrypts UNCHECKED  32256 bytes with wrong.txt; the AES key cannot be confirmed"},
        {"the same under --strict",
         {"--aes-key", "wrong.txt", "--strict"},
         "secure.bin",
         1,
         "result           FAIL       3 of 7 checks failed"},
        {"the public default key under --strict",
         {"--strict"},
         "secure.bin",
         1,
         "aes key          FAIL       the built-in default key is public: --strict refuses it"},
        {"an RSA image without its public key",
         {},
         "rsa.bin",
         0,
         "result           UNCHECKED  10 passed, 1 could not be made (rsa key): see their lines"},
        {"the same under --strict",
         {"--strict"},
         "rsa.bin",
         1,
         "rsa key          FAIL       --strict refuses what cannot be checked: no ./rsa_pub.txt"},
        {"an endless device",
         {},
         "zero",
         1,
         "size             FAIL       more than 32768 bytes (reading stopped one byte past)"},
        {"a folder", {}, "folder", 3, "bootseal-verify: cannot read 'folder': Is a directory"},
        {"a report that cannot be written",
         {">full"},
         "secure.bin",
         1,
         "bootseal-verify: cannot write the report: No space left on device"},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool rsa = std::string(c.image) == "rsa.bin";
        std::string command = std::string(VERIFY_EXE) + " " + c.image + " --chip " +
                              (rsa ? "341 --secure 2" : "342 --secure 1");
        for (const std::string& arg : c.args) command += " " + arg;
        const std::string run =
            shell_output("cd " + dir_ + " && { " + command + "; } 2>&1; echo $?");
        EXPECT_EQ(run.substr(run.rfind('\n', run.size() - 2) + 1), std::to_string(c.status) + "\n")
            << run;
        EXPECT_NE(run.find(c.expected), std::string::npos) << run;
    }
}

struct JsonCase {
    const char* name;
    std::string args;  // a shell command line after the tool's name
    int status;
    const char* summary;   // a Python expression over the report d, printed, or "" for none
    const char* expected;  // what it prints, or what standard error holds when there is no report
};

TEST_F(Companions, JsonReportsEveryOutcomeAsOneObject) {
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    Bytes loader = read_file(SAMPLE_LOADER);
    std::fill(loader.begin() + 112, loader.begin() + 128, 0);  // no key stamp
    write_file(path("in.bin"), loader);
    ASSERT_EQ(seal({"229", "0"}, "plain.bin").status, 0);
    sample("229");
    ASSERT_EQ(seal({"229", "3"}, "wr.bin").status, 0);
    ASSERT_EQ(seal({"229", "1"}, "aes.bin").status, 0);
    Bytes bad = read_file(path("aes.bin"));
    bad[300] ^= 1;
    write_file(path("bad.bin"), bad);
    write_file(path("\xff\xfe\xc0\xaf.bin"), read_file(path("aes.bin")));
    write_file(path("rsa_priv.txt"), read_file(keys + "rsa_priv.txt"));
    write_file(path("rsa_pub.txt"), read_file(keys + "rsa_pub.txt"));
    sample("341");
    ASSERT_EQ(seal({"341", "2"}, "rsa.bin").status, 0);
    ASSERT_EQ(unlink(path("rsa_pub.txt").c_str()), 0);
    write_text(path("bad.txt"), "not a key\n");
    ASSERT_EQ(mkdir(path("folder").c_str(), 0755), 0);
    ASSERT_TRUE(make_device(path("full"), 1, 7));
    // The fingerprints are taken here, by Python, over the key bytes and the header's key fields.
    write_text(
        path("summary.py"),
        "import hashlib, json, sys\n"
        "d = json.load(open('out.json', encoding='utf-8'))\n"
        "aes = hashlib.sha256(bytes.fromhex('2b7e151628aed2a6abf7158809cf4f3c')).hexdigest()\n"
        "rsa = hashlib.sha256(open('rsa.bin', 'rb').read()[192:352]).hexdigest()\n"
        "check = {c['name']: c for c in d.get('checks', [])}\n"
        "print(eval(sys.argv[1]))\n");
    const JsonCase cases[] = {
        {"a pass, with the whole digests and the built-in key's fingerprint",
         "aes.bin --chip 229 --secure 1 --json", 0,
         "d['schema_version'], d['result'], d['passed'], d['keys']['aes']['fingerprint'] == aes, "
         "d['keys']['rsa'], check['image digest']['stored'] == check['image digest']['computed'], "
         "len(check['image digest']['stored']), check['data checksum']['stored'], d['error']",
         "(1, 'ok', 10, True, {'source': 'none', 'file': None, 'fingerprint': None}, True, 64, "
         "28519, None)"},
        {"a failed check", "bad.bin --chip 229 --secure 1 --json", 1,
         "d['result'], check['image digest']['status'], d['error']", "('fail', 'fail', None)"},
        {"an RSA image checked against the header's own key",
         "rsa.bin --chip 341 --secure 2 --json", 0,
         "d['result'], d['unchecked'], check['rsa key']['status'], d['keys']['rsa']['source'], "
         "d['keys']['rsa']['fingerprint'] == rsa",
         "('unchecked', 1, 'unchecked', 'header', True)"},
        {"the same with its public key",
         "rsa.bin --chip 341 --secure 2 --json --rsa-pub " + keys + "rsa_pub.txt", 0,
         "d['result'], d['keys']['rsa']['source'], "
         "d['keys']['rsa']['fingerprint'] == rsa",
         "('ok', 'file', True)"},
        {"a usage error", "aes.bin --chip 229 --json", 2,
         "d['schema_version'], d['result'], d['chip'], d['checks'], d['error']['message'][:33]",
         "(1, 'fail', None, [], '--chip and --secure go together: ')"},
        {"a usage error met before --json", "--bogus aes.bin --json", 2,
         "d['result'], d['error']['message']", "('fail', \"unknown option '--bogus'\")"},
        {"an image that cannot be read", "folder --chip 229 --secure 1 --json", 3,
         "d['result'], d['image'], d['kind'], d['error']['message']",
         "('fail', 'folder', 'AES-signed', \"cannot read 'folder': Is a directory\")"},
        {"a key that cannot be read", "aes.bin --chip 229 --secure 1 --aes-key bad.txt --json", 3,
         "d['result'], d['keys']['aes'], d['error']['message']",
         "('fail', {'source': 'file', 'file': 'bad.txt', 'fingerprint': None}, 'bad.txt does not "
         "hold a 32-digit hexadecimal key')"},
        {"a report that cannot be written", "aes.bin --chip 229 --secure 1 --json >full", 1, "",
         "bootseal-verify: cannot write the report: No space left on device"},
        {"a file name that is not UTF-8", "'\xff\xfe\xc0\xaf.bin' --chip 229 --secure 1 --json", 0,
         "d['image'], d['result']", "('\ufffd\ufffd\ufffd\ufffd.bin', 'ok')"},
        {"info on a plain image", "plain.bin --json", 0,
         "d['result'], d['size'], d['secure_marker'], d['key_stamp'], d['rsa_key'], "
         "[(l['tag_offset'], l['boot_tag'], l['chips'], l['other_chips']) for l in d['layouts']], "
         "[(t['secure'], t['chips']) for t in d['try']]",
         "('unchecked', 32768, False, None, False, [(48, True, [341, 342, 227, 228, 229], False), "
         "(64, False, [173], True)], [(0, [341, 342, 227, 228, 229])])"},
        {"info on a secure image", "aes.bin --json", 0,
         "d['secure_marker'], d['rsa_key'], [(t['secure'], t['chips']) for t in d['try']]",
         "(True, False, [(1, [341, 229])])"},
        {"info on an RSA-signed image", "rsa.bin --json", 0,
         "d['secure_marker'], d['rsa_key'], [(t['secure'], t['chips']) for t in d['try']]",
         "(True, True, [(2, [341]), (1, [341, 229])])"},
        {"info on a wr-key image", "wr.bin --json", 0,
         "d['key_stamp'], [(t['secure'], t['chips']) for t in d['try']]",
         "('2019-12-08-00042-14.03.00', [(0, [341, 342, 227, 228, 229]), "
         "(3, [342, 227, 228, 229])])"},
        {"info that cannot read the image", "folder --json", 3,
         "d['result'], d['error']['message']",
         "('fail', \"cannot read 'folder': Is a directory\")"},
        {"--strict without a chip to check", "aes.bin --strict --json", 2, "d['result']", "fail"},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string status = shell_output("cd " + dir_ + " && { " + VERIFY_EXE + " " +
                                                c.args + "; } >out.json 2>errors.txt; echo $?");
        EXPECT_EQ(status, std::to_string(c.status) + "\n");
        if (*c.summary == '\0') {
            EXPECT_NE(shell_output("cat " + path("errors.txt")).find(c.expected),
                      std::string::npos);
            continue;
        }
        EXPECT_EQ(shell_output("cd " + dir_ + " && python3 summary.py \"" + c.summary + "\" 2>&1"),
                  std::string(c.expected) + "\n");
    }
    // The text form of a description, in the check lines' columns.
    const ToolRun info = run_program(VERIFY_EXE, dir_, {"wr.bin"});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.output.find("wr.bin: 32768 bytes; without --chip and --secure nothing is "
                               "checked\nboot tag         0xAA55 at offset 48, the layout of chips "
                               "341, 342, 227, 228, 229\n"),
              std::string::npos)
        << info.output;
    EXPECT_NE(
        info.output.find("try              --chip N --secure 3, N one of 342, 227, 228, 229\n"),
        std::string::npos);
    EXPECT_EQ(run_program(VERIFY_EXE, dir_, {"-h"}).output,
              run_program(VERIFY_EXE, dir_, {"--help"}).output);
}

TEST_F(Companions, KeygenRefusesToOverwriteUnlessForced) {
    ASSERT_EQ(run_program(KEYGEN_EXE, dir_, {}).status, 0);
    const Bytes priv = read_file(path("rsa_priv.txt"));
    const Bytes pub = read_file(path("rsa_pub.txt"));
    ToolRun run = run_program(KEYGEN_EXE, dir_, {"--dir", dir_});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("exists; nothing written"), std::string::npos);
    EXPECT_EQ(read_file(path("rsa_priv.txt")), priv);
    // --aes alone also refuses when only aes.txt is in the way.
    write_text(path("aes.txt"), "mine");
    run = run_program(KEYGEN_EXE, dir_, {"--aes", "--force"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(read_file(path("rsa_priv.txt")), priv);
    EXPECT_NE(read_file(path("rsa_pub.txt")), pub);
    const Bytes aes = read_file(path("aes.txt"));
    ASSERT_EQ(aes.size(), 33u);
    EXPECT_EQ(shell_output("grep -cE '^[0-9a-f]{32}$' " + path("aes.txt")), "1\n");
    const std::string pub_text = shell_output("cat " + path("rsa_pub.txt"));
    EXPECT_EQ(pub_text.substr(0, 6), "N = FF");
    EXPECT_EQ(pub_text.substr(pub_text.find("\nE = ")), "\nE = 010001\n");
    EXPECT_EQ(count(shell_output("cat " + path("rsa_priv.txt")), "\n"), 7u);
}

// Every option that takes a key or a passphrase reads it once, from one open: a pipe (bash's
// process substitution), a FIFO of the test's folder and a link to one give the image that the
// regular files give, and no pipe is warned about for its mode.
TEST_F(Companions, EveryKeyOptionTakesAPipe) {
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    const std::string sign = std::string(SIGN_EXE) + " --chip 341 --secure 2 ";
    const std::string aes_sign = std::string(SIGN_EXE) + " --chip 229 --secure 1 ";
    shell_output(
        "cd " + dir_ + " && cp " + keys + "* . && cp " + SAMPLE_LOADER +
        " in.bin && echo 00112233445566778899aabbccddeeff > aes.txt && echo secret > pw"
        " && openssl pkcs8 -topk8 -v2 aes-256-cbc -in private.pem -passout pass:secret"
        " -out enc.pem && chmod 600 * && " +
        aes_sign + "--aes-key aes.txt in.bin aes.bin && " + sign +
        "--aes-key aes.txt --rsa-key rsa_priv.txt --rsa-pub rsa_pub.txt in.bin rsa.bin && " + sign +
        "--aes-key aes.txt --rsa-pub rsa_pub.txt --to-sign block in.bin unsigned.bin"
        " && openssl pkeyutl -decrypt -inkey private.pem -pkeyopt rsa_padding_mode:none"
        " -in block -out sig >/dev/null && " +
        KEYGEN_EXE + " --from-pem private.pem --dir made >/dev/null 2>&1");
    ASSERT_TRUE(file_exists(path("aes.bin")) && file_exists(path("rsa.bin")) &&
                file_exists(path("sig")) && file_exists(path("made/rsa_priv.txt")));
    // A FIFO whose mode lets anyone read it, filled by a writer that gives up if never read.
    auto fifo = [](const char* name, const char* from) {
        return std::string("mkfifo -m 0644 ") + name + " && (timeout 30 cp " + from + " " + name +
               " &) && ";
    };
    struct PipeCase {
        std::string command;
        const char* same_as;  // the image the output must be, or nullptr
        const char* says;     // in standard output
    };
    const PipeCase cases[] = {
        // AES-signed: the key encrypts and then signs, from one read.
        {aes_sign + "--aes-key <(cat aes.txt) in.bin out.bin", "aes.bin", ""},
        {sign + "--aes-key <(cat aes.txt) --rsa-key rsa_priv.txt in.bin out.bin --rsa-pub "
                "rsa_pub.txt",
         "rsa.bin", "rsa private key  rsa_priv.txt (text)"},
        {sign + "--aes-key aes.txt --rsa-key <(cat rsa_priv.txt) --rsa-pub rsa_pub.txt in.bin "
                "out.bin",
         "rsa.bin", "(text)"},
        {sign + "--aes-key aes.txt --rsa-key <(cat private.pem) --rsa-pub rsa_pub.txt in.bin "
                "out.bin",
         "rsa.bin", "(PEM or DER)"},
        {sign + "--aes-key aes.txt --rsa-key <(cat private.der) in.bin out.bin", "rsa.bin",
         "rsa public key   from the private key"},
        {sign + "--aes-key aes.txt --rsa-key rsa_priv.txt --rsa-pub <(cat rsa_pub.txt) in.bin "
                "out.bin",
         "rsa.bin", "(text)"},
        {sign + "--aes-key aes.txt --rsa-key private.pem --rsa-pub <(cat public.pem) in.bin "
                "out.bin",
         "rsa.bin", "(PEM or DER)"},
        {sign + "--aes-key <(cat aes.txt) --rsa-key <(cat rsa_priv.txt) --rsa-pub <(cat "
                "rsa_pub.txt) in.bin out.bin",
         "rsa.bin", ""},
        {sign + "--aes-key aes.txt --rsa-key enc.pem --passphrase-file <(cat pw) in.bin out.bin",
         "rsa.bin", ""},
        {sign + "--aes-key aes.txt --rsa-key <(cat enc.pem) --passphrase-file <(cat pw) in.bin "
                "out.bin",
         "rsa.bin", ""},
        {sign + "--attach sig --rsa-pub <(cat public.pem) unsigned.bin out.bin", "rsa.bin", ""},
        {fifo("f", "aes.txt") + aes_sign + "--aes-key f in.bin out.bin", "aes.bin", ""},
        {fifo("f", "rsa_priv.txt") + "ln -s f link && " + sign +
             "--aes-key aes.txt --rsa-key link --rsa-pub rsa_pub.txt in.bin out.bin",
         "rsa.bin", "rsa private key  link (text)"},
        {fifo("f", "pw") + sign +
             "--aes-key aes.txt --rsa-key enc.pem --passphrase-file f in.bin "
             "out.bin",
         "rsa.bin", ""},
        {std::string(VERIFY_EXE) + " --chip 341 --secure 2 --aes-key <(cat aes.txt) --rsa-pub "
                                   "<(cat rsa_pub.txt) rsa.bin",
         nullptr, "result           OK         every check passed"},
        {fifo("f", "public.pem") + VERIFY_EXE +
             " --chip 341 --secure 2 --aes-key aes.txt "
             "--rsa-pub f rsa.bin",
         nullptr, "rsa key          OK         the header's key is the one in f"},
        {std::string(KEYGEN_EXE) +
             " --from-pem <(cat private.pem) --dir out && cmp out/rsa_priv.txt"
             " made/rsa_priv.txt",
         nullptr, "wrote out/rsa_priv.txt"},
        {std::string(KEYGEN_EXE) + " --from-pem <(cat enc.pem) --passphrase-file <(cat pw) --dir "
                                   "out && cmp out/rsa_priv.txt made/rsa_priv.txt",
         nullptr, "E = 65537"},
    };
    for (const PipeCase& c : cases) {
        SCOPED_TRACE(c.command);
        shell_output("cd " + dir_ + " && rm -rf out out.bin f link");
        const ToolRun run = run_program("timeout", dir_, {"20", "/bin/bash", "-c", c.command});
        EXPECT_EQ(run.status, 0) << run.output << run.errors;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        if (c.same_as != nullptr) {
            EXPECT_EQ(read_file(path("out.bin")), read_file(path(c.same_as)));
        }
        EXPECT_EQ(run.errors.find("may be read by other users"), std::string::npos) << run.errors;
    }
}

// A key, passphrase or PIN file past the 64 KiB limit is refused, with its name and the limit,
// after the limit and a byte are read: a 5 MB file or pipe fails at once, not after seconds.
TEST_F(Companions, AFileTooLargeForAKeyIsRefusedAtOnce) {
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    shell_output(
        "cd " + dir_ + " && cp " + keys + "* . && cp " + SAMPLE_LOADER +
        " in.bin && echo 00112233445566778899aabbccddeeff > aes.txt && (echo secret;"
        " head -c 5000000 /dev/zero | tr '\\0' a) > big && openssl pkcs8 -topk8 -v2"
        " aes-256-cbc -in private.pem -passout pass:secret -out enc.pem && chmod 600 * && " +
        SIGN_EXE + " --chip 229 --secure 1 --aes-key aes.txt in.bin aes.bin && " + SIGN_EXE +
        " --chip 341 --secure 2 --aes-key aes.txt --rsa-key private.pem in.bin"
        " rsa.bin");
    ASSERT_TRUE(file_exists(path("aes.bin")) && file_exists(path("rsa.bin")));
    const std::string sign = std::string(SIGN_EXE) + " --chip 341 --secure 2 ";
    const std::string five_mb = "<(head -c 5000000 /dev/zero)";
    struct LargeCase {
        std::string command;
        int status;
        std::string says;  // in standard error, or with bootseal-verify standard output
    };
    const std::string limit = ": too large for a key file (more than 65536 bytes)";
    const LargeCase cases[] = {
        {std::string(SIGN_EXE) + " --chip 229 --secure 1 --aes-key big in.bin out.bin", 1,
         "big" + limit},
        {std::string(SIGN_EXE) + " --chip 229 --secure 1 --aes-key " + five_mb + " in.bin out.bin",
         1, "/dev/fd/63" + limit},
        {sign + "--aes-key aes.txt --rsa-key big --rsa-pub rsa_pub.txt in.bin out.bin", 1,
         "big" + limit},
        {sign + "--aes-key aes.txt --rsa-key " + five_mb + " in.bin out.bin", 1, limit},
        {sign + "--aes-key aes.txt --rsa-key private.pem --rsa-pub big in.bin out.bin", 1,
         "big" + limit},
        {sign + "--aes-key aes.txt --rsa-key enc.pem --passphrase-file big in.bin out.bin", 1,
         "'big': larger than 65536 bytes, the most it may hold"},
        {std::string(VERIFY_EXE) + " --chip 229 --secure 1 --aes-key big aes.bin", 3,
         "big" + limit},
        {std::string(VERIFY_EXE) + " --chip 341 --secure 2 --aes-key aes.txt --rsa-pub " + five_mb +
             " rsa.bin",
         3, limit},
        {std::string(KEYGEN_EXE) + " --from-pem big --dir out", 1, "big" + limit},
        {std::string(KEYGEN_EXE) + " --from-pem enc.pem --passphrase-file " + five_mb +
             " --dir out",
         1, "larger than 65536 bytes, the most it may hold"},
    };
    for (const LargeCase& c : cases) {
        SCOPED_TRACE(c.command);
        const auto start = std::chrono::steady_clock::now();
        const ToolRun run = run_program("timeout", dir_, {"20", "/bin/bash", "-c", c.command});
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.status, c.status) << run.output << run.errors;
        EXPECT_NE((run.errors + run.output).find(c.says), std::string::npos)
            << run.output << run.errors;
        // The time of the tool itself: a wrapper (valgrind) takes its own.
        if (getenv("BOOTSEAL_TEST_WRAPPER") == nullptr) {
            EXPECT_LT(took, std::chrono::milliseconds(1000));
        }
        EXPECT_FALSE(file_exists(path("out.bin")) || file_exists(path("out/rsa_priv.txt")));
    }
}

}  // namespace
