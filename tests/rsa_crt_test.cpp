// SPDX-License-Identifier: Apache-2.0
// What a signing leaves behind: no limb of the private key, nor of the values that give it away
// (R mod p and q, R^2 mod p and q), nor a piece of the key file's text, anywhere in the writable
// memory of the process (the stack below the caller, the program's data, the heap).
#define MBEDTLS_ALLOW_PRIVATE_ACCESS
#include <fcntl.h>
#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "seal/rsa_signing.hpp"
#include "test_support.hpp"

#ifndef MBEDTLS_PRIVATE
#define MBEDTLS_PRIVATE(member) member  // the 2.x structures are public
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the sanitizer keeps memory of its own
#else
constexpr bool kSanitized = false;
#endif

// The patterns, and the writable mappings to search, live in a mapping of their own, which the
// scan leaves out; the mappings are listed before a signing so that the scan right after it
// runs no deep call that would overwrite what a signing left on the stack.
struct Patterns {
    size_t count;
    size_t length[256];
    uint8_t bytes[256][16];
    size_t ranges;
    uintptr_t from[128], to[128];
    size_t kept;                  // the live key's own values, which the scan passes over
    uintptr_t kept_from[8], kept_to[8];
};

// Whether at lies in one of the live key's values.
bool is_kept(const Patterns* p, const uint8_t* at) {
    for (size_t k = 0; k < p->kept; ++k) {
        if (p->kept_from[k] <= reinterpret_cast<uintptr_t>(at) &&
            reinterpret_cast<uintptr_t>(at) < p->kept_to[k]) {
            return true;
        }
    }
    return false;
}

// Copies a file in the kernel, so that no copy of a key passes through this process.
void copy_quietly(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY);
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    struct stat st;
    ASSERT_TRUE(in >= 0 && out >= 0 && fstat(in, &st) == 0);
    ASSERT_EQ(sendfile(out, in, nullptr, static_cast<size_t>(st.st_size)), st.st_size);
    close(in);
    close(out);
}

void add_limbs(Patterns* p, const mbedtls_mpi* value) {
    uint8_t* le = p->bytes[p->count];  // scratch inside the mapping
    uint8_t buffer[128];
    ASSERT_EQ(mbedtls_mpi_write_binary_le(value, buffer, sizeof(buffer)), 0);
    for (size_t at = 0; at + 8 <= sizeof(buffer); at += 8) {
        if (p->count == 256) return;
        le = p->bytes[p->count];
        memcpy(le, buffer + at, 8);
        uint64_t limb;
        memcpy(&limb, le, 8);
        if (limb != 0) p->length[p->count++] = 8;
    }
    mbedtls_platform_zeroize(buffer, sizeof(buffer));
}

void add_text(Patterns* p, const mbedtls_mpi* value) {
    char text[600];
    size_t length = 0;
    ASSERT_EQ(mbedtls_mpi_write_string(value, 16, text, sizeof(text), &length), 0);
    for (size_t at = 0; at + 16 < length && p->count < 256; at += 40) {
        memcpy(p->bytes[p->count], text + at, 16);
        p->length[p->count++] = 16;
    }
    mbedtls_platform_zeroize(text, sizeof(text));
}

// Lists every writable mapping but the patterns' own.
void list_mappings(Patterns* p) {
    p->ranges = 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    char line[512];
    while (fgets(line, sizeof(line), maps) != nullptr && p->ranges < 128) {
        unsigned long start, end;
        char perms[8];
        if (sscanf(line, "%lx-%lx %7s", &start, &end, perms) != 3 || perms[0] != 'r' ||
            perms[1] != 'w' || (start <= reinterpret_cast<uintptr_t>(p) && reinterpret_cast<uintptr_t>(p) < end)) {
            continue;
        }
        p->from[p->ranges] = start;
        p->to[p->ranges++] = end;
    }
    fclose(maps);
}

// Searches the listed mappings for every pattern. Returns the numbers of those found.
std::string scan(const Patterns* p) {
    std::string found;
    for (size_t r = 0; r < p->ranges; ++r) {
        const auto* from = reinterpret_cast<const uint8_t*>(p->from[r]);
        const auto* to = reinterpret_cast<const uint8_t*>(p->to[r]);
        for (size_t i = 0; i < p->count; ++i) {
            const size_t n = p->length[i];
            for (const uint8_t* at = from; at + n <= to; at += (n == 8 ? 8 : 1)) {
                if (*at == p->bytes[i][0] && memcmp(at, p->bytes[i], n) == 0 && !is_kept(p, at)) {
                    found += " " + std::to_string(i);
                    break;
                }
            }
        }
    }
    return found;
}

