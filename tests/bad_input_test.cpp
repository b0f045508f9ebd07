// SPDX-License-Identifier: Apache-2.0
// Every failure the tool reports, with its exact message and status, and the promise that a
// failed run leaves the folder as it found it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "seal/rsa_signing.hpp"
#include "tests/test_support.hpp"

namespace {

const char kBanner[] = "bootseal version : 2018-0320-1.0006\r\n";
const char kBadAes[] = "AES-Key:\r\n failed\n  ! Please check aes.txt\n Key must AES-128bits\n\n";
const char kSentinel[] = "an image from an earlier run";

std::string head(const std::string& chip, const std::string& mode) {
    return std::string(kBanner) + "chip version [VX30" + chip + "]\nsecure boot: " + mode + "\n";
}

std::string oversize(const std::string& name) {
    std::string text;
    for (int i = 0; i < 10; ++i) text += "Serial error !! '" + name + "' exceed 16K bytes...\n";
    return text;
}

std::string read_failed(const std::string& chip) {
    return "read binary file error!, chip = " + chip + "\n";
}

std::string mpi_error(int code) {
    return " failed\n  ! mbedtls_mpi_read_file returned " + std::to_string(code) + "\n\n";
}

std::string key_length(int bits) {
    return " failed\n  ! rsa_priv.txt holds a " + std::to_string(bits) +
           "-bit modulus; the header takes a 1024-bit key (a modulus of 1017 to 1024 bits)\n\n";
}

enum class Match { kWhole, kTail };

struct BadCase {
    const char* name;
    std::function<void(const std::string& dir)> setup;  // beyond the sample loader in.bin
    std::vector<std::string> args;
    int status;
    Match match;
    std::string expected;
    bool needs_non_root = false;  // run as an unprivileged user when the tests run as root
    std::string stdin_data = "";
};

class BadInput : public TempDirTest {
protected:
    std::string keys(const std::string& folder, const char* name) {
        return std::string(TEST_DATA_DIR) + "/keys/" + folder + "/" + name;
    }
    // The files of the folder, by name, with their contents; folders are marked.
    std::vector<std::pair<std::string, std::string>> snapshot() {
        std::vector<std::pair<std::string, std::string>> entries;
        const std::string listing = shell_output("cd " + dir_ + " && find . | sort");
        std::istringstream lines(listing);
        for (std::string name; std::getline(lines, name);) {
            struct stat st;
            const std::string full = dir_ + "/" + name;
            std::string contents = "<folder>";
            if (lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                const Bytes data = read_file(full);
                contents.assign(data.begin(), data.end());
            }
            entries.emplace_back(name, contents);
        }
        return entries;
    }
    void check(const BadCase& c) {
        SCOPED_TRACE(c.name);
        shell_output("chmod -R u+rwx " + dir_ + " && rm -rf " + dir_ + "/* " + dir_ + "/.[!.]*");
        // Root reads and writes regardless of permissions: such cases run as the user nobody,
        // who may enter the folder but not write to it.
        const int run_as = c.needs_non_root && geteuid() == 0 ? kNobody : -1;
        chmod(dir_.c_str(), run_as >= 0 ? 0755 : 0700);
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        write_text(path("out.bin"), kSentinel);
        if (c.setup) c.setup(dir_);
        const auto before = snapshot();
        const ToolRun run =
            run_tool(dir_, c.args, c.stdin_data.empty() ? nullptr : &c.stdin_data, run_as);
        EXPECT_EQ(run.status, c.status);
        if (c.match == Match::kWhole) {
            EXPECT_EQ(run.output, c.expected);
        } else {
            ASSERT_GE(run.output.size(), c.expected.size()) << run.output;
            EXPECT_EQ(run.output.substr(run.output.size() - c.expected.size()), c.expected);
        }
        EXPECT_EQ(run.output.find("Save BIN OK"), std::string::npos);
        EXPECT_EQ(snapshot(), before) << "a failed run changed the folder";
    }
    void use_rsa(const std::string& dir, const char* priv, const char* pub) {
        write_file(dir + "/rsa_priv.txt", read_file(keys(priv, "rsa_priv.txt")));
        write_file(dir + "/rsa_pub.txt", read_file(keys(pub, "rsa_pub.txt")));
    }
    static constexpr int kNobody = 65534;
};

Bytes garbage(size_t size, uint32_t seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(seed >> 16);
    }
    return data;
}

