// SPDX-License-Identifier: Apache-2.0
// The constant-time key reader against the dependency's readers it replaced: every text line
// and every private key must give the values (or the refusal) the dependency gave.
#include "keys/key_reader.hpp"

#include <gtest/gtest.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <mbedtls/version.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "keys/read_key.hpp"
#include "tests/test_support.hpp"

namespace {

using Value = std::vector<unsigned char>;

Value value_bytes(const mbedtls_mpi& x) {
    Value bytes(mbedtls_mpi_size(&x));
    mbedtls_mpi_write_binary(&x, bytes.data(), bytes.size());
    return bytes;
}

std::vector<Value> key_values(const RsaKeyContext& key) {
    std::vector<Value> values;
    for (const mbedtls_mpi* x :
         {&key.N, &key.E, &key.D, &key.P, &key.Q, &key.DP, &key.DQ, &key.QP}) {
        values.push_back(value_bytes(*x));
    }
    return values;
}

#if MBEDTLS_VERSION_MAJOR >= 3
// The parser's generator since 3.0; an RSA key does not use it.
int fixed_random(void*, unsigned char* out, size_t size) {
    std::fill(out, out + size, 0x5A);
    return 0;
}
#endif

// The dependency's verdict on a private key file: 0 and the values, or its error.
int dependency_parse(const Bytes& file, std::vector<Value>* values) {
    // PEM is parsed from its armour line with the terminating NUL, DER whole without it.
    const std::string text(file.begin(), file.end());
    const size_t armour = text.find("-----BEGIN");
    Bytes data(file.begin() + (armour == std::string::npos ? 0 : long(armour)), file.end());
    const size_t size = armour == std::string::npos ? data.size() : data.size() + 1;
    data.push_back(0);
    mbedtls_pk_context pk;
    mbedtls_pk_init(&pk);
    int result = mbedtls_pk_parse_key(&pk, data.data(), size, nullptr, 0
#if MBEDTLS_VERSION_MAJOR >= 3
                                      ,
                                      fixed_random, nullptr
#endif
    );
    if (result == 0 && mbedtls_pk_get_type(&pk) != MBEDTLS_PK_RSA) result = -1;
    if (result == 0) {
        RsaKeyContext key;
        rsa_key_init(&key);
        mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk);
        mbedtls_rsa_export(rsa, &key.N, &key.P, &key.Q, &key.D, &key.E);
        mbedtls_rsa_export_crt(rsa, &key.DP, &key.DQ, &key.QP);
        *values = key_values(key);
        rsa_key_free(&key);
    }
    mbedtls_pk_free(&pk);
    return result;
}

// This module's verdict on the same bytes.
int reader_parse(const Bytes& file, std::vector<Value>* values) {
    static KeyFileBytes bytes;
    static unsigned char work[kMaxKeyFileSize];
    std::copy(file.begin(), file.end(), bytes.data);
    bytes.size = file.size();
    bytes.data[bytes.size] = 0;
    RsaKeyContext key;
    rsa_key_init(&key);
    const int result = read_plain_private_key(bytes, work, &key);
    if (result == 0) *values = key_values(key);
    rsa_key_free(&key);
    return result;
}

class KeyReader : public TempDirTest {};

TEST_F(KeyReader, TextLinesReadAsTheDependencyReadsThem) {
    const std::string room(2480, 'c');
    const std::string texts[] = {"N = 0A1b\nE = 10001\nX = 3\n",
                                 "N = abc\nD = 000000fF\nP = aBcDeF\n",
                                 "N = FF\r\nD=\r\r\nP = F\rF\n",
                                 "N = 7 \nE = -5\n0x1F",
                                 "\n\n\n",
                                 "",
                                 "N = 1\nE = 2\n",
                                 "\xff\x80 = 12\n\t9\n-0\n",
                                 std::string("N = AB\0CD\nE = 1\nX=2\n", 20),
                                 std::string("AB\0", 3) + std::string(3000, 'C') + "\n1\n",
                                 room + "\n1\n2\n",
                                 room + "d\n",
                                 room + "dd",
                                 std::string(3000, '9') + "\n",
                                 "1\n" + room + "de\n",
                                 "N = 1\r\r\n2\n\r\n"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        write_text(path("key.txt"), text);
        mbedtls_mpi ours[3], theirs[3];
        mbedtls_mpi* const our_values[] = {&ours[0], &ours[1], &ours[2]};
        for (size_t i = 0; i < 3; ++i) {
            mbedtls_mpi_init(&ours[i]);
            mbedtls_mpi_init(&theirs[i]);
        }
        const int our_result = read_rsa_file(path("key.txt").c_str(), our_values, 3, 1);
        FILE* file = fopen(path("key.txt").c_str(), "rb");
        int their_result = 0;
        for (size_t i = 0; i < 3 && their_result == 0; ++i) {
            their_result = mbedtls_mpi_read_file(&theirs[i], 16, file);
        }
        fclose(file);
        EXPECT_EQ(our_result, their_result);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(mbedtls_mpi_cmp_mpi(&ours[i], &theirs[i]), 0) << "value " << i;
            mbedtls_mpi_free(&ours[i]);
            mbedtls_mpi_free(&theirs[i]);
        }
    }
}

