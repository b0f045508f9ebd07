// SPDX-License-Identifier: Apache-2.0
#include "keygen/token_generation.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "keys/key_files.hpp"
#include "platform/stop_signals.hpp"
#include "token/pkcs11_token.hpp"

namespace {

constexpr double kReportEvery = 5.0;  // seconds between progress lines

double seconds_since(const timespec& start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// The PairWatcher of make_token_key: holds the stop signals before the first pair, stops when
// one came, and reports now and then.
bool watch_pairs(void* state, int pairs) {
    auto* progress = static_cast<PairProgress*>(state);
    if (pairs == 0) {
        hold_stop_signals();
        clock_gettime(CLOCK_MONOTONIC, &progress->start);
        progress->next_report = kReportEvery;
        return true;
    }
    if (held_stop_signal() != 0) return false;
    const double elapsed = seconds_since(progress->start);
    if (elapsed >= progress->next_report) {
        report_progress(*progress, pairs, elapsed);
        progress->next_report = elapsed + kReportEvery;
    }
    return true;
}

}  // namespace

double top_byte_odds(unsigned top_byte) {
    const double t = top_byte / 256.0;
    if (t <= 9.0 / 16.0) return 1.0;  // the least product of two such primes
    return 16.0 * ((1.0 - t) + t * std::log(t));
}

void report_progress(const PairProgress& progress, int pairs, double elapsed) {
    // Each pair is a fresh draw: however many were rejected, as many are expected again.
    const double expected_pairs = 1.0 / top_byte_odds(progress.min_top_byte);
    const double seconds_left = expected_pairs * elapsed / pairs;
    fprintf(stderr,
            "%s: %d pair%s in %.0f s, none with a top byte of 0x%02X or more yet; about %.0f s "
            "more expected (one pair in %.0f has one); --min-top-byte B accepts a lower byte "
            "sooner\n",
            progress.tool, pairs, pairs == 1 ? "" : "s", elapsed, progress.min_top_byte,
            seconds_left, expected_pairs);
}

int make_token_key(const char* tool, const char* uri, unsigned min_top_byte, RsaKeyContext* key,
                   int* pairs) {
    PairProgress progress = {tool, min_top_byte, {0, 0}, kReportEvery};
    std::string why;
    const int result =
        generate_token_key(uri, min_top_byte, watch_pairs, &progress, key, pairs, &why);
    if (result == 0) {
        const char* fault = public_exponent_fault(&key->E);
        if (fault[0] == '\0') return 0;
        fprintf(stderr, "%s: the token made a key that signs nothing (%s)\n", tool, fault);
        return undo_token_key(tool);
    }
    if (result == kTokenStopped) return undo_token_key(tool);
    fprintf(stderr, "%s: %s; nothing written\n", tool, why.c_str());
    return result == kTokenBadUri ? 2 : 1;
}

int undo_token_key(const char* tool) {
    const int signal_number = held_stop_signal();
    std::string why;
    if (delete_generated_key(&why) != 0) {
        fprintf(stderr, "%s: %s\n", tool, why.c_str());
    } else if (signal_number != 0) {
        fprintf(stderr,
                "%s: stopped by %s; deleted the key pair this run made in the token; nothing "
                "written\n",
                tool, stop_signal_name(signal_number));
    } else {
        fprintf(stderr, "%s: deleted the key pair this run made in the token\n", tool);
    }
    return signal_number != 0 ? 128 + signal_number : 1;
}
