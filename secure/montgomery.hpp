// Modular exponentiation for the RSA sizes of this tool, in Montgomery form.
#pragma once

#include <mbedtls/bignum.h>

#include <cstddef>

// The largest modulus handled: 1024 bits, the RSA modulus of the header.
constexpr size_t kMontgomeryMaxBits = 1024;

// result = base^exponent mod modulus for an odd modulus and a non-negative exponent of at most
// 1024 bits each; base may be any non-negative value. Secret exponents are safe: every window of the
// exponent costs the same multiplications and reads the whole table of powers. Returns 0, or
// MBEDTLS_ERR_MPI_BAD_INPUT_DATA for a modulus that is even, not positive or too long, or an
// exponent that is negative or too long.
int montgomery_exp_mod(mbedtls_mpi* result, const mbedtls_mpi* base, const mbedtls_mpi* exponent,
                       const mbedtls_mpi* modulus);
