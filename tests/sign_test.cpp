// SPDX-License-Identifier: Apache-2.0
// bootseal-sign against bootseal, keygen's PEM paths and verify's named keys, with openssl as the
// offline signer and as the maker of PEM, PKCS#8 and DER keys.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "image/image_layout.hpp"
#include "tests/test_support.hpp"

namespace {

const std::string kKeys = std::string(TEST_DATA_DIR) + "/keys/";

class Sign : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        write_text(path("key.aes"), "00112233445566778899aabbccddeeff\n");
        const std::string pair = kKeys + "pair-high/";
        // The same pair in every form bootseal-sign reads.
        shell_output("cd " + dir_ + " && cp " + pair + "rsa_priv.txt priv.txt && cp " + pair +
                     "rsa_pub.txt pub.txt && cp " + pair + "private.pem pkcs1.pem && cp " + pair +
                     "public.pem public.pem && openssl pkcs8 -topk8 -nocrypt -in pkcs1.pem "
                     "-out pkcs8.pem && openssl pkey -in pkcs1.pem -outform DER -out key.der && "
                     // The text pair with bare values (no 'N = '): the first byte is '0' (0x30).
                     "sed 's/^[A-Z]* = /0/' priv.txt > bare.txt && sed 's/^[A-Z]* = /0/' pub.txt "
                     "> barepub.txt && "
                     // PEM after other text, as certtool writes it, and after blank lines.
                     "(echo 'Public Key Info:'; echo '  modulus: 00:ff'; cat pkcs1.pem; echo end)"
                     " > dump.pem && (echo; echo; cat public.pem) > blank.pem && "
                     "chmod 600 key.aes priv.txt *.pem key.der bare.txt");
    }
    // bootseal's image with the same keys under its fixed names, in a folder of its own.
    Bytes bootseal_image(const char* chip, const char* mode, bool with_aes = true) {
        const std::string ref = path("ref");
        shell_output("rm -rf " + ref + " && mkdir " + ref + " && cp " + path("in.bin") + " " + ref +
                     "/ && cp " + path("priv.txt") + " " + ref + "/rsa_priv.txt && cp " +
                     path("pub.txt") + " " + ref + "/rsa_pub.txt" +
                     (with_aes ? " && cp " + path("key.aes") + " " + ref + "/aes.txt" : ""));
        const ToolRun run = run_tool(ref, {"in.bin", "out.bin", chip, mode});
        EXPECT_EQ(run.status, 0) << run.output;
        return read_file(ref + "/out.bin");
    }
    ToolRun sign(std::vector<std::string> args) { return run_program(SIGN_EXE, dir_, args); }
};

