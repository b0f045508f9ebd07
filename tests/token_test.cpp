// SPDX-License-Identifier: Apache-2.0
// Signing through a PKCS#11 token: SoftHSM2 with a token store of the test's own folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <p11-kit/p11-kit.h>
#include <p11-kit/pkcs11.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
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

// The objects of a token with the given label, as the module shows them to its logged-in user
// (PIN 1234), sorted: "private LABEL" and "public LABEL", each followed by what the key may do.
// Read here, not through the tools, so that what the tools leave is seen by other eyes.
std::vector<std::string> token_objects(const std::string& token, const std::string& label) {
    std::vector<std::string> objects;
    CK_FUNCTION_LIST* m = p11_kit_module_load(kModulePath.c_str(), 0);
    if (m == nullptr || p11_kit_module_initialize(m) != CKR_OK) return {"no module"};
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    m->C_GetSlotList(CK_TRUE, slots, &count);
    for (CK_ULONG i = 0; i < count && session == CK_INVALID_HANDLE; ++i) {
        CK_TOKEN_INFO info;
        if (m->C_GetTokenInfo(slots[i], &info) != CKR_OK) continue;
        std::string name(reinterpret_cast<const char*>(info.label), sizeof(info.label));
        if (name.substr(0, name.find_last_not_of(' ') + 1) != token) continue;
        m->C_OpenSession(slots[i], CKF_SERIAL_SESSION, nullptr, nullptr, &session);
    }
    m->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>("1234")), 4);
    CK_ATTRIBUTE search = {CKA_LABEL, const_cast<char*>(label.data()), label.size()};
    CK_OBJECT_HANDLE found[16];
    m->C_FindObjectsInit(session, &search, 1);
    m->C_FindObjects(session, found, 16, &count);
    m->C_FindObjectsFinal(session);
    const std::pair<CK_ATTRIBUTE_TYPE, const char*> kPrivateUses[] = {
        {CKA_SIGN, "sign"},     {CKA_DECRYPT, "decrypt"},     {CKA_UNWRAP, "unwrap"},
        {CKA_DERIVE, "derive"}, {CKA_SENSITIVE, "sensitive"}, {CKA_EXTRACTABLE, "extractable"}};
    const std::pair<CK_ATTRIBUTE_TYPE, const char*> kPublicUses[] = {
        {CKA_VERIFY, "verify"}, {CKA_ENCRYPT, "encrypt"}, {CKA_WRAP, "wrap"}};
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_OBJECT_CLASS object_class = 0;
        CK_ATTRIBUTE class_attribute = {CKA_CLASS, &object_class, sizeof(object_class)};
        m->C_GetAttributeValue(session, found[i], &class_attribute, 1);
        const bool is_private = object_class == CKO_PRIVATE_KEY;
        std::string text = (is_private ? "private " : "public ") + label + ":";
        for (const auto& use : is_private ? std::vector<std::pair<CK_ATTRIBUTE_TYPE, const char*>>(
                                                std::begin(kPrivateUses), std::end(kPrivateUses))
                                          : std::vector<std::pair<CK_ATTRIBUTE_TYPE, const char*>>(
                                                std::begin(kPublicUses), std::end(kPublicUses))) {
            CK_BBOOL value = CK_FALSE;
            CK_ATTRIBUTE attribute = {use.first, &value, sizeof(value)};
            const bool shown = m->C_GetAttributeValue(session, found[i], &attribute, 1) == CKR_OK;
            text += std::string(" ") + use.second + (!shown ? "=?" : value ? "" : "=no");
        }
        objects.push_back(text);
    }
    m->C_CloseSession(session);
    p11_kit_module_finalize(m);
    p11_kit_module_release(m);
    std::sort(objects.begin(), objects.end());
    return objects;
}

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
        {"a module name that is not registered",
         "pkcs11:token=bootseal?module-name=nosuchmodule" + pin,
         {},
         1,
         "no PKCS#11 module named 'nosuchmodule' is registered with p11-kit; registered: "},
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
        {SIGN_EXE,
         "pkcs11:token=imp;id=%0?pin-value=" + pin,
         {},
         2,
         "malformed PKCS#11 URI 'pkcs11:token=imp;id=%0?pin-value=...'"},
        {KEYGEN_EXE,
         "pkcs11:token=imp;id=%0?pin-value=" + pin,
         {},
         2,
         "malformed PKCS#11 URI 'pkcs11:token=imp;id=%0?pin-value=...'"},
        {SIGN_EXE,
         "pkcs11:token=secret;colour=red?pin-value=" + pin,
         {},
         2,
         "'pkcs11:token=secret;colour=...?pin-value=...' has attributes this tool does not know"},
        {KEYGEN_EXE,
         "pkcs11:token=secret;pin=" + pin + "?pin-value=" + pin,
         {},
         2,
         "'pkcs11:token=secret;pin=...?pin-value=...' has attributes"},
        // A separator inside the value must not cut the PIN in two halves, one of them shown.
        {SIGN_EXE,
         "pkcs11:x=1;pin-value=7391;5642?5642",
         {},
         2,
         "'pkcs11:x=...;pin-value=...;...?...'"},
        {SIGN_EXE, "PKCS11:token=none?" + kModule + "&pin-value=" + pin, {}, 1, "no token matches"},
        // p11-kit logs in with the last pin-value.
        {SIGN_EXE,
         key + "&pin-value=0000&pin-value=" + pin,
         {},
         0,
         "rsa private key  pkcs11:token=secret;object=signer?" + kModule +
             "&pin-value=...&pin-value=... (token)"},
        {SIGN_EXE,
         key + "&pin-value=0000&pin-value=" + pin,
         {"--json"},
         0,
         "\"rsa_private_key\": \"pkcs11:token=secret;object=signer?" + kModule +
             "&pin-value=...&pin-value=... (token)\""},
        {SIGN_EXE,
         key + "&pin-value=" + pin + "&pin-value=0000",
         {},
         1,
         "cannot log in to token 'secret': wrong PIN"},
        {KEYGEN_EXE,
         made + "&pin-value=" + pin + "&pin-value=0000",
         {},
         1,
         "cannot log in to token 'secret': wrong PIN"},
        {SIGN_EXE, key + "&pin-source=file:" + path("open.pin"), {}, 0, warning},
        {KEYGEN_EXE, made + "&pin-source=" + path("open.pin"), {}, 0, warning},
        {SIGN_EXE, key + "&pin-source=" + path("closed.pin"), {}, 0, "signature        verified"},
        // A FIFO of mode 0644 gives the PIN from one read and is no file to warn about.
        {SIGN_EXE, key + "&pin-source=" + path("pin.fifo"), {}, 0, "signature        verified"},
        {KEYGEN_EXE,
         "pkcs11:token=secret;object=piped;id=%0B?" + kModule +
             "&pin-source=file:" + path("pin.fifo"),
         {},
         0,
         "modulus: 1024 bits"},
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
        shell_output("cd " + dir_ + " && rm -rf kg out.bin pin.fifo && mkdir kg");
        if (c.uri.find("pin.fifo") != std::string::npos) {
            shell_output("cd " + dir_ +
                         " && mkfifo -m 0644 pin.fifo && (timeout 20 cp closed.pin "
                         "pin.fifo >/dev/null 2>&1 &)");
        }
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