TEST_F(BadInput, InputFailures) {
    const std::string big(40000, 'x');
    const BadCase cases[] = {
        {"input is a folder", [](const std::string& d) { mkdir((d + "/dir").c_str(), 0755); },
         {"dir", "out.bin", "229", "0"}, 255, Match::kWhole,
         head("229", "0") + "Can't open 'dir' !\n" + read_failed("229")},
        {"input is missing", nullptr, {"none.bin", "out.bin", "229", "1"}, 255, Match::kWhole,
         head("229", "1") + "Can't open 'none.bin' !\n" + read_failed("229")},
        {"input is unreadable", [](const std::string& d) { chmod((d + "/in.bin").c_str(), 0); },
         {"in.bin", "out.bin", "229", "0"}, 255, Match::kWhole,
         head("229", "0") + "Can't open 'in.bin' !\n" + read_failed("229"), true},
        {"input one byte over the limit",
         [](const std::string& d) { write_file(d + "/big.bin", Bytes(32769, 0)); },
         {"big.bin", "out.bin", "341", "2"}, 255, Match::kWhole,
         head("341", "2") + "Reading 'big.bin'...\n" + oversize("big.bin") + read_failed("341")},
        {"input through a pipe, over the limit", nullptr, {"/dev/stdin", "out.bin", "229", "3"},
         255, Match::kWhole,
         head("229", "3") + "Reading '/dev/stdin'...\n" + oversize("/dev/stdin") + read_failed("229"),
         false, big},
        {"empty input", [](const std::string& d) { write_file(d + "/e.bin", {}); },
         {"e.bin", "out.bin", "173", "0"}, 255, Match::kWhole,
         head("173", "0") + "Reading 'e.bin'...\nfile size = 0\nNot valid boot code!, chip = 173\n"},
        {"empty input in wr-key mode", [](const std::string& d) { write_file(d + "/e.bin", {}); },
         {"e.bin", "out.bin", "173", "3"}, 255, Match::kWhole,
         head("173", "3") + "Reading 'e.bin'...\nfile size = 0\nNot valid wr key code!\n"},
        {"garbage input",
         [](const std::string& d) { write_file(d + "/g.bin", garbage(20000, 1)); },
         {"g.bin", "out.bin", "228", "1"}, 255, Match::kTail,
         "file size = 20000\nNot valid boot code!, chip = 228\n"},
    };
    for (const BadCase& c : cases) check(c);
}

TEST_F(BadInput, OutputFailures) {
    const BadCase cases[] = {
        {"output is a folder", [](const std::string& d) { mkdir((d + "/sub").c_str(), 0755); },
         {"in.bin", "sub", "229", "0"}, 1, Match::kTail,
         "CheckSum: 0x4186\n\nCan't open 'sub' !\nBIN error !\n"},
        {"output in a missing folder", nullptr, {"in.bin", "no/out.bin", "229", "1"}, 1,
         Match::kTail, "\r\nCan't open 'no/out.bin' !\nBIN error !\n"},
        {"output in a read-only folder",
         [](const std::string& d) {
             mkdir((d + "/ro").c_str(), 0755);
             write_text(d + "/ro/out.bin", "kept");
             chmod((d + "/ro").c_str(), 0555);
         },
         {"in.bin", "ro/out.bin", "229", "3"}, 1, Match::kTail,
         "Can't open 'ro/out.bin' !\nBIN error !\n", true},
        {"output is a read-only file",
         [](const std::string& d) { chmod((d + "/out.bin").c_str(), 0444); },
         {"in.bin", "out.bin", "229", "0"}, 1, Match::kTail,
         "Can't open 'out.bin' !\nBIN error !\n", true},
        {"output device is full",
         [](const std::string& d) { ASSERT_TRUE(make_device(d + "/full", 1, 7)); },
         {"in.bin", "full", "229", "1"}, 1, Match::kTail,
         "Writing 'full'...\nfile writing error !\nBIN error !\n"},
    };
    for (const BadCase& c : cases) check(c);
}