TEST_F(KeyReader, PrivateKeysInEveryFormReadAsTheDependencyReadsThem) {
    std::vector<std::string> files;
    for (const char* folder :
         {"pair-a", "pair-b", "pair-high", "short-1017", "small-512", "long-2048"}) {
        const std::string pem = std::string(TEST_DATA_DIR) + "/keys/" + folder + "/private.pem";
        const std::string base = path(folder);
        // PKCS#1 and PKCS#8, PEM and DER, as openssl writes them.
        shell_output("openssl rsa -in " + pem + " -traditional -out " + base + ".1.pem 2>&1 && " +
                     "openssl rsa -in " + pem + " -traditional -outform DER -out " + base +
                     ".1.der 2>&1 && openssl pkcs8 -topk8 -nocrypt -in " + pem + " -out " + base +
                     ".8.pem && openssl pkcs8 -topk8 -nocrypt -in " + pem + " -outform DER -out " +
                     base + ".8.der");
        for (const char* form : {".1.pem", ".1.der", ".8.pem", ".8.der"})
            files.push_back(base + form);
    }
    files.push_back(std::string(TEST_DATA_DIR) + "/keys/pair-high/private.der");
    // Text before the armour and CR LF line ends.
    const Bytes pem = read_file(path("pair-a.8.pem"));
    std::string crlf = "a note first\n";
    for (uint8_t c : pem) crlf += c == '\n' ? std::string("\r\n") : std::string(1, char(c));
    write_text(path("crlf.pem"), crlf);
    files.push_back(path("crlf.pem"));
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::vector<Value> ours, theirs;
        ASSERT_EQ(dependency_parse(read_file(file), &theirs), 0);
        ASSERT_EQ(reader_parse(read_file(file), &ours), 0);
        EXPECT_EQ(ours, theirs);
    }
}

