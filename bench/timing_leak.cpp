// SPDX-License-Identifier: Apache-2.0
// Looks for timing leaks in the RSA private-key operation by the fixed-against-random method of
// Reparaz, Balasch and Verbauwhede (dudect, 2017): calls of two classes are timed one by one in
// random order and compared with Welch's t test, on every measurement and again on the fast ones
// only (below a few percentiles of a first batch), where a leak is not buried under slow outliers.
// |t| >= 4.5 is evidence that the time depends on the class. A benchmark, not a test: the exit
// status never depends on t; it is 1 only when nothing could be measured (2: bad arguments).
//
//     timing_leak [SAMPLES_PER_CLASS] [input|key|both]
//
// input: one fixed block against fresh random blocks, both signed with pair-high.
// key:   the same random blocks signed with pair-high or pair-a, two 1024-bit keys.
#include <mbedtls/bignum.h>
#include <sys/random.h>
#if defined(__x86_64__)
#include <x86intrin.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "image/transcript.hpp"
#include "keys/key_files.hpp"
#include "seal/rsa_signing.hpp"

namespace {

constexpr double kCropPercentiles[] = {50, 75, 90, 95, 99};
constexpr size_t kCrops = std::size(kCropPercentiles);
constexpr size_t kBatch = 1000;       // blocks prepared ahead of the timed calls: 128 KB
constexpr size_t kFirstBatches = 10;  // the warm-up: not counted, it sets the crop thresholds

// In static storage: the key sources keep pointers to the paths.
const char* const kKeyPaths[2][2] = {
    {BOOTSEAL_TEST_KEYS "/pair-high/rsa_priv.txt", BOOTSEAL_TEST_KEYS "/pair-high/rsa_pub.txt"},
    {BOOTSEAL_TEST_KEYS "/pair-a/rsa_priv.txt", BOOTSEAL_TEST_KEYS "/pair-a/rsa_pub.txt"}};

// splitmix64: cheap, and good enough to pick classes and blocks.
struct Rng {
    uint64_t state = 0;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
};

#if defined(__x86_64__)
const char* const kUnit = "cycles";
// The fences keep the call's instructions from moving across the reading of the counter.
uint64_t now() {
    _mm_lfence();
    const uint64_t ticks = __rdtsc();
    _mm_lfence();
    return ticks;
}
#else
const char* const kUnit = "ns";
uint64_t now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}
#endif

// Mean and variance updated one measurement at a time (Welford): no sums that lose precision.
struct Moments {
    double n = 0, mean = 0, m2 = 0;
    void add(double x) {
        n += 1;
        const double delta = x - mean;
        mean += delta / n;
        m2 += delta * (x - mean);
    }
};

double welch_t(const Moments& a, const Moments& b) {
    if (a.n < 2 || b.n < 2) return 0;
    const double se = std::sqrt(a.m2 / (a.n - 1) / a.n + b.m2 / (b.n - 1) / b.n);
    return se > 0 ? (a.mean - b.mean) / se : 0;
}

struct Experiment {
    const char* name;
    const RsaKeyContext* keys[2];  // the key of each class
    const uint8_t* fixed;          // the block class 0 signs every time, or nullptr
    uint8_t top_limit;             // every top byte stays below it, so every block is below N
};

void random_block(Rng& rng, uint8_t top_limit, uint8_t* block) {
    for (size_t i = 0; i < kRsaBlockSize; i += 8) {
        const uint64_t word = rng.next();
        memcpy(block + i, &word, sizeof(word));
    }
    block[0] = static_cast<uint8_t>(block[0] % top_limit);
}

using Tests = Moments[kCrops + 1][2];  // [0]: every measurement; [c + 1]: those below crop c

// Warms up, then takes 2 * per_class measurements (rounded up to a batch). False if a call fails.
bool measure(const Experiment& e, Rng& rng, size_t per_class, Tests& tests) {
    std::vector<uint8_t> inputs(kBatch * kRsaBlockSize);
    uint8_t classes[kBatch], output[kRsaBlockSize];
    uint64_t times[kBatch];
    // One batch of calls in random class order, every block made before the timing starts.
    const auto batch = [&] {
        for (size_t i = 0; i < kBatch; ++i) {
            classes[i] = static_cast<uint8_t>(rng.next() & 1);
            uint8_t* block = &inputs[i * kRsaBlockSize];
            if (e.fixed != nullptr && classes[i] == 0) {
                memcpy(block, e.fixed, kRsaBlockSize);
            } else {
                random_block(rng, e.top_limit, block);
            }
        }
        for (size_t i = 0; i < kBatch; ++i) {
            const RsaKeyContext* key = e.keys[classes[i]];
            const uint8_t* block = &inputs[i * kRsaBlockSize];
            const uint64_t start = now();
            const int result = rsa_private_crt(key, block, output);
            times[i] = now() - start;
            if (result != 0) return false;
        }
        return true;
    };
    std::vector<uint64_t> first;
    for (size_t b = 0; b < kFirstBatches; ++b) {
        if (!batch()) return false;
        first.insert(first.end(), times, times + kBatch);
    }
    std::sort(first.begin(), first.end());
    uint64_t thresholds[kCrops];
    for (size_t c = 0; c < kCrops; ++c) {
        thresholds[c] = first[first.size() * static_cast<size_t>(kCropPercentiles[c]) / 100];
    }
    for (size_t taken = 0; taken < 2 * per_class; taken += kBatch) {
        if (!batch()) return false;
        for (size_t i = 0; i < kBatch; ++i) {
            const double x = static_cast<double>(times[i]);
            tests[0][classes[i]].add(x);
            for (size_t c = 0; c < kCrops; ++c) {
                if (times[i] < thresholds[c]) tests[c + 1][classes[i]].add(x);
            }
        }
    }
    return true;
}

