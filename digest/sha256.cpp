// SPDX-License-Identifier: Apache-2.0
#include "digest/sha256.hpp"

#include <cstring>

#include "digest/sha256_hardware.hpp"

namespace {

Sha256Context shared_sha256_context;

// One 0x80 byte and zeros: the padding that closes every message.
const uint8_t kPadding[64] = {0x80};

inline uint32_t rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }
// The standard's sigma functions, with the rotations nested so that each needs one copy of its
// argument: rotr(x ^ rotr(x ^ rotr(x, 9), 11), 2) = rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22).
inline uint32_t big_sigma0(uint32_t x) { return rotr(x ^ rotr(x ^ rotr(x, 9), 11), 2); }
inline uint32_t big_sigma1(uint32_t x) { return rotr(x ^ rotr(x ^ rotr(x, 14), 5), 6); }
inline uint32_t small_sigma0(uint32_t x) { return rotr(x ^ rotr(x, 11), 7) ^ (x >> 3); }
inline uint32_t small_sigma1(uint32_t x) { return rotr(x ^ rotr(x, 2), 17) ^ (x >> 10); }
inline uint32_t choose(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }

inline uint32_t load_be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

inline void store_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

// The message schedule is kept as sixteen rolling words: word t (t >= 16) replaces word t - 16.
#define SCHEDULE(t)                                                                   \
    (w[(t)&15] += small_sigma1(w[((t)-2) & 15]) + w[((t)-7) & 15] +                  \
                  small_sigma0(w[((t)-15) & 15]))

// One round; instead of shifting the eight working variables, the callers rotate their names.
// The majority is b ^ ((a ^ b) & (b ^ c)), and this round's a ^ b is the next round's b ^ c, so
// it is handed on in the variable named by ab (bc is the one the previous round left).
#define ROUND(a, b, c, d, e, f, g, h, k, wt, bc, ab)                                  \
    do {                                                                              \
        const uint32_t t1 = (h) + big_sigma1(e) + choose(e, f, g) + (k) + (wt);       \
        (ab) = (a) ^ (b);                                                             \
        (d) += t1;                                                                    \
        (h) = t1 + big_sigma0(a) + ((b) ^ ((ab) & (bc)));                             \
    } while (0)

// Even rounds read the previous a ^ b from x and leave theirs in y; odd rounds the other way.
#define R0(a, b, c, d, e, f, g, h, t, k) \
    ROUND(a, b, c, d, e, f, g, h, k, w[t], ((t) % 2 ? y : x), ((t) % 2 ? x : y))
#define R1(a, b, c, d, e, f, g, h, t, k) \
    ROUND(a, b, c, d, e, f, g, h, k, SCHEDULE(t), ((t) % 2 ? y : x), ((t) % 2 ? x : y))

void sha256_compress_portable(uint32_t state[8], const uint8_t block[64]) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2],
             d = state[3], e = state[4], f = state[5],
             g = state[6], h = state[7];
    uint32_t x = b ^ c, y = 0;

    R0(a, b, c, d, e, f, g, h, 0, 0x428a2f98);
    R0(h, a, b, c, d, e, f, g, 1, 0x71374491);
    R0(g, h, a, b, c, d, e, f, 2, 0xb5c0fbcf);
    R0(f, g, h, a, b, c, d, e, 3, 0xe9b5dba5);
    R0(e, f, g, h, a, b, c, d, 4, 0x3956c25b);
    R0(d, e, f, g, h, a, b, c, 5, 0x59f111f1);
    R0(c, d, e, f, g, h, a, b, 6, 0x923f82a4);
    R0(b, c, d, e, f, g, h, a, 7, 0xab1c5ed5);
    R0(a, b, c, d, e, f, g, h, 8, 0xd807aa98);
    R0(h, a, b, c, d, e, f, g, 9, 0x12835b01);
    R0(g, h, a, b, c, d, e, f, 10, 0x243185be);
    R0(f, g, h, a, b, c, d, e, 11, 0x550c7dc3);
    R0(e, f, g, h, a, b, c, d, 12, 0x72be5d74);
    R0(d, e, f, g, h, a, b, c, 13, 0x80deb1fe);
    R0(c, d, e, f, g, h, a, b, 14, 0x9bdc06a7);
    R0(b, c, d, e, f, g, h, a, 15, 0xc19bf174);
    R1(a, b, c, d, e, f, g, h, 16, 0xe49b69c1);
    R1(h, a, b, c, d, e, f, g, 17, 0xefbe4786);
    R1(g, h, a, b, c, d, e, f, 18, 0x0fc19dc6);
    R1(f, g, h, a, b, c, d, e, 19, 0x240ca1cc);
    R1(e, f, g, h, a, b, c, d, 20, 0x2de92c6f);
    R1(d, e, f, g, h, a, b, c, 21, 0x4a7484aa);
    R1(c, d, e, f, g, h, a, b, 22, 0x5cb0a9dc);
    R1(b, c, d, e, f, g, h, a, 23, 0x76f988da);
    R1(a, b, c, d, e, f, g, h, 24, 0x983e5152);
    R1(h, a, b, c, d, e, f, g, 25, 0xa831c66d);
    R1(g, h, a, b, c, d, e, f, 26, 0xb00327c8);
    R1(f, g, h, a, b, c, d, e, 27, 0xbf597fc7);
    R1(e, f, g, h, a, b, c, d, 28, 0xc6e00bf3);
    R1(d, e, f, g, h, a, b, c, 29, 0xd5a79147);
    R1(c, d, e, f, g, h, a, b, 30, 0x06ca6351);
    R1(b, c, d, e, f, g, h, a, 31, 0x14292967);
    R1(a, b, c, d, e, f, g, h, 32, 0x27b70a85);
    R1(h, a, b, c, d, e, f, g, 33, 0x2e1b2138);
    R1(g, h, a, b, c, d, e, f, 34, 0x4d2c6dfc);
    R1(f, g, h, a, b, c, d, e, 35, 0x53380d13);
    R1(e, f, g, h, a, b, c, d, 36, 0x650a7354);
    R1(d, e, f, g, h, a, b, c, 37, 0x766a0abb);
    R1(c, d, e, f, g, h, a, b, 38, 0x81c2c92e);
    R1(b, c, d, e, f, g, h, a, 39, 0x92722c85);
    R1(a, b, c, d, e, f, g, h, 40, 0xa2bfe8a1);
    R1(h, a, b, c, d, e, f, g, 41, 0xa81a664b);
    R1(g, h, a, b, c, d, e, f, 42, 0xc24b8b70);
    R1(f, g, h, a, b, c, d, e, 43, 0xc76c51a3);
    R1(e, f, g, h, a, b, c, d, 44, 0xd192e819);
    R1(d, e, f, g, h, a, b, c, 45, 0xd6990624);
    R1(c, d, e, f, g, h, a, b, 46, 0xf40e3585);
    R1(b, c, d, e, f, g, h, a, 47, 0x106aa070);
    R1(a, b, c, d, e, f, g, h, 48, 0x19a4c116);
    R1(h, a, b, c, d, e, f, g, 49, 0x1e376c08);
    R1(g, h, a, b, c, d, e, f, 50, 0x2748774c);
    R1(f, g, h, a, b, c, d, e, 51, 0x34b0bcb5);
    R1(e, f, g, h, a, b, c, d, 52, 0x391c0cb3);
    R1(d, e, f, g, h, a, b, c, 53, 0x4ed8aa4a);
    R1(c, d, e, f, g, h, a, b, 54, 0x5b9cca4f);
    R1(b, c, d, e, f, g, h, a, 55, 0x682e6ff3);
    R1(a, b, c, d, e, f, g, h, 56, 0x748f82ee);
    R1(h, a, b, c, d, e, f, g, 57, 0x78a5636f);
    R1(g, h, a, b, c, d, e, f, 58, 0x84c87814);
    R1(f, g, h, a, b, c, d, e, 59, 0x8cc70208);
    R1(e, f, g, h, a, b, c, d, 60, 0x90befffa);
    R1(d, e, f, g, h, a, b, c, 61, 0xa4506ceb);
    R1(c, d, e, f, g, h, a, b, 62, 0xbef9a3f7);
    R1(b, c, d, e, f, g, h, a, 63, 0xc67178f2);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#undef R1