// An output that is a key file the run reads is refused before anything is read or written:
// the image would take the place of a key that may be burned into chips already.
TEST_F(BadInput, OutputThatIsAKeyFileOfTheRun) {
    auto aes = [](const std::string& d) {
        write_text(d + "/aes.txt", "000102030405060708090a0b0c0d0e0f\n");
    };
    auto pair = [this, aes](const std::string& d) {
        aes(d);
        use_rsa(d, "pair-high", "pair-high");
    };
    auto refused = [](const std::string& chip, const std::string& mode, const std::string& output,
                      const std::string& role, const std::string& key) {
        return head(chip, mode) + "output error: the output '" + output + "' and the " + role +
               " '" + key + "' are the same file; nothing written\n";
    };
    const BadCase cases[] = {
        {"AES-signed over aes.txt",
         aes,
         {"in.bin", "aes.txt", "229", "1"},
         255,
         Match::kWhole,
         refused("229", "1", "aes.txt", "AES key file", "aes.txt")},
        {"wr-key over aes.txt",
         aes,
         {"in.bin", "./aes.txt", "229", "3"},
         255,
         Match::kWhole,
         refused("229", "3", "./aes.txt", "AES key file", "aes.txt")},
        {"RSA-signed over aes.txt",
         pair,
         {"in.bin", "aes.txt", "341", "2"},
         255,
         Match::kWhole,
         refused("341", "2", "aes.txt", "AES key file", "aes.txt")},
        {"RSA-signed over rsa_priv.txt",
         pair,
         {"in.bin", "rsa_priv.txt", "341", "2"},
         255,
         Match::kWhole,
         refused("341", "2", "rsa_priv.txt", "RSA private key file", "rsa_priv.txt")},
        {"RSA-signed over a link to rsa_pub.txt",
         [pair](const std::string& d) {
             pair(d);
             ASSERT_EQ(symlink("rsa_pub.txt", (d + "/link.bin").c_str()), 0);
         },
         {"in.bin", "link.bin", "341", "2"},
         255,
         Match::kWhole,
         refused("341", "2", "link.bin", "RSA public key file", "rsa_pub.txt")},
        {"AES-signed over a hard link to aes.txt",
         [aes](const std::string& d) {
             aes(d);
             ASSERT_EQ(link((d + "/aes.txt").c_str(), (d + "/key.bin").c_str()), 0);
         },
         {"in.bin", "key.bin", "229", "1"},
         255,
         Match::kWhole,
         refused("229", "1", "key.bin", "AES key file", "aes.txt")},
    };
    for (const BadCase& c : cases) check(c);
}

TEST_F(BadInput, AesKeyFileFailures) {
    struct AesCase {
        const char* name;
        std::function<void(const std::string&)> setup;
    };
    const AesCase cases[] = {
        {"aes.txt is a folder", [](const std::string& d) { mkdir((d + "/aes.txt").c_str(), 0755); }},
        {"aes.txt is empty", [](const std::string& d) { write_text(d + "/aes.txt", ""); }},
        {"aes.txt is binary garbage",
         [](const std::string& d) { write_file(d + "/aes.txt", garbage(4096, 2)); }},
        {"aes.txt is one megabyte of digits",
         [](const std::string& d) { write_text(d + "/aes.txt", std::string(1 << 20, 'a')); }},
        {"aes.txt has only comments",
         [](const std::string& d) { write_text(d + "/aes.txt", "#a\n#b\n#c\n"); }},
        {"aes.txt key has a NUL byte", [](const std::string& d) {
             write_text(d + "/aes.txt", std::string("2b7e151628aed2a6\0bf7158809cf4f3c", 32));
         }},
    };
    for (const AesCase& a : cases) {
        for (const char* mode : {"1", "3"}) {
            const std::string name = std::string(a.name) + ", mode " + mode;
            check({name.c_str(), a.setup, {"in.bin", "out.bin", "229", mode}, 255, Match::kTail,
                   kBadAes});
        }
    }
}

