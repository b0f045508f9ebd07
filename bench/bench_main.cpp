// SPDX-License-Identifier: Apache-2.0
// Throughput of the tool's hot spots: its SHA-256 beside mbedtls's on the two real lengths, the
// image checksum and the DRAM table walk. Prints the SHA-256 throughput ratio at the end.
#include <benchmark/benchmark.h>
#include <mbedtls/sha256.h>
#include <mbedtls/version.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "digest/sha256.hpp"
#include "image/dram_table.hpp"
#include "image/image_checksum.hpp"
#include "image/image_layout.hpp"

namespace {

uint8_t data[32768];

void fill() {
    for (size_t i = 0; i < sizeof(data); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 7));
}

void sha256_ours(benchmark::State& state) {
    fill();
    const auto length = static_cast<int32_t>(state.range(0));
    uint8_t out[32];
    for (auto _ : state) {
        sha256_digest(data, length, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The same digest on the portable compression, for the comparison with the hardware one.
void sha256_ours_portable(benchmark::State& state) {
    sha256_use_portable(true);
    sha256_ours(state);
    sha256_use_portable(false);
}

void sha256_mbedtls(benchmark::State& state) {
    fill();
    const auto length = static_cast<size_t>(state.range(0));
    uint8_t out[32];
    for (auto _ : state) {
#if MBEDTLS_VERSION_NUMBER >= 0x03000000
        mbedtls_sha256(data, length, out, 0);
#else
        mbedtls_sha256_ret(data, length, out, 0);
#endif
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void image_checksum_sum_32k(benchmark::State& state) {
    fill();
    for (auto _ : state) benchmark::DoNotOptimize(image_checksum_sum(data, sizeof(data)));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof(data)));
}

void dram_table_walk(benchmark::State& state) {
    // A table of type-2 commands that runs to the end of the image: the longest walk there is.
    memset(ImageBuffer, 0, kImageSize);
    for (size_t pos = 64; pos < kImageSize; pos += 4) ImageBuffer[pos + 3] = 0x02;
    const ChipProfile& profile = select_chip_profile(229);
    for (auto _ : state) benchmark::DoNotOptimize(count_dram_params_quietly(64, profile));
}

BENCHMARK(sha256_ours)->Arg(32768)->Arg(512);
BENCHMARK(sha256_ours_portable)->Arg(32768)->Arg(512);
BENCHMARK(sha256_mbedtls)->Arg(32768)->Arg(512);
BENCHMARK(image_checksum_sum_32k);
BENCHMARK(dram_table_walk);

// Keeps each run's bytes per second so that main can compare the two SHA-256 implementations.
class RateKeeper : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates[run.benchmark_name()] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* length : {"32768", "512"}) {
        const double ours = reporter.rates["sha256_ours/" + std::string(length)];
        const double portable = reporter.rates["sha256_ours_portable/" + std::string(length)];
        const double theirs = reporter.rates["sha256_mbedtls/" + std::string(length)];
        if (ours > 0 && theirs > 0 && portable > 0) {
            printf("SHA-256 on %s bytes: %.0f MB/s (portable %.0f MB/s), mbedtls %.0f MB/s, "
                   "ratio %.2f (portable %.2f)\n",
                   length, ours / 1e6, portable / 1e6, theirs / 1e6, ours / theirs,
                   portable / theirs);
        }
    }
    benchmark::Shutdown();
    return 0;
}