#undef R0
#undef ROUND
#undef SCHEDULE

namespace {

// The compression in use: the processor's SHA-256 instructions where it has them, chosen once.
void (*chosen_compress)(uint32_t state[8], const uint8_t block[64]) = nullptr;

}  // namespace

void sha256_use_portable(bool portable) {
    chosen_compress = portable || !sha256_hardware_available() ? sha256_compress_portable
                                                               : sha256_compress_hardware;
}

void sha256_compress(Sha256Context* context, const uint8_t block[64]) {
    if (chosen_compress == nullptr) sha256_use_portable(false);
    chosen_compress(context->state, block);
}

void sha256_start(Sha256Context* context) {
    context->byte_count_low = 0;
    context->byte_count_high = 0;
    context->state[0] = 0x6a09e667;
    context->state[1] = 0xbb67ae85;
    context->state[2] = 0x3c6ef372;
    context->state[3] = 0xa54ff53a;
    context->state[4] = 0x510e527f;
    context->state[5] = 0x9b05688c;
    context->state[6] = 0x1f83d9ab;
    context->state[7] = 0x5be0cd19;
}

void sha256_update(Sha256Context* context, const uint8_t* input, int32_t length) {
    if (length <= 0) return;
    uint32_t remaining = static_cast<uint32_t>(length);
    uint32_t left = context->byte_count_low & 63;
    const uint32_t fill = 64 - left;

    context->byte_count_low += remaining;
    if (context->byte_count_low < remaining) context->byte_count_high += 1;

    if (left != 0 && remaining >= fill) {
        memcpy(context->buffer + left, input, fill);
        sha256_compress(context, context->buffer);
        input += fill;
        remaining -= fill;
        left = 0;
    }
    while (remaining >= 64) {
        sha256_compress(context, input);
        input += 64;
        remaining -= 64;
    }
    if (remaining > 0) memcpy(context->buffer + left, input, remaining);
}

void sha256_finish(Sha256Context* context, uint8_t out[32]) {
    // The length in bits, captured before the padding advances the byte count.
    const uint32_t high = (context->byte_count_high << 3) | (context->byte_count_low >> 29);
    const uint32_t low = context->byte_count_low << 3;
    uint8_t length_bytes[8];
    store_be32(length_bytes, high);
    store_be32(length_bytes + 4, low);

    const uint32_t last = context->byte_count_low & 63;
    const uint32_t padding = last < 56 ? 56 - last : 120 - last;
    sha256_update(context, kPadding, static_cast<int32_t>(padding));
    sha256_update(context, length_bytes, 8);

    for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, context->state[i]);
}

int sha256_digest(const uint8_t* data, int32_t length, uint8_t out[32]) {
    memset(&shared_sha256_context, 0, sizeof(shared_sha256_context));
    sha256_start(&shared_sha256_context);
    sha256_update(&shared_sha256_context, data, length);
    sha256_finish(&shared_sha256_context, out);
    return 0;
}
