// SPDX-License-Identifier: Apache-2.0
// Keys as other tools write them: encrypted PKCS#8 from openssl and Python's cryptography, and
// the files people give by mistake (OpenSSH keys, PKCS#12, certificates, other algorithms).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

const std::string kPair = std::string(TEST_DATA_DIR) + "/keys/pair-high/";

class KeyForms : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        shell_output(
            "cd " + dir_ + " && cp " + kPair + "private.pem plain.pem && cp " + kPair +
            "public.pem public.pem && printf 'pass phrase 1\\n' > pw && echo Bad-Secret-77 > "
            "bad && : > empty && printf '\\r\\n' > eol && chmod 600 *.pem pw bad empty eol");
    }
    ToolRun sign(const std::vector<std::string>& keys) {
        std::vector<std::string> args = {"--chip", "341", "--secure", "2", "--default-aes-key",
                                         "--quiet"};
        args.insert(args.end(), keys.begin(), keys.end());
        args.insert(args.end(), {"in.bin", "out.bin"});
        return run_program(SIGN_EXE, dir_, args);
    }
};

TEST_F(KeyForms, EncryptedKeysSignLikeThePlainKey) {
    ASSERT_EQ(sign({"--rsa-key", "plain.pem"}).status, 0);
    const Bytes expected = read_file(path("out.bin"));
    std::vector<std::string> makers;
    for (const char* cipher : {"aes-128-cbc", "aes-192-cbc", "aes-256-cbc", "des-ede3-cbc"}) {
        for (const char* prf : {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}) {
            makers.push_back(
                std::string("openssl pkcs8 -topk8 -in plain.pem -passout file:pw -v2 ") + cipher +
                " -v2prf hmacWith" + prf + " -out key");
        }
    }
    makers.push_back("openssl pkcs8 -topk8 -in plain.pem -passout file:pw -outform DER -out key");
    makers.push_back(
        "openssl pkcs8 -topk8 -in plain.pem -passout file:pw -v1 PBE-SHA1-3DES "
        "-out key");
    makers.push_back("openssl rsa -in plain.pem -aes128 -traditional -passout file:pw -out key");
    makers.push_back(
        "(echo 'a dump first'; openssl pkcs8 -topk8 -in plain.pem -passout file:pw) "
        "> key");
    makers.push_back(
        "python3 -c \"from cryptography.hazmat.primitives import serialization as s; "
        "k = s.load_pem_private_key(open('plain.pem', 'rb').read(), None); "
        "open('key', 'wb').write(k.private_bytes(s.Encoding.PEM, s.PrivateFormat.PKCS8, "
        "s.BestAvailableEncryption(b'pass phrase 1')))\"");
    for (const std::string& maker : makers) {
        SCOPED_TRACE(maker);
        shell_output("cd " + dir_ + " && rm -f key out.bin && " + maker + " && chmod 600 key");
        const ToolRun run = sign({"--rsa-key", "key", "--passphrase-file", "pw"});
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(read_file(path("out.bin")), expected);
        // Without the file and without a terminal it says how to give the passphrase.
        shell_output("rm -f " + path("out.bin"));
        const ToolRun asked = sign({"--rsa-key", "key"});
        EXPECT_EQ(asked.status, 1);
        EXPECT_NE(asked.errors.find("'key' is encrypted: give its passphrase with "
                                    "--passphrase-file FILE"),
                  std::string::npos)
            << asked.errors;
    }
    // bootseal-keygen takes the same key and says that what it writes is decrypted.
    shell_output("mkdir " + path("made"));
    const ToolRun keygen =
        run_program(KEYGEN_EXE, dir_,
                    {"--dir", "made", "--from-pem", "key", "--passphrase-file", "pw", "--pem"});
    ASSERT_EQ(keygen.status, 0) << keygen.errors;
    const std::string modulus = shell_output("head -1 " + kPair + "rsa_pub.txt");
    EXPECT_EQ(shell_output("head -1 " + path("made/rsa_pub.txt")), modulus);
    EXPECT_NE(keygen.errors.find("note: key is encrypted; rsa_priv.txt and private.pem hold the "
                                 "key decrypted"),
              std::string::npos)
        << keygen.errors;
}