TEST_F(Sign, MakesBootsealsImageByteForByteWithEveryKeyForm) {
    struct Case {
        const char* chip;
        const char* mode;
        std::vector<std::string> keys;
    };
    const std::vector<std::string> aes = {"--aes-key", "key.aes"};
    const Case cases[] = {
        {"229", "0", {}},
        {"342", "0", {}},
        {"229", "1", aes},
        {"227", "2", aes},
        {"341", "3", aes},
        {"229", "3", aes},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "priv.txt", "--rsa-pub", "pub.txt"}},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "pkcs1.pem"}},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "pkcs8.pem", "--rsa-pub", "pub.txt"}},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "key.der", "--rsa-pub", "public.pem"}},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "priv.txt", "--rsa-pub", "public.pem"}},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "bare.txt", "--rsa-pub", "barepub.txt"}},
        {"341", "2", {"--aes-key", "key.aes", "--rsa-key", "dump.pem", "--rsa-pub", "blank.pem"}},
    };
    // The sample loader, and the same header over another payload and version.
    Bytes other = read_file(SAMPLE_LOADER);
    other.resize(20000);
    for (size_t i = 512; i < other.size(); ++i) other[i] = static_cast<uint8_t>(i * 7 + i / 251);
    other[56] ^= 0x5A;
    for (const Bytes& loader : {read_file(SAMPLE_LOADER), other}) {
        write_file(path("in.bin"), loader);
        for (const Case& c : cases) {
            std::vector<std::string> args = {"--quiet", "--chip", c.chip, "--secure", c.mode};
            args.insert(args.end(), c.keys.begin(), c.keys.end());
            args.insert(args.end(), {"in.bin", "out.bin"});
            SCOPED_TRACE(std::string(c.chip) + " " + c.mode + " " +
                         (c.keys.empty() ? "" : c.keys.back()));
            const ToolRun run = sign(args);
            ASSERT_EQ(run.status, 0) << run.errors;
            EXPECT_EQ(run.output, "");
            EXPECT_EQ(run.errors, "");
            EXPECT_TRUE(read_file(path("out.bin")) == bootseal_image(c.chip, c.mode));
        }
    }
    // The built-in key only when asked for, and then the same as bootseal without aes.txt.
    const ToolRun run = sign({"--quiet", "--chip", "229", "--secure", "1", "--default-aes-key",
                              "in.bin", "default.bin"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_TRUE(read_file(path("default.bin")) == bootseal_image("229", "1", false));
}

TEST_F(Sign, TwoStepSigningWithOpensslGivesTheOneStepImage) {
    ToolRun run = sign({"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-pub",
                        "public.pem", "--to-sign", "block.bin", "in.bin", "unsigned.bin"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const Bytes unsigned_image = read_file(path("unsigned.bin"));
    ASSERT_EQ(unsigned_image.size(), 32768u);
    EXPECT_EQ(Bytes(unsigned_image.begin() + 352, unsigned_image.begin() + 480), Bytes(128, 0));
    ASSERT_EQ(read_file(path("block.bin")).size(), 128u);
    // The offline signer: the raw private-key operation, most significant byte first.
    shell_output("cd " + dir_ +
                 " && openssl pkeyutl -decrypt -inkey pkcs1.pem -pkeyopt "
                 "rsa_padding_mode:none -in block.bin -out signature.bin");
    run = sign({"--chip", "341", "--secure", "2", "--attach", "signature.bin", "unsigned.bin",
                "signed.bin"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_TRUE(read_file(path("signed.bin")) == bootseal_image("341", "2"));
}

TEST_F(Sign, FailuresSayWhyAndWriteNothing) {
    struct Case {
        const char* name;
        const char* setup;  // shell commands run in the folder first
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"no AES key for a secure image",
         "",
         {"--chip", "229", "--secure", "1"},
         2,
         "needs an AES key: give --aes-key FILE, or --default-aes-key"},
        {"an RSA key for an AES-signed image",
         "",
         {"--chip", "229", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "pkcs1.pem"},
         2,
         "are for RSA-signed images"},
        {"--to-sign with the private key",
         "",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "pkcs1.pem",
          "--rsa-pub", "pub.txt", "--to-sign", "b.bin"},
         2,
         "--to-sign takes --rsa-pub and no --rsa-key"},
        {"a chip that is not a number",
         "",
         {"--chip", "34x", "--secure", "2"},
         2,
         "--chip takes a number"},
        {"a missing AES key file",
         "",
         {"--chip", "229", "--secure", "1", "--aes-key", "none.aes"},
         2,
         "--aes-key names no file: 'none.aes'"},
        {"keys of two different pairs",
         "",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "pkcs1.pem",
          "--rsa-pub", (kKeys + "pair-b/rsa_pub.txt").c_str()},
         1,
         "do not belong together"},
        {"a text private key without its public half",
         "",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "priv.txt"},
         2,  // a usage error: the command line lacks --rsa-pub
         "priv.txt holds no public exponent"},
        {"a 2048-bit key",
         "",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key",
          (kKeys + "long-2048/private.pem").c_str()},
         1,
         "holds a 2048-bit modulus"},
        {"an encrypted key without a terminal",
         "openssl rsa -in pkcs1.pem -aes128 -passout pass:x -out enc.pem 2>/dev/null",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "enc.pem"},
         1,
         "'enc.pem' is encrypted"},
        {"a signature of the wrong length",
         "head -c 100 /dev/zero > short.sig",
         {"--chip", "341", "--secure", "2", "--attach", "short.sig", "in.bin", "out.bin"},
         1,
         "holds 100 bytes; a raw RSA signature for the header is 128 bytes"},
        {"a signature of another image",
         "./sign --chip 341 --secure 2 --aes-key key.aes --rsa-key pkcs1.pem in.bin other.bin "
         "&& dd if=other.bin of=other.sig bs=1 skip=352 count=128 2>/dev/null && "
         "./sign --chip 341 --secure 2 --default-aes-key --rsa-pub pub.txt --to-sign b.bin "
         "in.bin unsigned.bin && rm -f b.bin",
         {"--chip", "341", "--secure", "2", "--attach", "other.sig", "unsigned.bin", "out.bin"},
         1,
         "'other.sig' is not a signature of 'unsigned.bin'"},
        {"a public key whose exponent is 1 (every block its own signature)",
         "sed 's/^E = .*/E = 1/' pub.txt > pub1.txt",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "priv.txt",
          "--rsa-pub", "pub1.txt"},
         1,
         "pub1.txt: its public exponent is 1, which makes every block its own signature"},
        {"an even public exponent",
         "sed 's/^E = .*/E = 10000/' pub.txt > pub2.txt",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key", "priv.txt",
          "--rsa-pub", "pub2.txt"},
         1,
         "pub2.txt: its public exponent is even"},
        {"--to-sign for a public exponent of 1",
         "sed 's/^E = .*/E = 1/' pub.txt > pub1.txt",
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-pub", "pub1.txt",
          "--to-sign", "b.bin"},
         1,
         "pub1.txt: its public exponent is 1"},
        {"--attach to an image whose header key has exponent 1, the block as its signature",
         "./sign --chip 341 --secure 2 --aes-key key.aes --rsa-pub pub.txt --to-sign b.bin "
         "in.bin unsigned.bin && python3 -c \"import sys; d = bytearray(open('unsigned.bin', "
         "'rb').read()); d[320:352] = bytes([1]) + bytes(31); open('e1.bin', 'wb').write(d)\" "
         "&& mv b.bin e1.sig && rm unsigned.bin",
         {"--chip", "341", "--secure", "2", "--attach", "e1.sig", "e1.bin", "out.bin"},
         1,
         "'e1.bin' carries an RSA key that signs nothing: its public exponent is 1"},
    };
    shell_output("ln -s " + std::string(SIGN_EXE) + " " + path("sign"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell_output("cd " + dir_ + " && rm -f out.bin b.bin && " + (*c.setup ? c.setup : "true"));
        const std::string before = shell_output("ls -A " + dir_);
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "--attach") == args.end()) {
            args.insert(args.end(), {"in.bin", "out.bin"});
        }
        const ToolRun run = sign(args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(shell_output("ls -A " + dir_), before) << "a failed run wrote a file";
    }
}

