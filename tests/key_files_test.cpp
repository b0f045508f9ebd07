// SPDX-License-Identifier: Apache-2.0
#include "keys/key_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include <string>

#include "tests/test_support.hpp"

namespace {

// Key files are read from the working directory, so each test runs inside its own folder.
class KeyFiles : public InTempDirTest {
protected:
    int load_aes(const ChipProfile& profile, const char* format, bool announce, std::string* out) {
        int result = 1;
        key_.fill(0xEE);
        *out = capture_stdout([&] { result = load_aes_key(profile, format, announce, key_.data()); });
        return result;
    }
    void copy_keys(const std::string& folder) {
        const std::string from = std::string(TEST_DATA_DIR) + "/keys/" + folder + "/";
        write_file("rsa_priv.txt", read_file(from + "rsa_priv.txt"));
        write_file("rsa_pub.txt", read_file(from + "rsa_pub.txt"));
    }
    std::array<uint8_t, 16> key_{};
};

const char kKeyHex[] = "00112233445566778899aabbccddeeff";
const char kBadKey[] = "AES-Key:\r\n failed\n  ! Please check aes.txt\n Key must AES-128bits\n\n";

TEST_F(KeyFiles, DefaultKeyVariants) {
    uint8_t key[16];
    default_aes_key(false, key);
    EXPECT_EQ(hex(key, 16), "2b7e151628aed2a6abf7158809cf4f3c");
    default_aes_key(true, key);
    EXPECT_EQ(hex(key, 16), "16157e2ba6d2ae288815f7ab3c4fcf09");
}

TEST_F(KeyFiles, MissingAesFileTakesTheChipsDefaultKey) {
    std::string out;
    EXPECT_EQ(load_aes(select_chip_profile(229), "%02x ", true, &out), 0);
    EXPECT_EQ(out, "No AES128 key file! Using default setting\n");
    EXPECT_EQ(hex(key_.data(), 16), "2b7e151628aed2a6abf7158809cf4f3c");
    EXPECT_EQ(load_aes(select_chip_profile(341), "%02x ", false, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(hex(key_.data(), 16), "16157e2ba6d2ae288815f7ab3c4fcf09");
}

TEST_F(KeyFiles, AcceptedKeyFilesEchoTheKeyInTheCallersFormat) {
    struct Case {
        const char* text;
        const char* format;
        const char* echo;
    };
    const Case cases[] = {
        {"00112233445566778899aabbccddeeff\n", "%02x ",
         "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff "},
        {"#comment\n00112233445566778899AABBCCDDEEFF trailing words", "%02x",
         "00112233445566778899aabbccddeeff"},
        {"  #one #two\r\n\t00112233445566778899aabbccddeeff", "%02x",
         "00112233445566778899aabbccddeeff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        write_text("aes.txt", c.text);
        std::string out;
        EXPECT_EQ(load_aes(select_chip_profile(229), c.format, true, &out), 0);
        EXPECT_EQ(out, std::string("AES-Key:\r\n") + c.echo + "\r\n");
        EXPECT_EQ(hex(key_.data(), 16), kKeyHex);
    }
}

TEST_F(KeyFiles, MalformedKeyFilesFailWithoutEchoingAKey) {
    const std::string hex32 = kKeyHex;
    const std::string cases[] = {
        "",
        "# only a comment\n",                   // the second word is taken as the key
        "# two words\n" + hex32,
        hex32.substr(0, 31),
        hex32 + "0",
        std::string(288, 'a'),
        std::string(1500, 'b'),
        "+" + hex32.substr(1),
        "0x" + hex32.substr(2),
        hex32.substr(0, 30) + "g0",
        hex32.substr(0, 16) + "-" + hex32.substr(17),
        std::string("0011223344556677\0""899aabbccddeeff", 32),
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        write_text("aes.txt", text);
        std::string out;
        EXPECT_EQ(load_aes(select_chip_profile(229), "%02x ", true, &out), -1);
        EXPECT_EQ(out, kBadKey);
    }
}

TEST_F(KeyFiles, RsaKeyPairLoads) {
    copy_keys("pair-a");
    RsaKeyContext key;
    rsa_key_init(&key);
    std::string out = capture_stdout([&] {
        EXPECT_EQ(load_rsa_private(&key), 0);
        EXPECT_EQ(load_rsa_public(&key), 0);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(key.len, 128u);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.E, 65537), 0);
    EXPECT_EQ(mbedtls_mpi_bitlen(&key.N), 1024u);
    rsa_key_free(&key);
}

struct RsaFailure {
    const char* name;
    bool present;
    std::string priv;
    const char* message;
};

TEST_F(KeyFiles, RsaPrivateFileFailures) {
    const std::string line = "X = 1\n";
    const std::string six_lines = line + line + line + line + line + line;
    const RsaFailure cases[] = {
        {"missing", false, "",
         " failed\n  ! Could not open rsa_priv.txt\n  ! Please run rsa_genkey first\n\n"},
        {"empty", true, "", " failed\n  ! mbedtls_mpi_read_file returned -2\n\n"},
        {"six values", true, six_lines, " failed\n  ! mbedtls_mpi_read_file returned -2\n\n"},
        {"2482-character line", true, "N = " + std::string(2477, 'A') + "\n",
         " failed\n  ! mbedtls_mpi_read_file returned -8\n\n"},
        {"a folder", true, "", nullptr},
    };
    for (const RsaFailure& c : cases) {
        SCOPED_TRACE(c.name);
        unlink("rsa_priv.txt");
        rmdir("rsa_priv.txt");
        if (c.message == nullptr) {
            ASSERT_EQ(mkdir("rsa_priv.txt", 0755), 0);
        } else if (c.present) {
            write_text("rsa_priv.txt", c.priv);
        }
        RsaKeyContext key;
        rsa_key_init(&key);
        int result = 0;
        const std::string out = capture_stdout([&] { result = load_rsa_private(&key); });
        rsa_key_free(&key);
        EXPECT_EQ(result, -1);
        EXPECT_EQ(out, c.message ? c.message : " failed\n  ! mbedtls_mpi_read_file returned -2\n\n");
    }
}

TEST_F(KeyFiles, RsaLineRulesComeFromTheDependency) {
    // 2481 characters with the line feed still fit; values end at the last non-hex character.
    const std::string long_line = "N = " + std::string(2476, 'F') + "\n";
    write_text("rsa_pub.txt", long_line + "E=garbage 10001\r\n");
    RsaKeyContext key;
    rsa_key_init(&key);
    int result = -1;
    const std::string out = capture_stdout([&] { result = load_rsa_public(&key); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(mbedtls_mpi_bitlen(&key.N), 2476u * 4);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.E, 0x10001), 0);

    write_text("rsa_pub.txt", "N = 7 \nE = -5\n");  // trailing blank reads as 0; no sign is read
    capture_stdout([&] { result = load_rsa_public(&key); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.N, 0), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.E, 5), 0);
    rsa_key_free(&key);

    unlink("rsa_pub.txt");
    rsa_key_init(&key);
    const std::string missing = capture_stdout([&] { result = load_rsa_public(&key); });
    rsa_key_free(&key);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(missing, " failed\n  ! Could not open rsa_pub.txt\n  ! Please run rsa_genkey first\n\n");
}

TEST_F(KeyFiles, EightLinePrivateFileReadsShiftedByOneLine) {
    const std::string priv = "N = 11\nE = 22\nD = 33\nP = 44\nQ = 55\nDP = 66\nDQ = 77\nQP = 88\n";
    write_text("rsa_priv.txt", priv);
    RsaKeyContext key;
    rsa_key_init(&key);
    int result = -1;
    capture_stdout([&] { result = load_rsa_private(&key); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.D, 0x22), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.P, 0x33), 0);
    EXPECT_EQ(mbedtls_mpi_cmp_int(&key.QP, 0x77), 0);
    rsa_key_free(&key);
}

// aes.txt's text as every tool reads it, from one read of the file: a byte-order mark is named,
// isspace's characters part words, and a file past 64 KiB is refused by the companions while
// bootseal reads its first part as it always did.
TEST_F(KeyFiles, AesKeyFilesAreReadOnceAndTheirFaultsNamed) {
    const std::string hex32 = kKeyHex;
    const std::string bom = "\xEF\xBB\xBF";
    struct AesCase {
        std::string text;  // "" with make: what make builds
        AesKeyRead first_part;
        AesKeyRead whole;
    };
    const AesCase cases[] = {
        {hex32 + "\n", AesKeyRead::kKey, AesKeyRead::kKey},
        {"\v" + hex32 + "\f", AesKeyRead::kKey, AesKeyRead::kKey},
        {"#a\v#b\f\r\n" + hex32, AesKeyRead::kKey, AesKeyRead::kKey},
        {"#" + bom + "\n" + hex32, AesKeyRead::kKey, AesKeyRead::kKey},
        {"# " + bom + "\n" + hex32, AesKeyRead::kNoKey, AesKeyRead::kNoKey},
        {bom + hex32 + "\r\n", AesKeyRead::kByteOrderMark, AesKeyRead::kByteOrderMark},
        {bom + "#c\n" + hex32, AesKeyRead::kByteOrderMark, AesKeyRead::kByteOrderMark},
        {bom, AesKeyRead::kByteOrderMark, AesKeyRead::kByteOrderMark},
        {bom.substr(0, 2) + hex32, AesKeyRead::kNoKey, AesKeyRead::kNoKey},
        {hex32 + " " + std::string(70000, 'x'), AesKeyRead::kKey, AesKeyRead::kTooLarge},
        {std::string(65536 - 32, ' ') + hex32, AesKeyRead::kKey, AesKeyRead::kKey},
        {std::string(65537 - 32, ' ') + hex32, AesKeyRead::kNoKey, AesKeyRead::kTooLarge},
    };
    for (const AesCase& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        write_text("aes.txt", c.text);
        for (bool first_part : {true, false}) {
            key_.fill(0xEE);
            const AesKeyRead read = read_aes_key_file("aes.txt", first_part, key_.data());
            EXPECT_EQ(read, first_part ? c.first_part : c.whole);
            if (read == AesKeyRead::kKey) {
                EXPECT_EQ(hex(key_.data(), 16), kKeyHex);
            }
        }
    }
    // What stands at the path, and the refusals the companions print.
    ASSERT_EQ(mkdir("folder", 0700), 0);
    ASSERT_EQ(symlink("nowhere", "dangling"), 0);
    EXPECT_EQ(read_aes_key_file("folder", false, key_.data()), AesKeyRead::kUnreadable);
    EXPECT_EQ(read_aes_key_file("dangling", false, key_.data()), AesKeyRead::kUnopenable);
    EXPECT_EQ(read_aes_key_file("none", false, key_.data()), AesKeyRead::kAbsent);
    EXPECT_EQ(aes_key_refusal("a.txt", AesKeyRead::kByteOrderMark),
              "'a.txt' starts with a UTF-8 byte-order mark (the bytes EF BB BF that Notepad "
              "writes): save it as plain text without one");
    EXPECT_EQ(aes_key_refusal("a.txt", AesKeyRead::kTooLarge),
              "a.txt: too large for a key file (more than 65536 bytes)");
    // bootseal's transcript for a marked file is the one of any bad key.
    write_text("aes.txt", bom + hex32);
    std::string out;
    EXPECT_EQ(load_aes(select_chip_profile(229), "%02x ", true, &out), -1);
    EXPECT_EQ(out, kBadKey);
}

}  // namespace