// An aes.txt that is there but cannot be opened stops the run: only a missing one means the
// public default key.
TEST_F(BadInput, AesKeyFileThatCannotBeOpenedIsNotTakenForAMissingOne) {
    const auto cannot_open = [](const char* reason) {
        return std::string(" failed\n  ! Can't open aes.txt: ") + reason +
               "\n  ! Please check aes.txt\n\n";
    };
    for (const char* mode : {"1", "3"}) {
        const BadCase cases[] = {
            {"aes.txt is unreadable",
             [](const std::string& d) {
                 write_text(d + "/aes.txt", "000102030405060708090a0b0c0d0e0f\n");
                 chmod((d + "/aes.txt").c_str(), 0);
             },
             {"in.bin", "out.bin", "229", mode}, 255, Match::kTail,
             cannot_open("Permission denied"), true},
            {"aes.txt is a link to nothing",
             [](const std::string& d) { ASSERT_EQ(symlink("gone.txt", (d + "/aes.txt").c_str()), 0); },
             {"in.bin", "out.bin", "227", mode}, 255, Match::kTail,
             cannot_open("No such file or directory")},
        };
        for (const BadCase& c : cases) check(c);
    }
}

TEST_F(BadInput, RsaKeyFileFailures) {
    const std::string line_2481 = "N = " + std::string(2476, 'F') + "\n";  // 2481 with its LF
    const std::string line_2482 = "N = " + std::string(2477, 'F') + "\n";
    auto with = [this](const char* priv, const char* pub, std::function<void(const std::string&)> more) {
        return [this, priv, pub, more](const std::string& d) {
            use_rsa(d, priv, pub);
            if (more) more(d);
        };
    };
    const std::string args_341[] = {"in.bin", "out.bin", "341", "2"};
    const std::vector<std::string> args(std::begin(args_341), std::end(args_341));
    const std::string pub_missing =
        " failed\n  ! Could not open rsa_pub.txt\n  ! Please run rsa_genkey first\n\n";
    const BadCase cases[] = {
        {"rsa_priv.txt is a folder",
         [](const std::string& d) { mkdir((d + "/rsa_priv.txt").c_str(), 0755); }, args, 255,
         Match::kTail, "WIN32 system !!\r\n" + mpi_error(-2)},
        {"rsa_pub.txt is a folder",
         with("pair-high", "pair-high",
              [](const std::string& d) {
                  unlink((d + "/rsa_pub.txt").c_str());
                  mkdir((d + "/rsa_pub.txt").c_str(), 0755);
              }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + mpi_error(-2)},
        {"rsa_pub.txt is missing",
         with("pair-high", "pair-high",
              [](const std::string& d) { unlink((d + "/rsa_pub.txt").c_str()); }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + pub_missing},
        {"rsa_priv.txt is empty",
         with("pair-high", "pair-high",
              [](const std::string& d) { write_text(d + "/rsa_priv.txt", ""); }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + mpi_error(-2)},
        {"rsa_pub.txt is empty",
         with("pair-high", "pair-high",
              [](const std::string& d) { write_text(d + "/rsa_pub.txt", ""); }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + mpi_error(-2)},
        {"rsa_priv.txt is binary garbage",
         with("pair-high", "pair-high",
              [](const std::string& d) { write_file(d + "/rsa_priv.txt", garbage(3000, 3)); }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + key_length(0)},
        {"rsa_pub.txt is binary garbage",
         with("pair-high", "pair-high",
              [](const std::string& d) { write_file(d + "/rsa_pub.txt", garbage(3000, 4)); }),
         args, 255, Match::kTail,
         "WIN32 system !!\r\n failed\n  ! rsa_priv.txt and rsa_pub.txt do not belong together: the"
         " signature does not verify with the public key\n\n"},
        {"rsa_priv.txt with a 2481-character line",
         with("pair-high", "pair-high",
              [&](const std::string& d) {
                  write_text(d + "/rsa_priv.txt", line_2481 + "1\n1\n1\n1\n1\n1\n");
              }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + key_length(2476 * 4)},
        {"rsa_priv.txt with a 2482-character line",
         with("pair-high", "pair-high",
              [&](const std::string& d) { write_text(d + "/rsa_priv.txt", line_2482); }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + mpi_error(-8)},
        {"rsa_pub.txt with a 2482-character line",
         with("pair-high", "pair-high",
              [&](const std::string& d) { write_text(d + "/rsa_pub.txt", line_2482 + "E = 3\n"); }),
         args, 255, Match::kTail, "WIN32 system !!\r\n" + mpi_error(-8)},
        {"rsa_pub.txt with a 2481-character modulus",
         with("pair-high", "pair-high",
              [&](const std::string& d) { write_text(d + "/rsa_pub.txt", line_2481 + "E = 3\n"); }),
         args, 255, Match::kTail,
         " failed\n  ! rsa_pub.txt holds a value too large for the header (N at most 128 bytes, E"
         " at most 32 bytes)\n\n"},
    };
    for (const BadCase& c : cases) check(c);
}

// Values of every length up to the line limit, straight through key loading and signing.
class RsaValueSizes : public InTempDirTest {
protected:
    void SetUp() override {
        InTempDirTest::SetUp();
        const Bytes priv = read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_priv.txt");
        priv_.assign(priv.begin(), priv.end());
        const Bytes pub = read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/rsa_pub.txt");
        pub_.assign(pub.begin(), pub.end());
    }
    int sign(std::string* out) {
        uint8_t digest[32] = {0};
        digest[31] = 0x42;
        int result = 1;
        *out = capture_stdout([&] { result = sign_header_rsa(digest); });
        return result;
    }
    std::string priv_, pub_;
};

TEST_F(RsaValueSizes, EveryModulusAndExponentLengthFailsCleanlyOrSigns) {
    const size_t first_line = priv_.find('\n') + 1;
    const std::string rest = priv_.substr(first_line);
    write_text("rsa_pub.txt", pub_);
    for (size_t digits = 0; digits <= 2477; digits += (digits < 300 ? 1 : 37)) {
        SCOPED_TRACE(digits);
        write_text("rsa_priv.txt", "N = " + std::string(digits, 'F') + "\n" + rest);
        std::string out;
        const int result = sign(&out);
        // Only a 128-byte modulus is used, and this digest is below it only at 1024 bits; the CRT
        // values decide the signature, which then verifies against rsa_pub.txt.
        const bool usable = digits == 256;
        EXPECT_EQ(result, usable ? 0 : -1) << out;
        if (!usable) {
            EXPECT_EQ(out.rfind(" failed\n  ! ", 0), 0u) << out;
        }
    }
    write_text("rsa_priv.txt", priv_);
    const std::string n_line = pub_.substr(0, pub_.find('\n') + 1);
    for (size_t digits = 0; digits <= 2476; digits += (digits < 80 ? 1 : 53)) {
        SCOPED_TRACE(digits);
        write_text("rsa_pub.txt", n_line + "E = " + std::string(digits, '1') + "\n");
        std::string out;
        EXPECT_EQ(sign(&out), -1);
        const std::string reason = digits == 0   ? "its public exponent is not positive"
                                   : digits == 1 ? "its public exponent is 1, which makes"
                                   : digits > 64 ? "too large for the header"
                                                 : "do not belong together";
        EXPECT_NE(out.find(reason), std::string::npos) << out;
    }
}

struct ArgCase {
    std::vector<std::string> args;
    std::string lines;  // chip and secure boot lines
    int status;
};

TEST_F(BadInput, NumbersFollowAtoiRules) {
    // Layout A needs a chip of that layout; the others fail at the boot tag of layout B.
    const std::string fail_b = "Not valid boot code!, chip = ";
    const ArgCase cases[] = {
        {{"in.bin", "out.bin", "", ""}, "chip version [VX300]\nsecure boot: 0\n", 255},
        {{"in.bin", "out.bin", "+", "-"}, "chip version [VX300]\nsecure boot: 0\n", 255},
        {{"in.bin", "out.bin", "chip", "mode"}, "chip version [VX300]\nsecure boot: 0\n", 255},
        {{"in.bin", "out.bin", " \t229", "+0"}, "chip version [VX30229]\nsecure boot: 0\n", 0},
        {{"in.bin", "out.bin", "229abc", "0x3"}, "chip version [VX30229]\nsecure boot: 0\n", 0},
        {{"in.bin", "out.bin", "99999999999999999999", "0"},
         "chip version [VX30-1]\nsecure boot: 0\n", 255},
        {{"in.bin", "out.bin", "-2147483649", "0"},
         "chip version [VX302147483647]\nsecure boot: 0\n", 255},
        {{"in.bin", "out.bin", "229", "4294967296"}, "chip version [VX30229]\nsecure boot: 0\n", 0},
        {{"in.bin", "out.bin", "229", "4294967299"}, "chip version [VX30229]\nsecure boot: 3\n", 0},
    };
    for (const ArgCase& c : cases) {
        SCOPED_TRACE(c.args[2] + " " + c.args[3]);
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        unlink(path("out.bin").c_str());
        const ToolRun run = run_tool(dir_, c.args);
        EXPECT_EQ(run.status, c.status);
        const std::string expected_head = std::string(kBanner) + c.lines + "Reading 'in.bin'...\n";
        EXPECT_EQ(run.output.substr(0, expected_head.size()), expected_head);
        EXPECT_EQ(file_exists(path("out.bin")), c.status == 0);
        if (c.status != 0) {
            EXPECT_NE(run.output.find(fail_b), std::string::npos);
        }
    }
}

// Text keys that bootseal reads otherwise than their writer meant: bootseal's transcript stays
// what it always was (a byte-order mark is named on standard error only), while every
// companion refuses the same files, naming the file, the line and what is wrong.
TEST_F(BadInput, TextKeysBootsealTakesAsAlwaysAreNamedByTheCompanions) {
    const std::string pub = keys("pair-high", "rsa_pub.txt");
    const Bytes priv_bytes = read_file(keys("pair-high", "rsa_priv.txt"));
    const std::string priv(priv_bytes.begin(), priv_bytes.end());
    const std::string aes = "000102030405060708090a0b0c0d0e0f\n";
    struct TextKeyCase {
        const char* name;
        std::string aes, priv, pub;  // the files as written
        const char* mode;
        int status;           // bootseal's
        std::string tail;     // of bootseal's standard output
        std::string stderr_;  // in bootseal's standard error, or "" for none
        std::string refusal;  // in bootseal-sign's standard error, bootseal-verify's output
    };
    const std::string shell = "sed 's/$/ /' ";
    const std::string blank_pub = shell_output(shell + pub);
    const std::string blank_priv =
        shell_output("sed 's/$/\\t/' " + keys("pair-high", "rsa_priv.txt"));
    std::string bad_d = priv;
    bad_d[priv.find("\nD = ") + 30] = '#';
    const TextKeyCase cases[] = {
        {"aes.txt with a byte-order mark", "\xEF\xBB\xBF" + aes, priv, "", "1", 255, kBadAes,
         "bootseal: 'aes.txt' starts with a UTF-8 byte-order mark",
         "'aes.txt' starts with a UTF-8 byte-order mark (the bytes EF BB BF that Notepad writes)"},
        {"aes.txt with a byte-order mark and CR LF", "\xEF\xBB\xBF# key\r\n" + aes, priv, "", "3",
         255, kBadAes, "byte-order mark", "byte-order mark"},
        {"rsa_priv.txt lines ending in tabs", aes, blank_priv, shell_output("cat " + pub), "2", 255,
         "WIN32 system !!\r\n" + key_length(0), "",
         "'rsa_priv.txt' line 1 (N): blanks follow its value, so bootseal reads no digits there"},
        {"rsa_pub.txt lines ending in blanks", aes, priv, blank_pub, "2", 255,
         "WIN32 system !!\r\n failed\n  ! rsa_pub.txt: its public exponent is not positive\n\n", "",
         "'rsa_pub.txt' line 1 (N): blanks follow its value"},
        {"rsa_priv.txt with a stray character in D", aes, bad_d, shell_output("cat " + pub), "2", 0,
         "All OK.\n", "",
         "'rsa_priv.txt' line 2 (D): a character that is not a hexadecimal digit stands among its "
         "digits"},
    };
    for (const TextKeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        shell_output("rm -rf " + dir_ + "/*");
        write_file(path("in.bin"), read_file(SAMPLE_LOADER));
        const char* chip = std::string(c.mode) == "2" ? "341" : "229";
        // An image made with sound keys, for bootseal-verify to check with the broken ones.
        write_text(path("aes.txt"), aes);
        write_text(path("rsa_priv.txt"), priv);
        write_text(path("rsa_pub.txt"), shell_output("cat " + pub));
        ASSERT_EQ(run_tool(dir_, {"in.bin", "image.bin", chip, c.mode}).status, 0);
        write_text(path("aes.txt"), c.aes);
        write_text(path("rsa_priv.txt"), c.priv);
        write_text(path("rsa_pub.txt"), c.pub.empty() ? shell_output("cat " + pub) : c.pub);
        shell_output("chmod 600 " + dir_ + "/*");
        const ToolRun run = run_tool(dir_, {"in.bin", "out.bin", chip, c.mode});
        EXPECT_EQ(run.status, c.status);
        ASSERT_GE(run.output.size(), c.tail.size()) << run.output;
        EXPECT_EQ(run.output.substr(run.output.size() - c.tail.size()), c.tail);
        if (c.stderr_.empty()) {
            EXPECT_EQ(run.errors, "");
        } else {
            EXPECT_NE(run.errors.find(c.stderr_), std::string::npos) << run.errors;
        }
        std::vector<std::string> sign = {"--chip", chip,        "--secure",
                                         c.mode,   "--aes-key", "aes.txt"};
        if (std::string(c.mode) == "2") {
            sign.insert(sign.end(), {"--rsa-key", "rsa_priv.txt", "--rsa-pub", "rsa_pub.txt"});
        }
        sign.insert(sign.end(), {"in.bin", "signed.bin"});
        const ToolRun signed_run = run_program(SIGN_EXE, dir_, sign);
        EXPECT_EQ(signed_run.status, 1);
        EXPECT_NE(signed_run.errors.find(c.refusal), std::string::npos) << signed_run.errors;
        EXPECT_FALSE(file_exists(path("signed.bin")));
        // Nothing of a value is shown: no eight of its digits in a row.
        for (size_t at = priv.find(" = "); at != std::string::npos; at = priv.find(" = ", at + 1)) {
            const std::string digits = priv.substr(at + 3, priv.find('\n', at) - at - 3);
            for (size_t i = 0; i + 8 <= digits.size(); i += 4) {
                EXPECT_EQ(signed_run.errors.find(digits.substr(i, 8)), std::string::npos);
            }
        }
        // bootseal-verify reads the AES key and the public key with the same reader.
        if (c.aes != aes || c.pub == blank_pub) {
            const ToolRun checked =
                run_program(VERIFY_EXE, dir_,
                            {"--chip", chip, "--secure", c.mode, "--aes-key", "aes.txt",
                             "--rsa-pub", "rsa_pub.txt", "image.bin"});
            EXPECT_NE(checked.output.find(c.refusal), std::string::npos) << checked.output;
        }
    }
}

}  // namespace
