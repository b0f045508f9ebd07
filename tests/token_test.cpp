// SPDX-License-Identifier: Apache-2.0
// Signing through a PKCS#11 token: SoftHSM2 with a token store of the test's own folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

const std::string kKeys = std::string(TEST_DATA_DIR) + "/keys/";
// SoftHSM2's module, where the Debian release puts it.
std::string softhsm_module() {
    for (const char* candidate : {"/usr/lib/softhsm/libsofthsm2.so",
                                  "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so",
                                  "/usr/lib/aarch64-linux-gnu/softhsm/libsofthsm2.so"}) {
        if (access(candidate, R_OK) == 0) return candidate;
    }
    return "/usr/lib/softhsm/libsofthsm2.so";
}
const std::string kModulePath = softhsm_module();
const std::string kModule = "module-path=" + kModulePath;

class Token : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        // The token store lives in the test's folder, never in the machine's.
        write_text(path("softhsm2.conf"), "directories.tokendir = " + path("tokens") +
                                              "\nobjectstore.backend = file\nlog.level = ERROR\n");
        setenv("SOFTHSM2_CONF", path("softhsm2.conf").c_str(), 1);
        shell_output("mkdir " + path("tokens") +
                     " && softhsm2-util --init-token --free --label bootseal --so-pin 0000 --pin "
                     "1234 >/dev/null");
        import("pair-high", "release", "01");
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        write_text(path("aes.txt"), "00112233445566778899aabbccddeeff\n");
    }
    void TearDown() override {
        unsetenv("SOFTHSM2_CONF");
        TempDirTest::TearDown();
    }
    void import(const char* pair, const char* label, const char* id) {
        shell_output("cd " + dir_ + " && openssl pkcs8 -topk8 -nocrypt -in " + kKeys + pair +
                     "/private.pem -out import.pem && softhsm2-util --import import.pem --token "
                     "bootseal --label " +
                     label + " --id " + id + " --pin 1234 >/dev/null && rm import.pem");
    }
    ToolRun sign(const std::string& key, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--quiet",   "--chip",  "341",       "--secure", "2",
                                         "--aes-key", "aes.txt", "--rsa-key", key};
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), {"in.bin", "out.bin"});
        return run_program(SIGN_EXE, dir_, args);
    }
    // bootseal's image with the text form of the same pair.
    Bytes text_key_image(const char* pair) {
        shell_output("mkdir -p " + path("ref") + " && cd " + path("ref") +
                     " && cp ../in.bin ../aes.txt . && cp " + kKeys + pair + "/rsa_priv.txt " +
                     kKeys + pair + "/rsa_pub.txt .");
        EXPECT_EQ(run_tool(path("ref"), {"in.bin", "out.bin", "341", "2"}).status, 0);
        return read_file(path("ref/out.bin"));
    }
};

TEST_F(Token, AKeyInTheTokenSignsAsTheSameKeyInTextFiles) {
    write_text(path("pin"), "1234\n");
    const std::string uris[] = {
        "pkcs11:token=bootseal;object=release?" + kModule + "&pin-value=1234",
        "pkcs11:token=bootseal;id=%01?" + kModule + "&pin-source=" + path("pin"),
        // Without a module, p11-kit's registered modules are searched.
        "pkcs11:token=bootseal;object=release?pin-value=1234",
    };
    const Bytes want = text_key_image("pair-high");
    for (const std::string& uri : uris) {
        SCOPED_TRACE(uri);
        const ToolRun run = sign(uri);
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_TRUE(read_file(path("out.bin")) == want);
        shell_output("rm " + path("out.bin"));
    }
}