// What keygen does with a token, in order on one token store: every output is checked before
// the first object is made, and a run that cannot write its files leaves no object behind.
// Later rows use the key the second row made.
TEST_F(Token, KeygenInATokenWritesItsFilesOrLeavesNoObject) {
    const std::string pin = "&pin-value=1234";
    auto uri = [&](const std::string& label, const char* id) {
        return "pkcs11:token=bootseal;object=" + label + ";id=%" + id + "?" + kModule + pin;
    };
    const std::vector<std::string> kMade = {
        "private made: sign decrypt=no unwrap=no derive=no sensitive extractable=no",
        "public made: verify encrypt=no wrap=no"};
    const std::string strace =
        "strace -f -qq -o strace.log -e trace=linkat -e inject=linkat:error=EIO ";
    struct Case {
        const char* name;
        std::string setup;  // shell commands in the test's folder first
        std::string args;   // keygen's, after a strace prefix when one is given
        int status;
        std::string says;   // in standard output or standard error
        std::string label;  // the objects of this label afterwards
        std::vector<std::string> objects;
        std::string folder_0700;  // a folder the run created, mode 0700
        std::string same_as;      // "new old": the run's rsa_pub.txt is the made key's
    };
    const auto top = [](const std::string& uri_text) { return " --pkcs11 '" + uri_text + "'"; };
    const Case cases[] = {
        {"a software pair into a new folder",
         "",
         "--dir soft",
         0,
         "created folder 'soft' (mode 0700)",
         "soft",
         {},
         "soft",
         ""},
        {"a token pair into a new folder, for signing only", "",
         "--dir pub --min-top-byte 0x80" + top(uri("made", "07")), 0,
         "created folder 'pub' (mode 0700)", "made", kMade, "pub", ""},
        {"a folder whose parent is a file",
         "touch plain",
         "--dir plain/pub --min-top-byte 0x80" + top(uri("k3", "33")),
         1,
         "cannot create the folder 'plain/pub': Not a directory; nothing written",
         "k3",
         {},
         "",
         ""},
        {"an output that exists",
         "mkdir old && touch old/rsa_pub.txt",
         "--dir old --min-top-byte 0x80" + top(uri("k4", "34")),
         1,
         "'old/rsa_pub.txt' exists; nothing written (use --force to replace it)",
         "k4",
         {},
         "",
         ""},
        {"a write failing after the pair was made",
         "",
         strace + KEYGEN_EXE + " --dir failed --min-top-byte 0x80" + top(uri("k5", "35")),
         1,
         "deleted the key pair this run made in the token\nbootseal-keygen: removed the folder "
         "'failed' this run created",
         "k5",
         {},
         "",
         ""},
        {"the public half of the made key", "",
         "--dir exp --export-public --pem" + top(uri("made", "07")), 0, "wrote exp/public.pem",
         "made", kMade, "exp", "exp/rsa_pub.txt pub/rsa_pub.txt"},
        {"the list of the token's keys", "",
         "--list" + top("pkcs11:token=bootseal?" + kModule + pin), 0,
         "label 'made', id 07, 1024 bits, top byte 0x", "made", kMade, "", ""},
        {"a URI without token= finds the one token holding the key",
         "softhsm2-util --init-token --free --label other --so-pin 0000 --pin 1234 >/dev/null",
         "--dir any --export-public" + top("pkcs11:object=made?" + kModule + pin), 0,
         "wrote any/rsa_pub.txt", "made", kMade, "any", "any/rsa_pub.txt pub/rsa_pub.txt"},
        {"a URI without token= naming a key of both tokens",
         "openssl pkcs8 -topk8 -nocrypt -in " + kKeys +
             "pair-a/private.pem -out a.pem && softhsm2-util --import a.pem --token other "
             "--label made --id 07 --pin 1234 >/dev/null && rm a.pem",
         "--dir two --export-public" + top("pkcs11:object=made?" + kModule + pin), 1,
         "the object the URI names is in several tokens (", "made", kMade, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.setup.empty()) shell_output("cd " + dir_ + " && " + c.setup);
        const std::string command =
            c.args.rfind("strace", 0) == 0 ? c.args : KEYGEN_EXE + (" " + c.args);
        const ToolRun run = run_program("sh", dir_, {"-c", command});
        EXPECT_EQ(run.status, c.status) << run.errors;
        EXPECT_NE((run.output + run.errors).find(c.says), std::string::npos) << run.errors;
        EXPECT_EQ(token_objects("bootseal", c.label), c.objects);
        if (!c.folder_0700.empty()) {
            struct stat st;
            ASSERT_EQ(stat(path(c.folder_0700).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u);
            EXPECT_TRUE(file_exists(path(c.folder_0700 + "/rsa_pub.txt")));
        }
        if (!c.same_as.empty()) {
            const size_t space = c.same_as.find(' ');
            EXPECT_TRUE(read_file(path(c.same_as.substr(0, space))) ==
                        read_file(path(c.same_as.substr(space + 1))));
        }
        if (c.status != 0) {
            EXPECT_EQ(shell_output("cd " + dir_ + " && ls -d failed two plain/pub 2>/dev/null"),
                      "");
        }
    }
    // The list names the made key's top byte, the one its rsa_pub.txt starts with.
    const Bytes pub = read_file(path("pub/rsa_pub.txt"));
    const ToolRun list =
        run_program(KEYGEN_EXE, dir_,
                    {"--list", "--pkcs11", "pkcs11:token=bootseal;object=made?" + kModule + pin});
    EXPECT_EQ(list.output,
              "token 'bootseal': 1 RSA key\nlabel 'made', id 07, 1024 bits, top byte 0x" +
                  std::string(pub.begin() + 4, pub.begin() + 6) + ", private and public\n");
}

// SIGTERM while pairs are being made: the run deletes what it made and says so, or is killed
// before it made anything; never is a lone public or private object left.
TEST_F(Token, KeygenStoppedWhileMakingPairsLeavesNoObject) {
    int cleaned = 0;
    for (const int delay_ms : {40, 200, 600, 1500}) {
        SCOPED_TRACE(delay_ms);
        const std::string label = "stop" + std::to_string(delay_ms);
        const std::string uri =
            "pkcs11:token=bootseal;object=" + label + "?" + kModule + "&pin-value=1234";
        const pid_t pid = fork();
        if (pid == 0) {
            const int err = open(path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, STDERR_FILENO);
            if (chdir(dir_.c_str()) != 0) _exit(127);
            // 0xFF takes thousands of pairs: the run is still making them when stopped.
            execl(KEYGEN_EXE, KEYGEN_EXE, "--dir", label.c_str(), "--min-top-byte", "0xFF",
                  "--pkcs11", uri.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        usleep(static_cast<useconds_t>(delay_ms) * 1000);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::vector<std::string> objects = token_objects("bootseal", label);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            EXPECT_EQ(objects.size(), 2u) << "a 0xFF pair found at once";
            continue;
        }
        EXPECT_EQ(objects, std::vector<std::string>());
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), SIGTERM);
            continue;
        }
        ++cleaned;
        EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
        const std::string errors = shell_output("cat " + path("err"));
        EXPECT_NE(errors.find("bootseal-keygen: stopped by SIGTERM; deleted the key pair this run "
                              "made in the token; nothing written\n"),
                  std::string::npos)
            << errors;
        EXPECT_FALSE(file_exists(path(label)));
    }
    EXPECT_GT(cleaned, 0) << "no run was stopped while making pairs";
}
