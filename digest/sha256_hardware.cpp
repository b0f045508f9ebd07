// SPDX-License-Identifier: Apache-2.0
#include "digest/sha256_hardware.hpp"

#if defined(__x86_64__) || defined(__aarch64__)

#if defined(__x86_64__)
#include <immintrin.h>
#else
#include <arm_neon.h>
#endif

#include "platform/cpu_features.hpp"

namespace {

alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

}  // namespace

#endif

#if defined(__x86_64__)

bool sha256_hardware_available() { return cpu_has_sha256_instructions(); }

// The state is kept as the instructions want it, ABEF and CDGH; each group of four rounds adds
// its constants to four message words, and the schedule runs four words ahead in the four
// message registers, which take turns.
__attribute__((target("sha,sse4.1,ssse3"))) void sha256_compress_hardware(uint32_t state[8],
                                                                          const uint8_t block[64]) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);          // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);       // CDGH
    const __m128i abef_before = state0;
    const __m128i cdgh_before = state1;

    __m128i message[4];
#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
        __m128i& words = message[group % 4];
        if (group < 4) {
            words = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * group)), byte_swap);
        }
        __m128i sum = _mm_add_epi32(
            words, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group)));
        state1 = _mm_sha256rnds2_epu32(state1, state0, sum);
        if (group >= 3 && group <= 14) {
            __m128i& next = message[(group + 1) % 4];
            next = _mm_add_epi32(next, _mm_alignr_epi8(words, message[(group + 3) % 4], 4));
            next = _mm_sha256msg2_epu32(next, words);
        }
        sum = _mm_shuffle_epi32(sum, 0x0E);
        state0 = _mm_sha256rnds2_epu32(state0, state1, sum);
        if (group >= 1 && group <= 12) {
            __m128i& previous = message[(group + 3) % 4];
            previous = _mm_sha256msg1_epu32(previous, words);
        }
    }

    state0 = _mm_add_epi32(state0, abef_before);
    state1 = _mm_add_epi32(state1, cdgh_before);
    tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

#elif defined(__aarch64__)

bool sha256_hardware_available() { return cpu_has_sha256_instructions(); }

// The state is kept as the instructions want it, ABCD and EFGH; each group of four rounds adds
// its constants to four message words, and the schedule's next four words replace the four
// just used, twelve groups ahead of the last.
__attribute__((target("+crypto"))) void sha256_compress_hardware(uint32_t state[8],
                                                                const uint8_t block[64]) {
    uint32x4_t abcd = vld1q_u32(state);
    uint32x4_t efgh = vld1q_u32(state + 4);
    const uint32x4_t abcd_before = abcd;
    const uint32x4_t efgh_before = efgh;

    uint32x4_t message[4];
    for (int i = 0; i < 4; ++i) {
        message[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(block + 16 * i)));
    }
#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
        uint32x4_t& words = message[group % 4];
        const uint32x4_t sum = vaddq_u32(words, vld1q_u32(kRoundConstants + 4 * group));
        if (group < 12) {
            words = vsha256su1q_u32(vsha256su0q_u32(words, message[(group + 1) % 4]),
                                    message[(group + 2) % 4], message[(group + 3) % 4]);
        }
        const uint32x4_t abcd_used = abcd;
        abcd = vsha256hq_u32(abcd, efgh, sum);
        efgh = vsha256h2q_u32(efgh, abcd_used, sum);
    }

    vst1q_u32(state, vaddq_u32(abcd, abcd_before));
    vst1q_u32(state + 4, vaddq_u32(efgh, efgh_before));
}

#else

bool sha256_hardware_available() { return false; }

void sha256_compress_hardware(uint32_t*, const uint8_t*) {}

#endif