// With E = 1 the signed block is its own signature: anyone can make an image that such a key
// "signs". bootseal refuses the key before signing, and bootseal-verify fails the image.
TEST_F(Sign, AnExponentOfOneOrEvenSignsNothingInBootsealOrVerify) {
    ASSERT_EQ(sign({"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-pub",
                    "pub.txt", "--to-sign", "b.bin", "in.bin", "unsigned.bin"})
                  .status,
              0);
    shell_output("cd " + dir_ +
                 " && python3 -c \"d = bytearray(open('unsigned.bin', 'rb').read()); "
                 "d[320:352] = bytes([1]) + bytes(31); d[352:480] = open('b.bin', 'rb').read(); "
                 "open('forged.bin', 'wb').write(d)\"");
    const ToolRun verify = run_program(
        VERIFY_EXE, dir_, {"forged.bin", "--chip", "341", "--secure", "2", "--aes-key", "key.aes"});
    EXPECT_EQ(verify.status, 1) << verify.output;
    EXPECT_NE(verify.output.find(
                  "rsa signature    FAIL       the header's key (1024-bit N, E 1) signs nothing"),
              std::string::npos)
        << verify.output;
    EXPECT_NE(verify.output.find("signs nothing: its public exponent is 1"), std::string::npos);

    const std::string ref = path("ref");
    for (const char* exponent : {"1", "2", "10000"}) {
        SCOPED_TRACE(exponent);
        bootseal_image("341", "2");  // the folder with the sound pair
        shell_output("cd " + ref + " && sed -i 's/^E = .*/E = " + exponent +
                     "/' rsa_pub.txt && rm out.bin");
        const ToolRun run = run_tool(ref, {"in.bin", "out.bin", "341", "2"});
        EXPECT_EQ(run.status, 255);
        EXPECT_NE(run.output.find(std::string(" failed\n  ! rsa_pub.txt: its public exponent is ") +
                                  (exponent[0] == '1' && exponent[1] == 0 ? "1," : "even")),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("Encypt Sig(RSA)"), std::string::npos);
        EXPECT_FALSE(file_exists(ref + "/out.bin"));
    }
}

