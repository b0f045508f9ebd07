// SPDX-License-Identifier: Apache-2.0
// Secure images from the built tool, checked against answers computed by openssl.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.hpp"

namespace {

const char kKeyHex[] = "000102030405060708090a0b0c0d0e0f";
const char kDefaultKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kDefaultKeySecondVariant[] = "16157e2ba6d2ae288815f7ab3c4fcf09";
const char kBanner[] = "bootseal version : 2018-0320-1.0006\r\n";

Bytes slice(const Bytes& data, size_t from, size_t to) {
    return Bytes(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(to));
}

std::string fmt(const char* format, uint32_t a, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0) {
    char text[128];
    snprintf(text, sizeof(text), format, a, b, c, d);
    return text;
}

uint32_t le32(const Bytes& data, size_t pos) {
    return static_cast<uint32_t>(data[pos]) | static_cast<uint32_t>(data[pos + 1]) << 8 |
           static_cast<uint32_t>(data[pos + 2]) << 16 | static_cast<uint32_t>(data[pos + 3]) << 24;
}

std::string digest_lines(const char* first, const Bytes& digest) {
    return fmt(first, le32(digest, 0), le32(digest, 4), le32(digest, 8), le32(digest, 12)) +
           fmt("        0x%x 0x%x 0x%x 0x%x\r\n", le32(digest, 16), le32(digest, 20),
               le32(digest, 24), le32(digest, 28));
}

std::string sum_lines(uint32_t sum, const char* label) {
    return fmt("##ui32BinDataSumValue: 0x%08X\n", sum) + label +
           fmt(": 0x%04X\n\n", (0x10000 - (sum & 0xFFFF)) & 0xFFFF);
}

// Fails when output holds 16 hexadecimal digits in a row of a secret line (D, P, Q, DP, DQ,
// QP) of the private key text priv, in either case: no message may show a piece of the key.
void expect_no_key_text(const std::string& output, const std::string& priv) {
    std::string lower = output;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::istringstream lines(priv);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("N = ", 0) == 0 || line.find(" = ") == std::string::npos) continue;
        std::string value = line.substr(line.find(" = ") + 3);
        for (char& c : value) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        for (size_t at = 0; at + 16 <= value.size(); ++at) {
            EXPECT_EQ(lower.find(value.substr(at, 16)), std::string::npos)
                << "the output shows part of " << line.substr(0, line.find(' '));
        }
    }
}

class SecureImages : public TempDirTest {
protected:
    // Runs an openssl command on data and returns the bytes it writes.
    Bytes openssl(const std::string& args, const Bytes& data) {
        write_file(path("ossl.in"), data);
        unlink(path("ossl.out").c_str());
        shell_output("openssl " + args + " -in " + path("ossl.in") + " -out " + path("ossl.out") +
                     " 2>/dev/null");
        Bytes out = read_file(path("ossl.out"));
        EXPECT_FALSE(out.empty()) << "openssl " << args;
        return out;
    }
    Bytes cbc(const std::string& key, const Bytes& data) {
        return openssl("enc -aes-128-cbc -nopad -K " + key + " -iv 0", data);
    }
    Bytes ecb(const std::string& key, const Bytes& data) {
        return openssl("enc -aes-128-ecb -nopad -K " + key, data);
    }
    Bytes sha256(const Bytes& data) {
        write_file(path("dgst.in"), data);
        unlink(path("dgst.out").c_str());
        shell_output("openssl dgst -sha256 -binary -out " + path("dgst.out") + " " + path("dgst.in"));
        Bytes out = read_file(path("dgst.out"));
        EXPECT_EQ(out.size(), 32u);
        return out;
    }

    void use_keys(const std::string& priv_folder, const std::string& pub_folder) {
        const std::string keys = std::string(TEST_DATA_DIR) + "/keys/";
        write_file(path("rsa_priv.txt"), read_file(keys + priv_folder + "/rsa_priv.txt"));
        write_file(path("rsa_pub.txt"), read_file(keys + pub_folder + "/rsa_pub.txt"));
    }
    std::string key_pem(const std::string& folder, const char* name) {
        return std::string(TEST_DATA_DIR) + "/keys/" + folder + "/" + name;
    }

    Bytes sample() {
        Bytes input = read_file(SAMPLE_LOADER);
        write_file(path("in.bin"), input);
        input.resize(32768, 0);
        return input;
    }
};