// DER of a tag and contents.
Value tlv(unsigned char tag, const Value& contents) {
    Value out = {tag};
    const size_t n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        out.insert(out.end(),
                   {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

// The contents of a DER INTEGER for a value: a sign byte before a set top bit.
Value integer_contents(Value v) {
    if (v.empty() || (v[0] & 0x80) != 0) v.insert(v.begin(), 0);
    return v;
}

TEST_F(KeyReader, DamagedAndInconsistentKeysAreJudgedAsTheDependencyJudgesThem) {
    std::vector<Value> good;
    ASSERT_EQ(dependency_parse(
                  read_file(std::string(TEST_DATA_DIR) + "/keys/pair-high/private.pem"), &good),
              0);
    for (Value& x : good) x = integer_contents(x);
    // The INTEGER contents in file order: N, E, D, P, Q, DP, DQ, QP; then what follows QP.
    using Change = std::function<void(std::vector<Value> & v, Value & version, Value & tail)>;
    struct Case {
        const char* name;
        Change change;
        bool refused;
        bool as_dependency = true;  // the dependency's parser (2.28 here) gives the same verdict
    };
    const Case cases[] = {
        {"as it is", [](auto&, auto&, auto&) {}, false},
        {"leading zero bytes in every value",
         [](auto& v, auto&, auto&) {
             for (Value& x : v) x.insert(x.begin(), 3, 0);
         },
         false},
        {"P's top bit set without a sign byte",
         [](auto& v, auto&, auto&) { v[3].erase(v[3].begin()); }, false},
        {"N even", [](auto& v, auto&, auto&) { v[0].back() &= 0xFE; }, true},
        {"E zero", [](auto& v, auto&, auto&) { v[1] = {0}; }, true},
        {"D empty", [](auto& v, auto&, auto&) { v[2] = {}; }, true},
        {"P even", [](auto& v, auto&, auto&) { v[3].back() &= 0xFE; }, true},
        {"Q zero", [](auto& v, auto&, auto&) { v[4] = Value(64, 0); }, true},
        {"DP zero", [](auto& v, auto&, auto&) { v[5] = {0}; }, true, false},
        {"QP zero", [](auto& v, auto&, auto&) { v[7] = {0}; }, true},
        {"E even", [](auto& v, auto&, auto&) { v[1].back() &= 0xFE; }, true},
        {"E one", [](auto& v, auto&, auto&) { v[1] = {1}; }, true},
        {"E above N",
         [](auto& v, auto&, auto&) {
             v[1] = v[0];
             v[1].insert(v[1].begin(), 1);
         },
         true},
        // Values that do not belong together are the signer's to refuse (P Q must be N, the
        // result must pass its check with E or D); the dependency's parser did not look either,
        // and a later release may.
        {"D not matching", [](auto& v, auto&, auto&) { v[2].back() ^= 0x10; }, false, false},
        {"P not a factor of N", [](auto& v, auto&, auto&) { v[3].back() ^= 0x10; }, false, false},
        {"version 1", [](auto&, auto& version, auto&) { version = {1}; }, true},
        {"an integer after QP", [](auto&, auto&, auto& tail) { tail = tlv(0x02, {1}); }, true},
        {"QP missing", [](auto& v, auto&, auto&) { v.pop_back(); }, true},
    };
    for (const Case& c : cases) {
        for (bool pkcs8 : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (pkcs8 ? " in PKCS#8" : " in PKCS#1"));
            std::vector<Value> values = good;
            Value version = {0}, tail;
            c.change(values, version, tail);
            Value body = tlv(0x02, version);
            for (const Value& x : values) {
                const Value field = tlv(0x02, x);
                body.insert(body.end(), field.begin(), field.end());
            }
            body.insert(body.end(), tail.begin(), tail.end());
            Value der = tlv(0x30, body);
            if (pkcs8) {
                Value info = tlv(0x02, {0});
                const Value algorithm = tlv(0x30, {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                                                   0x01, 0x01, 0x01, 0x05, 0x00});
                const Value key = tlv(0x04, der);
                info.insert(info.end(), algorithm.begin(), algorithm.end());
                info.insert(info.end(), key.begin(), key.end());
                der = tlv(0x30, info);
            }
            std::vector<Value> ours, theirs;
            const int our_result = reader_parse(Bytes(der.begin(), der.end()), &ours);
            const int their_result = dependency_parse(Bytes(der.begin(), der.end()), &theirs);
            EXPECT_EQ(our_result != 0, c.refused);
            if (c.as_dependency) {
                EXPECT_EQ(our_result != 0, their_result != 0);
            }
            if (our_result == 0 && their_result == 0) {
                EXPECT_EQ(ours, theirs);
            }
        }
    }
}

// The one door every key comes in through: each form is told from the file's bytes, and each
// caller's forms decide what is read, what is refused and how a refusal is given.
TEST_F(KeyReader, EveryFormIsToldOnceAndReadByItsReader) {
    const std::string pair = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    shell_output("cd " + dir_ + " && cp " + pair +
                 "* . && openssl rsa -in private.pem -outform "
                 "DER -pubout -out public.der 2>/dev/null && echo junk > junk.txt");
    std::vector<Value> expected;  // N, E, D ... as the dependency reads them
    ASSERT_EQ(dependency_parse(read_file(path("private.pem")), &expected), 0);
    struct Case {
        const char* file;
        KeyHalf half;
        KeyForms forms;
        int result;
        KeyFileFormat format;
        const char* why;  // a part of the reason, or "" when none is given
    };
    const KeyHalf kPriv = KeyHalf::kPrivate, kPub = KeyHalf::kPublic;
    const KeyFileFormat kText = KeyFileFormat::kText, kPem = KeyFileFormat::kPem,
                        kDer = KeyFileFormat::kDer;
    const Case cases[] = {
        {"rsa_priv.txt", kPriv, KeyForms::kText, 0, kText, ""},
        {"rsa_priv.txt", kPriv, KeyForms::kAny, 0, kText, ""},
        {"rsa_pub.txt", kPub, KeyForms::kAny, 0, kText, ""},
        {"private.pem", kPriv, KeyForms::kAny, 0, kPem, ""},
        {"private.der", kPriv, KeyForms::kAny, 0, kDer, ""},
        {"private.pem", kPriv, KeyForms::kPemOrDer, 0, kPem, ""},
        {"public.pem", kPub, KeyForms::kAny, 0, kPem, ""},
        {"public.der", kPub, KeyForms::kAny, 0, kDer, ""},
        {"private.pem", kPub, KeyForms::kAny, -1, kPem, "holds a private key"},
        // bootseal's own files are text lines, whatever they hold: no PEM reader is asked.
        {"private.pem", kPriv, KeyForms::kText, 0, kText, ""},
        {"public.der", kPub, KeyForms::kText, -1, kText, ""},
        {"junk.txt", kPriv, KeyForms::kAny, -1, kText, "junk.txt"},
        {"public.pem", kPriv, KeyForms::kAny, -1, kPem, "public.pem"},
        {"rsa_priv.txt", kPriv, KeyForms::kPemOrDer, -1, kText, "is not a PEM or DER key"},
        {"missing", kPriv, KeyForms::kAny, kRsaFileMissing, kText, ""},
        {"missing", kPriv, KeyForms::kPemOrDer, -1, kText, "missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(static_cast<int>(c.half)) + " " +
                     std::to_string(static_cast<int>(c.forms)));
        RsaKeyContext key;
        rsa_key_init(&key);
        KeyReading reading;
        EXPECT_EQ(read_rsa_key(path(c.file).c_str(), c.half, c.forms, &key, &reading), c.result);
        EXPECT_EQ(reading.format, c.format);
        EXPECT_NE(reading.why.find(c.why), std::string::npos) << reading.why;
        if (c.why[0] == '\0') {
            EXPECT_EQ(reading.why, "");
        }
        if (c.forms == KeyForms::kText && c.result != 0) {
            EXPECT_NE(reading.text_code, 0);
        }
        const bool pem_as_text = c.forms == KeyForms::kText && c.file[0] != 'r';
        if (pem_as_text && c.result == 0) {
            EXPECT_NE(value_bytes(key.N), expected[0]);
        }
        if (c.result == 0 && !pem_as_text) {
            EXPECT_EQ(value_bytes(key.N), expected[0]);
            EXPECT_EQ(c.half == kPriv ? value_bytes(key.D) : value_bytes(key.E),
                      c.half == kPriv ? expected[2] : expected[1]);
        }
        rsa_key_free(&key);
    }
}

// The text lines that bootseal reads otherwise than their writer meant: the values stay the
// dependency's, bootseal's, and the first such line is named, with what is wrong with it.
TEST_F(KeyReader, TextLinesReadOtherwiseThanMeantAreNamed) {
    struct FaultCase {
        std::string text;
        size_t line;       // 0: none
        const char* what;  // the start of the fault's text
    };
    const FaultCase cases[] = {
        {"N = 0A1b\nE = 10001\nX = 3\n", 0, ""},
        {"N = 0A1b\r\nE=10001\r\n  3\n", 0, ""},
        {"N =\t0A1b\nE =  10001\n3", 0, ""},
        {"N = 0A1b \nE = 10001\nX = 3\n", 1, "blanks follow its value"},
        {"N = 0A1b\nE = 10001\t\r\nX = 3\n", 2, "blanks follow its value"},
        {"N = 0A1b\nE = 10001\nX = 3  ", 3, "blanks follow its value"},
        {"N = 0A#1b\nE = 10001\nX = 3\n", 1, "a character that is not a hexadecimal digit"},
        {"N = 0A1b\nE = 0x10001\nX = 3\n", 2, "a character that is not a hexadecimal digit"},
        {"N = 0A1b\nE = 10g01\nX = 3\n", 2, "a character that is not a hexadecimal digit"},
        {"N = 0A 1b\nE = 10001\nX = 3\n", 1, "blanks stand among its digits"},
        {"N = 0A1b\nE = -5\nX = 3\n", 2, "a character that is not a hexadecimal digit"},
        {"N = 0A1b\nE =\nX = 3\n", 2, "it ends in no hexadecimal digits"},
        {"N = 0A1b\n\nX = 3\n", 2, "it ends in no hexadecimal digits"},
        {"N = 0A1b\nE = 1\r\r\nX = 3\n", 2, "it ends in no hexadecimal digits"},
        {std::string("N = AB\0CD\nE = 1\nX=2\n", 20), 1, "it holds a NUL byte"},
        // Only the lines read are judged.
        {"N = 1\nE = 2\nX = 3\nbroken line \n", 0, ""},
        {"N = 1 \nE = 2 \nX = 3 \n", 1, "blanks follow its value"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.text);
        static KeyFileBytes file;
        std::copy(c.text.begin(), c.text.end(), file.data);
        file.size = c.text.size();
        file.data[file.size] = 0;
        write_text(path("key.txt"), c.text);
        mbedtls_mpi ours[3], theirs[3];
        mbedtls_mpi* const our_values[] = {&ours[0], &ours[1], &ours[2]};
        for (size_t i = 0; i < 3; ++i) {
            mbedtls_mpi_init(&ours[i]);
            mbedtls_mpi_init(&theirs[i]);
        }
        TextLineFault fault;
        EXPECT_EQ(read_text_values(file, our_values, 3, 1, &fault), 0);
        FILE* text = fopen(path("key.txt").c_str(), "rb");
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(mbedtls_mpi_read_file(&theirs[i], 16, text), 0);
        fclose(text);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(mbedtls_mpi_cmp_mpi(&ours[i], &theirs[i]), 0) << "value " << i;
            mbedtls_mpi_free(&ours[i]);
            mbedtls_mpi_free(&theirs[i]);
        }
        EXPECT_EQ(fault.line, c.line);
        EXPECT_EQ(std::string(fault.what != nullptr ? fault.what : "").rfind(c.what, 0), 0u)
            << (fault.what != nullptr ? fault.what : "no fault");
    }
}

}  // namespace