TEST_F(Sign, ReportsAsTextAsJsonAndWarnsOfReadableKeys) {
    chmod(path("pkcs1.pem").c_str(), 0644);
    const ToolRun run = sign({"--json", "--chip", "341", "--secure", "2", "--aes-key", "key.aes",
                              "--rsa-key", "pkcs1.pem", "in.bin", "out.bin"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("warning: 'pkcs1.pem' may be read by other users (mode 0644)"),
              std::string::npos);
    // One JSON object that python reads, with the digests bootseal-verify recomputes.
    write_text(path("report.json"), run.output);
    EXPECT_EQ(
        shell_output("python3 -c \"import json; r = json.load(open('" + path("report.json") +
                     "')); print(r['kind'], r['chip'], r['signature'], len(r['header_digest']))\""),
        "RSA-signed 341 verified with the public key 64\n");
    const ToolRun verify = run_program(VERIFY_EXE, dir_,
                                       {"out.bin", "--chip", "341", "--secure", "2", "--aes-key",
                                        "key.aes", "--rsa-pub", "public.pem"});
    EXPECT_EQ(verify.status, 0) << verify.output;
    const std::string header_line = "header digest    OK         ";
    const size_t at = verify.output.find(header_line);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(run.output.find(verify.output.substr(at + header_line.size(), 64)),
              std::string::npos);
    // A failure, of use or of the run, is one JSON object too.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--json", "--chp", "1"},
          {"--json", "--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key",
           "pkcs1.pem", "--rsa-pub", kKeys + "pair-b/rsa_pub.txt", "in.bin", "o.bin"}}) {
        const ToolRun failed = sign(args);
        write_text(path("failed.json"), failed.output);
        EXPECT_EQ(
            shell_output("python3 -c \"import json; r = json.load(open('" + path("failed.json") +
                         "')); print(r['schema_version'], r['result'], "
                         "r['status'], r['error']['message'] in open(0).read())\" <<'EOF'\n" +
                         failed.errors + "\nEOF"),
            "1 failed " + std::to_string(failed.status) + " True\n")
            << failed.output;
    }
}