TEST_F(SecureImages, AesSignedImageMatchesOpensslAnswers) {
    const Bytes plain = sample();
    write_text(path("aes.txt"), std::string("#test-key\n") + kKeyHex + "\n");
    const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "229", "1"});
    ASSERT_EQ(run.status, 0) << run.output;
    const Bytes out = read_file(path("out.bin"));
    ASSERT_EQ(out.size(), 32768u);

    // The payload is the CBC encryption of the plaintext payload.
    const Bytes payload = cbc(kKeyHex, slice(plain, 512, 32768));
    EXPECT_EQ(slice(out, 512, 32768), payload);
    // The secure marker, and a data checksum that brings the ciphertext's sum to zero.
    EXPECT_EQ(out[140], 0xAA);
    EXPECT_EQ(out[141], 0x55);
    Bytes data_field = slice(out, 512, 32768);
    const uint32_t data_sum = rom_sum(data_field, 0, data_field.size());
    EXPECT_EQ(static_cast<uint16_t>(data_sum + static_cast<uint32_t>(out[142] | out[143] << 8)), 0);

    // The image digest covers the plaintext image with the digest and signature fields zero.
    Bytes image = out;
    std::fill(image.begin() + 352, image.begin() + 512, 0);
    std::copy(plain.begin() + 512, plain.end(), image.begin() + 512);
    const Bytes image_digest = sha256(image);
    EXPECT_EQ(slice(out, 480, 512), image_digest);

    // The signature is the CBC encryption of the digest of the header as it was signed.
    Bytes header = slice(out, 0, 512);
    std::fill(header.begin() + 448, header.begin() + 480, 0);
    const Bytes header_digest = sha256(header);
    const Bytes signature = cbc(kKeyHex, header_digest);
    EXPECT_EQ(slice(out, 448, 480), signature);

    // The whole report, with every value taken from the independent computations above.
    Bytes first_pass = image;  // as checksummed first: no data checksum, re-checksum or digest
    std::fill(first_pass.begin() + 142, first_pass.begin() + 144, 0);
    std::fill(first_pass.begin() + 480, first_pass.begin() + 512, 0);
    first_pass[50] = first_pass[51] = 0;
    const uint32_t first_sum = rom_sum(first_pass);
    const uint16_t first_checksum = static_cast<uint16_t>(0x10000 - (first_sum & 0xFFFF));
    Bytes second_pass = first_pass;
    second_pass[50] = static_cast<uint8_t>(first_checksum);
    second_pass[51] = static_cast<uint8_t>(first_checksum >> 8);
    second_pass[142] = out[142];
    second_pass[143] = out[143];
    const std::string key_echo = "AES-Key:\r\n00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \r\n";
    const std::string expected =
        std::string(kBanner) +
        "chip version [VX30229]\nsecure boot: 1\nReading 'in.bin'...\nfile size = 2560\n"
        "Load efuse halfword 0x13\r\n"
        "Compensate driving: Odd only, PLEG, range 0x12, base 0x34\r\n"
        "Duty average is ENABLED\r\n"
        "\nconfig ram count 0x6\n\n==Display binary file info== Begin!!!\n"
        "VersionNumber: 00,10,26,12\n==Display binary file info== End\n\n"
        "total_bin_size after padding:32768, Dram param number:6\n\n" +
        sum_lines(first_sum, "CheckSum") + key_echo + sum_lines(data_sum, "Data CheckSum") +
        sum_lines(rom_sum(second_pass), "Re-CheckSum") +
        digest_lines("SHA256: 0x%x 0x%x 0x%x 0x%x\r\n", image_digest) +
        digest_lines("Sig: 0x%x 0x%x 0x%x 0x%x\r\n", header_digest) + "WIN32 system !!\r\n" +
        key_echo + digest_lines("Encypt Sig: 0x%x 0x%x 0x%x 0x%x\r\n", signature) +
        "Writing 'out.bin'...\nwrite size = 32768\nSave BIN OK.\nAll OK.\n";
    EXPECT_EQ(run.output, expected);

    // No randomness: the same input and key give the same bytes.
    ASSERT_EQ(run_tool(dir_, {"in.bin", "again.bin", "229", "1"}).status, 0);
    EXPECT_EQ(read_file(path("again.bin")), out);
}

