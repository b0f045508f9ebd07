// SPDX-License-Identifier: Apache-2.0
// SHA-256 of in-memory buffers.
#pragma once

#include <cstdint>

// The running state of one digest computation.
struct Sha256Context {
    uint32_t byte_count_low;   // bytes absorbed so far, low word
    uint32_t byte_count_high;  // high word of the 64-bit byte count
    uint32_t state[8];         // the running hash value H0..H7
    uint8_t buffer[64];        // the partial block not yet compressed
};

// Digests length bytes of data into out (32 bytes) with the one shared context; a length of zero
// or less digests the empty message. Always returns 0. Not reentrant.
int sha256_digest(const uint8_t* data, int32_t length, uint8_t out[32]);

// Sets the byte count to zero and the state to the initial hash value.
void sha256_start(Sha256Context* context);

// Absorbs length bytes of input; nothing happens when length is zero or negative.
void sha256_update(Sha256Context* context, const uint8_t* input, int32_t length);

// Pads the message, absorbs its bit length and writes the 32-byte digest to out.
void sha256_finish(Sha256Context* context, uint8_t out[32]);

// Applies the compression function to one 64-byte block, adding the result into the state: on
// the processor's SHA-256 instructions where it has them, else portably.
void sha256_compress(Sha256Context* context, const uint8_t block[64]);

// The portable compression, round by round, into state H0..H7.
void sha256_compress_portable(uint32_t state[8], const uint8_t block[64]);

// Makes sha256_compress take the portable compression (true) or the fastest one the processor
// has (false). For the tests and the benchmark, which compare the two; the tools never call it.
void sha256_use_portable(bool portable);