TEST_F(KeyForms, RefusalsSayWhatTheFileIsAndWhatToDo) {
    shell_output(
        "cd " + dir_ +
        " && openssl pkcs8 -topk8 -in plain.pem -passout file:pw -outform DER "
        "-out enc.der && openssl rsa -in plain.pem -aes128 -traditional -passout file:pw -out "
        "trad.pem && openssl genpkey -algorithm ed25519 -out ed.pem && openssl genpkey "
        "-algorithm rsa-pss -pkeyopt rsa_keygen_bits:1024 -out pss.pem 2>/dev/null && openssl req "
        "-new "
        "-x509 -key plain.pem -subj /CN=t -out cert.pem && openssl pkcs12 -export -inkey "
        "plain.pem -in cert.pem -passout pass:x -out k.p12 && ssh-keygen -q -t rsa -b 1024 -N '' "
        "-f ssh && openssl genrsa -out other.pem 1024 2>/dev/null && chmod 600 *.pem *.der k.p12 "
        "ssh && openssl pkcs8 -topk8 -in ed.pem -passout file:pw -out ed-enc.pem && "
        "head -c 700 enc.der > cut.der && printf -- '-----BEGIN-----\\nAAAA\\n' > noname.pem && "
        // The hash and the cipher of the encryption changed to ones no tool writes.
        "python3 -c \"d = open('enc.der', 'rb').read(); "
        "h = bytes.fromhex('2a864886f70d0209'); c = bytes.fromhex('60864801650304012a'); "
        "open('hash.der', 'wb').write(d.replace(h, h[:-1] + b'\\\\x0c')); "
        "open('cipher.der', 'wb').write(d.replace(c, c[:-1] + b'\\\\x2b'))\" && "
        "chmod 600 ed-enc.pem cut.der noname.pem hash.der cipher.der");
    struct Case {
        std::vector<std::string> keys;
        const char* message;
        int status = 1;
    };
    const Case cases[] = {
        {{"--rsa-key", "enc.der", "--passphrase-file", "bad"},
         "'enc.der': wrong passphrase (or the file is damaged)"},
        {{"--rsa-key", "trad.pem", "--passphrase-file", "bad"}, "'trad.pem': wrong passphrase"},
        {{"--rsa-key", "enc.der", "--passphrase-file", "empty"},
         "the first line of 'empty' is empty: put the passphrase of 'enc.der' there"},
        {{"--rsa-key", "enc.der", "--passphrase-file", "eol"}, "the first line of 'eol' is empty"},
        {{"--rsa-key", "enc.der", "--passphrase-file", "none"},
         "--passphrase-file names no file: 'none'",
         2},
        {{"--rsa-key", "nosuch.pem"}, "--rsa-key names no file: 'nosuch.pem'", 2},
        {{"--rsa-key", "ed.pem"}, "'ed.pem' holds a key of type Ed25519, not RSA"},
        {{"--rsa-key", "pss.pem"}, "'pss.pem' holds an RSA-PSS key"},
        {{"--rsa-key", "k.p12"},
         "'k.p12' is a PKCS#12 bundle: take the key out with 'openssl "
         "pkcs12 -in k.p12 -nocerts -out key.pem'"},
        {{"--rsa-key", "ssh"},
         "'ssh' is an OpenSSH private key: rewrite it in PEM form with "
         "'ssh-keygen -p -m PEM -f ssh'"},
        {{"--rsa-key", "ssh.pub"}, "'ssh.pub' is an OpenSSH public key"},
        {{"--rsa-key", "public.pem"}, "'public.pem' holds a public key only"},
        {{"--rsa-key", "plain.pem", "--rsa-pub", "ssh.pub"},
         "'ssh.pub' is an OpenSSH public key: convert it with 'ssh-keygen -e -m PKCS8 -f ssh.pub"},
        {{"--rsa-key", "plain.pem", "--rsa-pub", "cert.pem"},
         "'cert.pem' is a certificate, not a key: take its public key out with 'openssl x509"},
        {{"--rsa-key", "plain.pem", "--rsa-pub", "other.pem"},
         "'other.pem' holds a private key; name its public key instead"},
        {{"--rsa-key", "plain.pem", "--rsa-pub", "empty"}, "'empty' is not a key file"},
        {{"--rsa-key", "ed-enc.pem", "--passphrase-file", "pw"},
         "'ed-enc.pem' holds a key of type Ed25519, not RSA"},
        {{"--rsa-key", "cut.der", "--passphrase-file", "pw"}, "'cut.der' is damaged"},
        {{"--rsa-key", "noname.pem"}, "'noname.pem' is damaged"},
        {{"--rsa-key", "hash.der", "--passphrase-file", "pw"},
         "'hash.der': its key is derived with a hash other than SHA-1"},
        {{"--rsa-key", "cipher.der", "--passphrase-file", "pw"},
         "'cipher.der': it is encrypted with a cipher other than AES-128/192/256-CBC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys.back());
        shell_output("rm -f " + path("out.bin"));
        const ToolRun run = sign(c.keys);
        EXPECT_EQ(run.status, c.status) << run.errors;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find("error -0x"), std::string::npos) << run.errors;
        EXPECT_EQ(run.errors.find("mbedtls"), std::string::npos) << run.errors;
        // No passphrase, right or wrong, in any output of a refusal.
        for (const char* secret : {"pass phrase 1", "Bad-Secret-77"}) {
            EXPECT_EQ((run.output + run.errors).find(secret), std::string::npos) << run.errors;
        }
        EXPECT_FALSE(file_exists(path("out.bin")));
    }
    // bootseal-verify reads public keys through the same parser.
    ASSERT_EQ(sign({"--rsa-key", "plain.pem"}).status, 0);
    const ToolRun verify = run_program(
        VERIFY_EXE, dir_, {"--chip", "341", "--secure", "2", "--rsa-pub", "ssh.pub", "out.bin"});
    EXPECT_NE(verify.output.find("'ssh.pub' is an OpenSSH public key"), std::string::npos)
        << verify.output;
}

}  // namespace