TEST_F(Token, KeygenInTheTokenThenSignThenVerifyPasses) {
    ASSERT_EQ(mkdir(path("pub").c_str(), 0700), 0);
    // Any top byte of 0x80 or more, so that the test does not wait for a rare 0xFF.
    ToolRun run =
        run_program(KEYGEN_EXE, dir_,
                    {"--dir", "pub", "--min-top-byte", "0x80", "--pkcs11",
                     "pkcs11:token=bootseal;object=made;id=%07?" + kModule + "&pin-value=1234"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(shell_output("ls " + path("pub")), "rsa_pub.txt\n") << "no private key file";
    run = sign("pkcs11:token=bootseal;object=made?" + kModule + "&pin-value=1234",
               {"--rsa-pub", "pub/rsa_pub.txt"});
    ASSERT_EQ(run.status, 0) << run.errors;
    run =
        run_program(VERIFY_EXE, dir_,
                    {"out.bin", "--chip", "341", "--secure", "2", "--rsa-pub", "pub/rsa_pub.txt"});
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(Token, FailuresSayWhatWasWrongAndWriteNothing) {
    import("long-2048", "big", "02");
    import("pair-b", "twin", "03");
    import("pair-a", "twin", "04");
    struct Case {
        const char* name;
        std::string uri;
        std::vector<std::string> more;
        int status;
        std::string says;
    };
    const std::string pin = "&pin-value=1234";
    const Case cases[] = {
        {"no such token",
         "pkcs11:token=other?" + kModule + pin,
         {},
         1,
         "no token matches the URI; searched module " + kModulePath},
        {"no such key",
         "pkcs11:token=bootseal;object=none?" + kModule + pin,
         {},
         1,
         "no private key in token 'bootseal' matches the URI"},
        {"several keys",
         "pkcs11:token=bootseal;object=twin?" + kModule + pin,
         {},
         1,
         "several private keys in token 'bootseal' match the URI: name one with id= or object="},
        {"wrong PIN",
         "pkcs11:token=bootseal;object=release?" + kModule + "&pin-value=9999",
         {},
         1,
         "cannot log in to token 'bootseal': wrong PIN"},
        {"no PIN and no terminal",
         "pkcs11:token=bootseal;object=release?" + kModule,
         {},
         1,
         "needs its PIN: give pin-value or pin-source in the URI, or run on a terminal"},
        {"a 2048-bit key",
         "pkcs11:token=bootseal;object=big?" + kModule + pin,
         {},
         1,
         "is a 2048-bit RSA key; the header takes a 1024-bit key"},
        {"a public key of another pair",
         "pkcs11:token=bootseal;object=release?" + kModule + pin,
         {"--rsa-pub", kKeys + "pair-b/rsa_pub.txt"},
         1,
         "do not belong together"},
        {"a malformed URI", "pkcs11:token=boot%zzseal", {}, 2, "malformed PKCS#11 URI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = sign(c.uri, c.more);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find("1234"), std::string::npos) << "the PIN was shown";
        EXPECT_FALSE(file_exists(path("out.bin")));
    }
}

}  // namespace

// Every way a PIN can reach a URI, on the paths that succeed and on those that fail: the PIN is
// in no output of either tool, text or JSON, and a pin-source others may read is warned about.
TEST_F(Token, NoOutputShowsThePin) {
    const std::string pin = "73915642";
    shell_output("cd " + dir_ +
                 " && softhsm2-util --init-token --free --label secret --so-pin 0000 --pin " + pin +
                 " >/dev/null && openssl pkcs8 -topk8 -nocrypt -in " + kKeys +
                 "pair-high/private.pem -out k.pem && softhsm2-util --import k.pem --token secret "
                 "--label signer --id 09 --pin " +
                 pin + " >/dev/null && rm k.pem");
    write_text(path("open.pin"), pin + "\n");
    chmod(path("open.pin").c_str(), 0644);
    write_text(path("closed.pin"), pin + "\n");
    chmod(path("closed.pin").c_str(), 0600);
    chmod(path("aes.txt").c_str(), 0600);
    const std::string key = "pkcs11:token=secret;object=signer?" + kModule;
    const std::string made = "pkcs11:token=secret;object=made;id=%0A?" + kModule;
    const std::string warning = "warning: '" + path("open.pin") +
                                "' may be read by other users (mode 0644); a PIN belongs in a file "
                                "of mode 0600";
    struct Case {
        const char* tool;
        std::string uri;
        std::vector<std::string> more;
        int status;
        std::string says;  // in standard output on success, else in standard error
    };
    const Case cases[] = {
        {SIGN_EXE, "pkcs11:token=imp;id=%0?pin-value=" + pin, {}, 2,
         "malformed PKCS#11 URI 'pkcs11:token=imp;id=%0?pin-value=...'"},
        {KEYGEN_EXE, "pkcs11:token=imp;id=%0?pin-value=" + pin, {}, 2,
         "malformed PKCS#11 URI 'pkcs11:token=imp;id=%0?pin-value=...'"},
        {SIGN_EXE, "pkcs11:token=secret;colour=red?pin-value=" + pin, {}, 2,
         "'pkcs11:token=secret;colour=...?pin-value=...' has attributes this tool does not know"},
        {KEYGEN_EXE, "pkcs11:token=secret;pin=" + pin + "?pin-value=" + pin, {}, 2,
         "'pkcs11:token=secret;pin=...?pin-value=...' has attributes"},
        // A separator inside the value must not cut the PIN in two halves, one of them shown.
        {SIGN_EXE, "pkcs11:x=1;pin-value=7391;5642?5642", {}, 2,
         "'pkcs11:x=...;pin-value=...;...?...'"},
        {SIGN_EXE, "PKCS11:token=none?" + kModule + "&pin-value=" + pin, {}, 1, "no token matches"},
        // p11-kit logs in with the last pin-value.
        {SIGN_EXE, key + "&pin-value=0000&pin-value=" + pin, {}, 0,
         "rsa private key  pkcs11:token=secret;object=signer?" + kModule +
             "&pin-value=...&pin-value=... (token)"},
        {SIGN_EXE, key + "&pin-value=0000&pin-value=" + pin, {"--json"}, 0,
         "\"rsa_private_key\": \"pkcs11:token=secret;object=signer?" + kModule +
             "&pin-value=...&pin-value=... (token)\""},
        {SIGN_EXE, key + "&pin-value=" + pin + "&pin-value=0000", {}, 1,
         "cannot log in to token 'secret': wrong PIN"},
        {KEYGEN_EXE, made + "&pin-value=" + pin + "&pin-value=0000", {}, 1,
         "cannot log in to token 'secret': wrong PIN"},
        {SIGN_EXE, key + "&pin-source=file:" + path("open.pin"), {}, 0, warning},
        {KEYGEN_EXE, made + "&pin-source=" + path("open.pin"), {}, 0, warning},
        {SIGN_EXE, key + "&pin-source=" + path("closed.pin"), {}, 0, "signature        verified"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri + (c.more.empty() ? "" : " " + c.more[0]));
        std::vector<std::string> args = {"--pkcs11", c.uri, "--min-top-byte", "0x80",
                                         "--dir",    "kg"};
        if (c.tool == std::string(SIGN_EXE)) {
            args = {"--chip", "341", "--secure", "2", "--aes-key", "aes.txt", "--rsa-key", c.uri};
            args.insert(args.end(), c.more.begin(), c.more.end());
            args.insert(args.end(), {"in.bin", "out.bin"});
        }
        shell_output("cd " + dir_ + " && rm -rf kg out.bin && mkdir kg");
        const ToolRun run = run_program(c.tool, dir_, args);
        EXPECT_EQ(run.status, c.status) << run.errors;
        const std::string& shown = c.status == 0 && c.says != warning ? run.output : run.errors;
        EXPECT_NE(shown.find(c.says), std::string::npos) << shown;
        EXPECT_EQ(run.errors.find("warning:") != std::string::npos, c.says == warning);
        EXPECT_EQ((run.output + run.errors).find(pin), std::string::npos) << "the PIN was shown";
        // Its halves too, where no digest may hold four such digits by chance.
        for (const char* half : {"7391", "5642"}) {
            if (c.status != 0) {
                EXPECT_EQ(run.errors.find(half), std::string::npos) << half;
            }
        }
    }
}