TEST_F(SecureImages, DefaultKeyVariantFollowsTheChip) {
    struct Case {
        const char* chip;
        const char* mode;
        const char* key;
    };
    const Case cases[] = {{"341", "1", kDefaultKeySecondVariant},
                          {"341", "3", kDefaultKeySecondVariant},  // 3 seals on this chip
                          {"229", "2", kDefaultKey},
                          {"342", "7", kDefaultKey},
                          {"173", "-1", kDefaultKey}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " " + c.mode);
        Bytes plain = make_loader(std::string(c.chip) == "173" ? 64 : 48, 4096);
        for (size_t i = 512; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 13);
        write_file(path("in.bin"), plain);
        plain.resize(32768, 0);
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", c.chip, c.mode});
        ASSERT_EQ(run.status, 0) << run.output;
        // The notice is printed by the first key load only.
        const std::string notice = "No AES128 key file! Using default setting\n";
        EXPECT_NE(run.output.find(notice), std::string::npos);
        EXPECT_EQ(run.output.find(notice), run.output.rfind(notice));
        EXPECT_EQ(run.output.find("AES-Key"), std::string::npos);
        const Bytes out = read_file(path("out.bin"));
        EXPECT_EQ(slice(out, 512, 528), ecb(c.key, slice(plain, 512, 528)));
    }
}

TEST_F(SecureImages, ChipsWithoutSecureHeaderHashTheirHeaderAsItIs) {
    Bytes plain = make_loader(48, 1024);
    for (size_t i = 192; i < 512; ++i) plain[i] = static_cast<uint8_t>(i);
    plain[140] = 0x12;
    plain[141] = 0x34;
    write_file(path("in.bin"), plain);
    plain.resize(32768, 0);
    ASSERT_EQ(run_tool(dir_, {"in.bin", "out.bin", "227", "1"}).status, 0);
    const Bytes out = read_file(path("out.bin"));
    EXPECT_EQ(out[140], 0x12) << "no secure marker on this chip";
    EXPECT_EQ(out[141], 0x34);
    EXPECT_EQ(slice(out, 192, 448), slice(plain, 192, 448));
    Bytes image = out;
    std::copy(plain.begin() + 448, plain.end(), image.begin() + 448);  // signature, digest as read
    EXPECT_EQ(slice(out, 480, 512), sha256(image));
    Bytes header = slice(out, 0, 512);
    std::copy(plain.begin() + 448, plain.begin() + 480, header.begin() + 448);
    EXPECT_EQ(slice(out, 448, 480), cbc(kDefaultKey, sha256(header)));
}

TEST_F(SecureImages, RsaSignedImageMatchesOpensslAnswers) {
    sample();
    use_keys("pair-high", "pair-high");
    const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "341", "2"});
    ASSERT_EQ(run.status, 0) << run.output;
    const Bytes out = read_file(path("out.bin"));

    Bytes header = slice(out, 0, 512);
    std::fill(header.begin() + 192, header.begin() + 512 - 32, 0);  // N, E and signature fields
    const Bytes header_digest = sha256(header);
    Bytes block(128, 0);
    for (size_t i = 0; i < 32; ++i) block[31 - i] = header_digest[i];
    // A raw "decrypt" with the private key is the bare private-key operation: block^D mod N.
    const Bytes signature = openssl(
        "pkeyutl -decrypt -pkeyopt rsa_padding_mode:none -inkey " + key_pem("pair-high", "private.pem"),
        block);
    EXPECT_EQ(slice(out, 352, 480), signature);
    EXPECT_EQ(openssl("pkeyutl -verifyrecover -pubin -pkeyopt rsa_padding_mode:none -inkey " +
                          key_pem("pair-high", "public.pem"),
                      slice(out, 352, 480)),
              block);

    // N and E least significant byte first.
    const std::string modulus =
        shell_output("openssl rsa -pubin -modulus -noout -in " + key_pem("pair-high", "public.pem"));
    Bytes n_le = slice(out, 192, 320);
    std::reverse(n_le.begin(), n_le.end());
    std::string n_hex = hex(n_le.data(), n_le.size());
    for (char& ch : n_hex) ch = static_cast<char>(toupper(ch));
    EXPECT_EQ(modulus, "Modulus=" + n_hex + "\n");
    Bytes e_expected(32, 0);
    e_expected[0] = 0x01;
    e_expected[2] = 0x01;
    EXPECT_EQ(slice(out, 320, 352), e_expected);

    std::string lines = "WIN32 system !!\r\nEncypt Sig(RSA): \r\n";
    for (size_t row = 0; row < 128; row += 8) {
        lines += fmt("0x%x 0x%x 0x%x 0x%x ", signature[row], signature[row + 1],
                     signature[row + 2], signature[row + 3]);
        lines += fmt("0x%x 0x%x 0x%x 0x%x\r\n", signature[row + 4], signature[row + 5],
                     signature[row + 6], signature[row + 7]);
    }
    lines += "Writing 'out.bin'...\nwrite size = 32768\nSave BIN OK.\nAll OK.\n";
    EXPECT_NE(run.output.find(digest_lines("Sig: 0x%x 0x%x 0x%x 0x%x\r\n", header_digest) + lines),
              std::string::npos)
        << run.output;
}