TEST_F(Sign, KeygenTakesPemKeysAndWritesThemForOpenssl) {
    ASSERT_EQ(mkdir(path("kg").c_str(), 0700), 0);
    ToolRun run =
        run_program(KEYGEN_EXE, dir_, {"--dir", "kg", "--from-pem", "pkcs8.pem", "--pem"});
    ASSERT_EQ(run.status, 0) << run.errors;
    // The text pair made from the PEM key signs as the committed text pair does.
    shell_output("cd " + dir_ + " && cp kg/rsa_priv.txt priv.txt && cp kg/rsa_pub.txt pub.txt");
    const Bytes from_pem = bootseal_image("341", "2");
    shell_output("cd " + dir_ + " && cp " + kKeys + "pair-high/rsa_priv.txt priv.txt && cp " +
                 kKeys + "pair-high/rsa_pub.txt pub.txt");
    EXPECT_TRUE(from_pem == bootseal_image("341", "2"));
    // openssl reads what keygen wrote, and it is the same key.
    EXPECT_EQ(shell_output("cd " + dir_ + " && openssl rsa -in kg/private.pem -check -noout 2>&1"),
              "RSA key ok\n");
    EXPECT_EQ(shell_output("cd " + dir_ +
                           " && openssl pkey -pubin -in kg/public.pem -noout -text_pub "
                           "| md5sum"),
              shell_output("cd " + dir_ +
                           " && openssl pkey -in pkcs1.pem -pubout | openssl pkey "
                           "-pubin -noout -text_pub | md5sum"));
    // A key whose modulus starts below 0xFF is taken, with the share it cannot sign.
    run = run_program(KEYGEN_EXE, dir_,
                      {"--dir", "kg", "--force", "--from-pem", kKeys + "pair-b/private.pem"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.output.find("% of images cannot be signed with this key"), std::string::npos)
        << run.output;
}

// bootseal-verify and bootseal-keygen tell a key file's format as bootseal-sign does.
TEST_F(Sign, EveryToolReadsTheKeyFormsSignReads) {
    ASSERT_EQ(sign({"--quiet", "--chip", "341", "--secure", "2", "--aes-key", "key.aes",
                    "--rsa-key", "priv.txt", "--rsa-pub", "pub.txt", "in.bin", "out.bin"})
                  .status,
              0);
    const std::vector<std::string> verify = {"out.bin", "--chip",    "341",     "--secure",
                                             "2",       "--aes-key", "key.aes", "--rsa-pub"};
    struct Case {
        const char* tool;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {VERIFY_EXE, {"barepub.txt"}},
        {VERIFY_EXE, {"blank.pem"}},
        {KEYGEN_EXE, {"--force", "--from-pem", "dump.pem"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args =
            c.tool == std::string(VERIFY_EXE) ? verify : std::vector<std::string>{"--dir", "kg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        shell_output("mkdir -p " + path("kg"));
        const ToolRun run = run_program(c.tool, dir_, args);
        EXPECT_EQ(run.status, 0) << run.output << run.errors;
    }
    EXPECT_EQ(shell_output("head -1 " + path("kg/rsa_pub.txt")),
              shell_output("head -1 " + path("pub.txt")));
}

// No run writes over one of its own files, whatever name it is given by; only the image may
// replace its input, as bootseal's does.
TEST_F(Sign, TwoPathsOfOneFileAreRefusedBeforeAnythingIsDone) {
    shell_output("cd " + dir_ +
                 " && ln in.bin hard.bin && ln -s key.aes link.bin && mkdir sub kg && "
                 "touch sig.bin unsigned.bin && cp pkcs1.pem kg/private.pem");
    const std::vector<std::string> two_step = {"--chip",    "341",       "--secure",
                                               "2",         "--aes-key", "key.aes",
                                               "--rsa-pub", "pub.txt",   "--to-sign"};
    const std::vector<std::string> attach = {"--chip", "341", "--secure", "2", "--attach"};
    const std::vector<std::string> aes = {"--chip", "229", "--secure", "1", "--aes-key", "key.aes"};
    struct Case {
        const char* tool;
        std::vector<std::string> base, args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {SIGN_EXE,
         two_step,
         {"same.bin", "in.bin", "same.bin"},
         2,
         "the output 'same.bin' and the --to-sign block 'same.bin' are the same file"},
        {SIGN_EXE,
         two_step,
         {"./hard.bin", "in.bin", "u.bin"},
         2,
         "the input 'in.bin' and the --to-sign block './hard.bin' are the same file"},
        {SIGN_EXE,
         two_step,
         {"sub/../in.bin", "in.bin", "b.bin"},
         2,
         "the input 'in.bin' and the --to-sign block 'sub/../in.bin'"},
        {SIGN_EXE,
         aes,
         {"in.bin", "link.bin"},
         2,
         "the output 'link.bin' and the --aes-key file 'key.aes'"},
        {SIGN_EXE,
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-key"},
         {"pkcs1.pem", "--rsa-pub", "./pkcs1.pem", "in.bin", "out.bin"},
         2,
         "the --rsa-key file 'pkcs1.pem' and the --rsa-pub file './pkcs1.pem'"},
        {SIGN_EXE,
         attach,
         {"sig.bin", "unsigned.bin", "sig.bin"},
         2,
         "the output 'sig.bin' and the --attach signature 'sig.bin'"},
        {SIGN_EXE,
         attach,
         {"./unsigned.bin", "unsigned.bin", "out.bin"},
         2,
         "the unsigned image 'unsigned.bin' and the --attach signature './unsigned.bin'"},
        {KEYGEN_EXE,
         {"--dir", "kg", "--pem", "--force", "--from-pem"},
         {"kg/private.pem"},
         2,
         "the --from-pem key 'kg/private.pem' and the output 'kg/private.pem'"},
        // In place, also through a link; two new names in one folder are two files.
        {SIGN_EXE, two_step, {"new-block.bin", "in.bin", "new-image.bin"}, 0, ""},
        {SIGN_EXE, aes, {"in.bin", "./hard.bin"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const std::string before = shell_output("cd " + dir_ + " && ls -AR && md5sum *.* kg/*");
        std::vector<std::string> args = c.base;
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = run_program(c.tool, dir_, args);
        EXPECT_EQ(run.status, c.status) << run.errors;
        EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
        if (c.status == 2) {
            EXPECT_EQ(shell_output("cd " + dir_ + " && ls -AR && md5sum *.* kg/*"), before);
        }
    }
}

// Each refusal names the option or the check that failed, exits 1 or 2 and leaves the folder as
// it was; the second step checks everything it can without the AES key.
TEST_F(Sign, RefusalsNameWhatIsWrongAndWriteNothing) {
    ASSERT_EQ(sign({"--quiet", "--chip", "341", "--secure", "2", "--aes-key", "key.aes",
                    "--rsa-pub", "public.pem", "--to-sign", "block.bin", "in.bin", "unsigned.bin"})
                  .status,
              0);
    ASSERT_EQ(sign({"--quiet", "--chip", "341", "--secure", "1", "--aes-key", "key.aes", "in.bin",
                    "aes.bin"})
                  .status,
              0);
    shell_output("cd " + dir_ +
                 " && openssl pkeyutl -decrypt -inkey pkcs1.pem -pkeyopt "
                 "rsa_padding_mode:none -in block.bin -out signature.bin && mkdir kg logs && : > "
                 "empty.bin && echo 0x00112233 > bad.aes");
    ASSERT_TRUE(make_device(path("full"), 1, 7));
    const HeaderLayout layout = header_layout(select_chip_profile(341));
    const std::string other_pub = kKeys + "pair-b/rsa_pub.txt";
    struct Case {
        const char* tool;
        std::vector<std::string> args;  // "attach" and "secure" stand for the common beginnings
        long change;                    // u.bin is unsigned.bin with this byte flipped (or
                                        // -size: cut to size); 0 keeps it
        int status;
        const char* says;               // in standard error, or standard output on success
        const char* written;            // the file the run writes, or nullptr
        bool report_to_device = false;  // standard output goes to the full device
    };
    const char* const unsigned_fault = "'u.bin' is not an unsigned image from --to-sign: its ";
    const std::string payload = std::string(unsigned_fault) + "data checksum does not match";
    const Case cases[] = {
        {SIGN_EXE, {"attach", "u.bin", "s.bin"}, 0, 0, "from signature.bin, verified", "s.bin"},
        {SIGN_EXE, {"attach", "--rsa-pub", "pub.txt", "u.bin", "s.bin"}, 0, 0, "pub.txt", "s.bin"},
        {SIGN_EXE, {"attach", "u.bin", "s.bin"}, 600, 1, payload.c_str(), nullptr},
        {SIGN_EXE, {"attach", "u.bin", "s.bin"}, 20000, 1, payload.c_str(), nullptr},
        {SIGN_EXE, {"attach", "u.bin", "s.bin"}, 32767, 1, payload.c_str(), nullptr},
        {SIGN_EXE, {"attach", "u.bin", "s.bin"}, 142, 1, payload.c_str(), nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         static_cast<long>(layout.header_checksum),
         1,
         "its header checksum",
         nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         static_cast<long>(layout.boot_tag),
         1,
         "its boot tag is",
         nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         static_cast<long>(kSecureMarkerOffset),
         1,
         "its secure marker is",
         nullptr},
        {SIGN_EXE,
         {"attach", "aes.bin", "s.bin"},
         0,
         1,
         "its header carries no 1024-bit RSA public key (is it an AES-signed image?)",
         nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         400,
         1,
         "its signature field is not all zero",
         nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         -32767,
         1,
         "it holds 32767 bytes, not 32768",
         nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         -32769,
         1,
         "it holds more than 32768 bytes",
         nullptr},
        {SIGN_EXE,
         {"attach", "u.bin", "s.bin"},
         100,
         1,
         "'signature.bin' is not a signature of 'u.bin'",
         nullptr},
        {SIGN_EXE,
         {"attach", "--rsa-pub", other_pub, "u.bin", "s.bin"},
         0,
         1,
         "'u.bin' carries another RSA key than",
         nullptr},
        {SIGN_EXE,
         {"attach", "--aes-key", "key.aes", "u.bin", "s.bin"},
         0,
         2,
         "--attach and --aes-key exclude each other",
         nullptr},
        {SIGN_EXE, {"--chp", "341"}, 0, 2, "unknown option '--chp'", nullptr},
        {SIGN_EXE, {"-x"}, 0, 2, "unknown option '-x'", nullptr},
        {SIGN_EXE,
         {"--a", "x"},
         0,
         2,
         "option '--a' is ambiguous: it may be --aes-key, --attach",
         nullptr},
        {SIGN_EXE,
         {"secure", "--json=1", "in.bin", "o.bin"},
         0,
         2,
         "option '--json' takes no value",
         nullptr},
        {SIGN_EXE,
         {"secure", "--json", "--quiet", "in.bin", "o.bin"},
         0,
         2,
         "--json and --quiet exclude each other",
         nullptr},
        {SIGN_EXE,
         {"secure", "--rsa-pub", "pub.txt", "in.bin", "o.bin"},
         0,
         2,
         "--rsa-pub: RSA keys and two-step signing are for RSA-signed images",
         nullptr},
        {SIGN_EXE,
         {"secure", "-", "o.bin"},
         0,
         2,
         "'-' is not a file name here: name a file for the input",
         nullptr},
        {SIGN_EXE,
         {"secure", "in.bin", "full"},
         0,
         1,
         "cannot write 'full': it is a character device, not a regular file",
         nullptr},
        {SIGN_EXE,
         {"secure", "--json", "in.bin", "o.bin"},
         0,
         1,
         "cannot write the report: No space left on device; the image 'o.bin' was written",
         "o.bin",
         true},
        // The advice of a key-file signer, for every signer that meets a block above N.
        {SIGN_EXE,
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--rsa-pub",
          kKeys + "short-1017/rsa_pub.txt", "--to-sign", "b.bin", "in.bin", "o.bin"},
         0,
         1,
         "not below N; Change the image (for example its version bytes)",
         nullptr},
        {SIGN_EXE,
         {"secure", "--aes-key", "key.aes", "in.bin", "o.bin"},
         0,
         2,
         "option '--aes-key' is given twice",
         nullptr},
        {SIGN_EXE,
         {"--chip", "229", "--secure", "1", "--default", "in.bin", "o.bin"},
         0,
         2,
         "option '--default' is not a whole option name: write --default-aes-key",
         nullptr},
        {VERIFY_EXE,
         {"--chip", "341", "--secure", "2", "--aes-key", "key.aes", "--decrypt", "key.aes",
          "unsigned.bin"},
         0,
         2,
         "the --decrypt output 'key.aes' and the --aes-key file 'key.aes' are the same",
         nullptr},
        {VERIFY_EXE,
         {"--chip", "341", "--secure", "2", "--decrypt", "./unsigned.bin", "unsigned.bin"},
         0,
         2,
         "the --decrypt output './unsigned.bin' and the image 'unsigned.bin' are the same",
         nullptr},
        {SIGN_EXE,
         {"--chip", "229", "--secure", "1", "--aes-key", "bad.aes", "in.bin", "o.bin"},
         0,
         1,
         "'bad.aes' holds no AES-128 key: its first word that is not a comment",
         nullptr},
        {KEYGEN_EXE,
         {"--dir", "kg", "--from-pem", "priv.txt"},
         0,
         1,
         "'priv.txt' is not a PEM or DER key; if it is in rsa_priv.txt's text form",
         nullptr},
        {SIGN_EXE, {"-h"}, 0, 0, "Usage: bootseal-sign", nullptr},
        {KEYGEN_EXE, {"-h"}, 0, 0, "[--min-top-byte B]", nullptr},
        {KEYGEN_EXE, {"--dir"}, 0, 2, "option '--dir' needs a folder", nullptr},
        {KEYGEN_EXE,
         {"--dir="},
         0,
         2,
         "option '--dir' needs a folder, not an empty value",
         nullptr},
        {KEYGEN_EXE,
         {"--dir", "kg", "--min-top-byte", "0xF0"},
         0,
         2,
         "--min-top-byte needs --pkcs11",
         nullptr},
        {KEYGEN_EXE,
         {"--pkcs11", "pkcs11:token=t", "--min-top-byte", "0x100"},
         0,
         2,
         "--min-top-byte takes a byte from 0x80 to 0xFF",
         nullptr},
        {KEYGEN_EXE,
         {"--pkcs11", "pkcs11:token=t", "--min-top-byte", "0x7F"},
         0,
         2,
         "--min-top-byte takes a byte from 0x80 to 0xFF",
         nullptr},
        {SIGN_EXE,
         {"--chip", "229", "--secure", "0", "empty.bin", "o.bin"},
         0,
         1,
         "Not valid boot code!",
         nullptr},
        {KEYGEN_EXE,
         {"--dir", "kg", "--from-pem", "-"},
         0,
         2,
         "'-' is not a file name here: name a file for the --from-pem key",
         nullptr},
        {KEYGEN_EXE, {"--dir", "kg"}, 0, 1, "the key files were written", "kg/rsa_pub.txt", true},
    };
    const std::string listing = "cd " + dir_ +
                                " && find . -path ./logs -prune -o -printf "
                                "'%p %y %s\\n' | sort && md5sum *.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + " " + std::to_string(c.change));
        Bytes image = read_file(path("unsigned.bin"));
        if (c.change > 0) image[static_cast<size_t>(c.change)] ^= 0x01;
        if (c.change < 0) image.resize(static_cast<size_t>(-c.change));
        write_file(path("u.bin"), image);
        shell_output("cd " + dir_ + " && rm -rf s.bin o.bin kg/*");
        const std::string before = shell_output(listing);
        std::string command = c.tool;
        for (const std::string& arg : c.args) {
            command += arg == "attach"   ? " --chip 341 --secure 2 --attach signature.bin"
                       : arg == "secure" ? " --chip 229 --secure 1 --aes-key key.aes"
                                         : " '" + arg + "'";
        }
        const std::string status = shell_output("cd " + dir_ + " && " + command +
                                                (c.report_to_device ? " > full" : " > logs/out") +
                                                " 2> logs/err < /dev/null; echo $?");
        const Bytes text = read_file(path(c.status == 0 ? "logs/out" : "logs/err"));
        const std::string says(text.begin(), text.end());
        EXPECT_EQ(status, std::to_string(c.status) + "\n") << says;
        EXPECT_NE(says.find(c.says), std::string::npos) << says;
        if (c.written != nullptr) {
            EXPECT_TRUE(file_exists(path(c.written)));
        } else {
            EXPECT_EQ(shell_output(listing), before) << "a refused run changed the folder";
        }
    }
}

}  // namespace