// Prints one row: the counts and means of the two classes, t on every measurement, and the
// largest |t| of all the tests with the crop it came from. False when a call fails.
bool run(const Experiment& e, Rng& rng, size_t per_class) {
    const auto began = std::chrono::steady_clock::now();
    Tests tests;
    if (!measure(e, rng, per_class, tests)) {
        printf("%-6s the private-key operation failed; no figures\n", e.name);
        return false;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - began;
    double max_t = 0;
    char max_at[8] = "all";
    for (size_t c = 0; c <= kCrops; ++c) {
        const double t = std::fabs(welch_t(tests[c][0], tests[c][1]));
        if (t <= max_t) continue;
        max_t = t;
        if (c > 0) snprintf(max_at, sizeof(max_at), "p%.0f", kCropPercentiles[c - 1]);
    }
    printf("%-6s %8.0f %8.0f %10.0f %10.0f %8.2f %8.2f %-4s %7.1f  %s\n", e.name, tests[0][0].n,
           tests[0][1].n, tests[0][0].mean, tests[0][1].mean, welch_t(tests[0][0], tests[0][1]),
           max_t, max_at, seconds.count(), max_t >= 4.5 ? "leak" : "no evidence");
    return true;
}

// Reads a key pair as the tools do; N must be 1024 bits. Nothing of the key is shown.
bool load_key(const char* const paths[2], RsaKeyContext* key) {
    KeySources sources;
    sources.rsa_private_path = paths[0];
    sources.rsa_public_path = paths[1];
    set_key_sources(sources);
    if (load_rsa_private(key) != 0 || load_rsa_public(key) != 0) return false;
    if (mbedtls_mpi_bitlen(&key->N) == 1024) return true;
    fprintf(stderr, "timing_leak: %s holds no 1024-bit modulus\n", paths[1]);
    return false;
}

uint8_t top_byte(const RsaKeyContext* key) {
    uint8_t n[kRsaBlockSize];
    return mbedtls_mpi_write_binary(&key->N, n, sizeof(n)) == 0 ? n[0] : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t per_class = argc > 1 ? strtoul(argv[1], nullptr, 10) : 1000000;
    const char* which = argc > 2 ? argv[2] : "both";
    const bool input = strcmp(which, "input") == 0, key = strcmp(which, "key") == 0;
    if (per_class == 0 || argc > 3 || (!input && !key && strcmp(which, "both") != 0)) {
        fprintf(stderr, "usage: timing_leak [SAMPLES_PER_CLASS] [input|key|both]\n");
        return 2;
    }
    set_transcript(stderr);  // why a key cannot be read
    RsaKeyContext keys[2];
    rsa_key_init(&keys[0]);
    rsa_key_init(&keys[1]);
    Rng rng;
    bool ready = load_key(kKeyPaths[0], &keys[0]) && load_key(kKeyPaths[1], &keys[1]) &&
                 getrandom(&rng.state, sizeof(rng.state), 0) == sizeof(rng.state);
    if (ready) {
        FILE* null = fopen("/dev/null", "w");
        set_transcript(null);  // nothing printed inside the timed calls
        printf("%-6s %8s %8s %10s %10s %8s %8s %-4s %7s\n", "test", "n0", "n1", "mean0", "mean1",
               "t", "max|t|", "at", "seconds");
        uint8_t fixed[kRsaBlockSize];
        random_block(rng, top_byte(&keys[0]), fixed);
        const Experiment fixed_random{"input", {&keys[0], &keys[0]}, fixed, top_byte(&keys[0])};
        if (!key) ready = run(fixed_random, rng, per_class);
        const uint8_t both_below = std::min(top_byte(&keys[0]), top_byte(&keys[1]));
        const Experiment key_key{"key", {&keys[0], &keys[1]}, nullptr, both_below};
        if (!input) ready = run(key_key, rng, per_class) && ready;
        printf("(mean0, mean1: %s per call)\n", kUnit);
        if (null != nullptr) fclose(null);
    }
    rsa_key_free(&keys[0]);
    rsa_key_free(&keys[1]);
    return ready ? 0 : 1;
}