TEST_F(SecureImages, RsaFailuresWriteNothing) {
    const std::string priv_missing =
        " failed\n  ! Could not open rsa_priv.txt\n  ! Please run rsa_genkey first\n\n";
    const std::string mismatch =
        " failed\n  ! rsa_priv.txt and rsa_pub.txt do not belong together: the signature does not"
        " verify with the public key\n\n";
    const std::string too_large =
        " failed\n  ! The header digest of this image is too large for this modulus: the signed"
        " block is not below N.\n  ! Change the image (for example its version bytes) or use a key"
        " whose modulus has a high top byte.\n\n";
    struct Case {
        const char* name;
        const char* priv;  // key folder, or nullptr for no file
        const char* pub;
        std::string tail;
    };
    const Case cases[] = {
        {"no private key", nullptr, "pair-high", priv_missing},
        {"no public key", "pair-high", nullptr,
         " failed\n  ! Could not open rsa_pub.txt\n  ! Please run rsa_genkey first\n\n"},
        {"public key of another pair", "pair-high", "pair-a", mismatch},
        {"public modulus longer than the header", "pair-high", "long-2048",
         " failed\n  ! rsa_pub.txt holds a value too large for the header (N at most 128 bytes, E"
         " at most 32 bytes)\n\n"},
        {"digest above the modulus", "pair-a", "pair-a", too_large},
        {"1017-bit modulus", "short-1017", "short-1017", too_large},
        {"512-bit modulus", "small-512", "small-512",
         " failed\n  ! rsa_priv.txt holds a 512-bit modulus; the header takes a 1024-bit key (a"
         " modulus of 1017 to 1024 bits)\n\n"},
        {"2048-bit modulus", "long-2048", "long-2048",
         " failed\n  ! rsa_priv.txt holds a 2048-bit modulus; the header takes a 1024-bit key (a"
         " modulus of 1017 to 1024 bits)\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sample();
        unlink(path("rsa_priv.txt").c_str());
        unlink(path("rsa_pub.txt").c_str());
        const std::string keys = std::string(TEST_DATA_DIR) + "/keys/";
        if (c.priv) write_file(path("rsa_priv.txt"), read_file(keys + c.priv + "/rsa_priv.txt"));
        if (c.pub) write_file(path("rsa_pub.txt"), read_file(keys + c.pub + "/rsa_pub.txt"));
        write_text(path("out.bin"), "previous image");
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "341", "2"});
        EXPECT_EQ(run.status, 255);
        ASSERT_GE(run.output.size(), c.tail.size());
        EXPECT_EQ(run.output.substr(run.output.size() - c.tail.size()), c.tail);
        const size_t win32 = run.output.find("WIN32 system !!\r\n");
        ASSERT_NE(win32, std::string::npos);
        const std::string after = run.output.substr(win32 + 17);
        // No byte of a signature is shown by a run that fails.
        EXPECT_EQ(after.find("Encypt Sig(RSA)"), std::string::npos) << after;
        if (c.priv) {
            const Bytes key = read_file(keys + c.priv + "/rsa_priv.txt");
            expect_no_key_text(run.output, std::string(key.begin(), key.end()));
        }
        const Bytes previous = read_file(path("out.bin"));
        EXPECT_EQ(std::string(previous.begin(), previous.end()), "previous image");
    }
}