class RsaRemnants : public InTempDirTest {};

TEST_F(RsaRemnants, SigningLeavesNoPieceOfTheKeyInMemory) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's own memory holds copies";
    auto* patterns = static_cast<Patterns*>(mmap(nullptr, sizeof(Patterns), PROT_READ | PROT_WRITE,
                                                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(patterns, MAP_FAILED);
    patterns->count = 0;
    patterns->kept = 0;
    const std::string keys = std::string(TEST_DATA_DIR) + "/keys/pair-high/";
    copy_quietly(keys + "rsa_priv.txt", path("rsa_priv.txt"));
    copy_quietly(keys + "rsa_pub.txt", path("rsa_pub.txt"));
    set_key_sources(KeySources());
    {
        // The key as the tool reads it (a reader that leaves nothing behind), and the values
        // derived from it, with R = 2^512 for the halves' eight limbs.
        RsaKeyContext key;
        rsa_key_init(&key);
        ASSERT_EQ(load_rsa_private(&key), 0);
        for (const mbedtls_mpi* v : {&key.P, &key.Q, &key.D, &key.DP, &key.DQ, &key.QP}) {
            add_limbs(patterns, v);
            add_text(patterns, v);
        }
        mbedtls_mpi r, reduced;
        mbedtls_mpi_init(&r);
        mbedtls_mpi_init(&reduced);
        for (const mbedtls_mpi* prime : {&key.P, &key.Q}) {
            for (size_t bits : {size_t{512}, size_t{1024}}) {
                ASSERT_EQ(mbedtls_mpi_lset(&r, 1), 0);
                ASSERT_EQ(mbedtls_mpi_shift_l(&r, bits), 0);
                ASSERT_EQ(mbedtls_mpi_mod_mpi(&reduced, &r, prime), 0);
                add_limbs(patterns, &reduced);
            }
        }
        mbedtls_mpi_free(&r);
        mbedtls_mpi_free(&reduced);
        rsa_key_free(&key);
    }
    ASSERT_GT(patterns->count, 100u);
    uint8_t digest[32];
    for (size_t i = 0; i < sizeof(digest); ++i) digest[i] = static_cast<uint8_t>(i * 7 + 1);
    FILE* quiet = fopen("/dev/null", "w");
    set_transcript(quiet);
    list_mappings(patterns);
    EXPECT_EQ(sign_header_rsa(digest), 0);
    EXPECT_EQ(scan(patterns), "") << "after the whole signing";

    // The operation itself, scanned as soon as it returns: with E, without E (checked from D),
    // and refusing a damaged key.
    RsaKeyContext key;
    rsa_key_init(&key);
    ASSERT_EQ(load_rsa_private(&key), 0);
    for (const mbedtls_mpi* v : {&key.N, &key.E, &key.D, &key.P, &key.Q, &key.DP, &key.DQ, &key.QP}) {
        patterns->kept_from[patterns->kept] = reinterpret_cast<uintptr_t>(v->MBEDTLS_PRIVATE(p));
        patterns->kept_to[patterns->kept++] = reinterpret_cast<uintptr_t>(
            v->MBEDTLS_PRIVATE(p) + v->MBEDTLS_PRIVATE(n));
    }
    uint8_t block[kRsaBlockSize] = {0};
    for (size_t i = 0; i < 32; ++i) block[i] = digest[31 - i];
    uint8_t output[kRsaBlockSize];
    const char* const ways[] = {"with E", "without E", "refusing"};
    for (int way = 0; way < 3; ++way) {
        mbedtls_mpi_lset(&key.E, way == 0 ? 65537 : 0);
        if (way == 2) mbedtls_mpi_add_int(&key.QP, &key.QP, 2);
        list_mappings(patterns);
        const int result = rsa_private_crt(&key, block, output);
        const std::string found = scan(patterns);
        EXPECT_EQ(result, way == 2 ? -1 : 0) << ways[way];
        EXPECT_EQ(found, "") << ways[way];
    }
    rsa_key_free(&key);
    set_transcript(stdout);
    fclose(quiet);
    munmap(patterns, sizeof(Patterns));
}

}  // namespace