TEST_F(SecureImages, MisorderedPrivateKeyFilesAreRefused) {
    // Eight lines N, E, D, P, Q, DP, DQ, QP read shifted by one line; the operation must fail.
    sample();
    use_keys("pair-high", "pair-high");
    std::string priv;
    const Bytes seven = read_file(path("rsa_priv.txt"));
    const std::string text(seven.begin(), seven.end());
    const size_t first_line = text.find('\n') + 1;
    priv = text.substr(0, first_line) + "E = 10001\n" + text.substr(first_line);
    write_text(path("rsa_priv.txt"), priv);
    const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "341", "2"});
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.output.find(" failed\n  ! "), std::string::npos);
    EXPECT_EQ(run.output.find("Writing"), std::string::npos);
    EXPECT_FALSE(file_exists(path("out.bin")));
}

TEST_F(SecureImages, AKeyWhoseValuesDoNotBelongTogetherSignsNothing) {
    // A damaged CRT value makes a signature that is right modulo one prime and wrong modulo the
    // other, which gives a factor of N away: it must never be printed or written.
    // A line with one digit changed, or replaced by a small odd value: P Q is then not N, and a
    // check made modulo P Q alone would pass some wrong results.
    const struct {
        const char* line;
        const char* value;  // nullptr: change the last digit
    } cases[] = {{"QP", nullptr}, {"DP", nullptr}, {"P", nullptr}, {"P", "1"}, {"P", "3"},
                 {"Q", "7"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line) + (c.value ? std::string(" = ") + c.value : ""));
        sample();
        use_keys("pair-high", "pair-high");
        const Bytes bytes = read_file(path("rsa_priv.txt"));
        std::string priv(bytes.begin(), bytes.end());
        const size_t at = priv.find(std::string("\n") + c.line + " = ");
        ASSERT_NE(at, std::string::npos);
        const size_t end = priv.find('\n', at + 1);
        if (c.value == nullptr) {
            priv[end - 1] = priv[end - 1] == '1' ? '3' : '1';
        } else {
            const size_t value_at = at + 1 + strlen(c.line) + 3;
            priv.replace(value_at, end - value_at, c.value);
        }
        write_text(path("rsa_priv.txt"), priv);
        write_text(path("out.bin"), "previous image");
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "341", "2"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output.find("Encypt Sig(RSA)"), std::string::npos) << run.output;
        expect_no_key_text(run.output, priv);
        const std::string tail =
            " failed\n  ! The RSA private-key operation gave a result that does not check out:"
            " rsa_priv.txt does not hold one consistent key, or the machine made a fault. Nothing"
            " was signed.\n\n";
        ASSERT_GE(run.output.size(), tail.size());
        EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
        const Bytes previous = read_file(path("out.bin"));
        EXPECT_EQ(std::string(previous.begin(), previous.end()), "previous image");
    }
}

TEST_F(SecureImages, MalformedAesKeyStopsTheSeal) {
    for (const char* mode : {"1", "3"}) {
        SCOPED_TRACE(mode);
        sample();
        write_text(path("aes.txt"), "0x0102030405060708090a0b0c0d0e0f");
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "229", mode});
        EXPECT_EQ(run.status, 255);
        const std::string tail =
            "AES-Key:\r\n failed\n  ! Please check aes.txt\n Key must AES-128bits\n\n";
        ASSERT_GE(run.output.size(), tail.size());
        EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
        EXPECT_FALSE(file_exists(path("out.bin")));
    }
}

TEST_F(SecureImages, WrKeyImageWrapsTheKeyUnderTheKeyEncryptionKey) {
    const Bytes plain = sample();
    write_text(path("aes.txt"), kKeyHex);
    ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "229", "3"});
    ASSERT_EQ(run.status, 0) << run.output;
    const Bytes out = read_file(path("out.bin"));
    Bytes key(16);
    for (size_t i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i);
    const Bytes wrapped = ecb(kDefaultKey, key);
    EXPECT_EQ(slice(out, 128, 144), wrapped);
    EXPECT_EQ(rom_checksum_sum(out), 0) << "the checksum covers the wrapped key";
    // Everything else is the input as read, with the boot tag set.
    Bytes expected = plain;
    std::copy(wrapped.begin(), wrapped.end(), expected.begin() + 128);
    expected[50] = out[50];
    expected[51] = out[51];
    EXPECT_EQ(out, expected);

    Bytes before_checksum = expected;
    before_checksum[50] = before_checksum[51] = 0;
    EXPECT_EQ(run.output, std::string(kBanner) +
                              "chip version [VX30229]\nsecure boot: 3\nReading 'in.bin'...\n"
                              "file size = 2560\n=>Secure program key\n"
                              "=>[2019-12-08-00042-14.03.00]\nAES-Key:\r\n"
                              "000102030405060708090a0b0c0d0e0f\r\nAES-wr-key:\r\n" +
                              hex(wrapped.data(), 16) + "\r\n" +
                              sum_lines(rom_sum(before_checksum), "CheckSum") +
                              "Writing 'out.bin'...\nwrite size = 32768\nSave BIN OK.\nAll OK.\n");

    unlink(path("aes.txt").c_str());
    run = run_tool(dir_, {"in.bin", "out.bin", "173", "3"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("No AES128 key file! Using default setting\nAES-wr-key:\r\n"),
              std::string::npos);
    Bytes default_key(16);
    const std::string d = kDefaultKey;
    for (size_t i = 0; i < 16; ++i) default_key[i] = static_cast<uint8_t>(std::stoi(d.substr(2 * i, 2), nullptr, 16));
    const Bytes layout_b = read_file(path("out.bin"));
    EXPECT_EQ(slice(layout_b, 128, 144), ecb(kDefaultKey, default_key));
    EXPECT_EQ(layout_b[64], 0x55);
    EXPECT_EQ(layout_b[65], 0xAA);
    EXPECT_EQ(rom_checksum_sum(layout_b), 0);
}

TEST_F(SecureImages, WrKeyModeNeedsTheKeyStamp) {
    write_file(path("in.bin"), make_loader(48, 512));
    write_text(path("out.bin"), "old");
    const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", "229", "3"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output, std::string(kBanner) +
                              "chip version [VX30229]\nsecure boot: 3\nReading 'in.bin'...\n"
                              "file size = 512\nNot valid wr key code!\n");
    EXPECT_EQ(read_file(path("out.bin")), Bytes({'o', 'l', 'd'}));
}

// A tool stopped by a signal with its keys loaded leaves no core file of its memory, where a
// program that does not guard its keys leaves one (the control: it shows that this machine
// writes core files into the folder at all).
TEST_F(SecureImages, NoToolLeavesACoreFileWhenStoppedWithItsKeysLoaded) {
    sample();
    use_keys("pair-high", "pair-high");
    write_text(path("aes.txt"), std::string(kKeyHex) + "\n");
    ASSERT_EQ(run_tool(dir_, {"in.bin", "sealed.bin", "341", "2"}).status, 0);
    struct Case {
        const char* name;
        std::string command;  // stopped with SIGABRT at its first flush, after reading its keys
    };
    const std::string stop =
        "strace -f -qq -o /dev/null -e trace=fsync -e inject=fsync:signal=SIGABRT ";
    const Case cases[] = {
        {"control", stop + "sh -c 'sync; head -c 100 aes.txt > copy; exec python3 -c \"import os; "
                           "f = open(\\\"copy\\\", \\\"a\\\"); os.fsync(f.fileno())\"'"},
        {"bootseal", stop + BOOTSEAL_EXE + " in.bin out.bin 341 2"},
        {"bootseal-sign", stop + SIGN_EXE +
                              " --chip 341 --secure 2 --aes-key aes.txt --rsa-key rsa_priv.txt"
                              " --rsa-pub rsa_pub.txt --quiet in.bin signed.bin"},
        {"bootseal-verify", stop + VERIFY_EXE + " --chip 341 --secure 2 --aes-key aes.txt" +
                                " --decrypt plain.bin sealed.bin"},
        {"bootseal-keygen", stop + KEYGEN_EXE + " --aes --dir made"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shell_output("cd " + dir_ + " && rm -f core* && (ulimit -c unlimited; " + c.command +
                     ") >/dev/null 2>&1");
        const bool dumped = !shell_output("cd " + dir_ + " && ls core* 2>/dev/null").empty();
        if (std::string(c.name) == "control") {
            if (!dumped) GTEST_SKIP() << "this machine writes no core file into the folder";
            continue;
        }
        EXPECT_FALSE(dumped) << c.name << " left a core file";
    }
}

}  // namespace
