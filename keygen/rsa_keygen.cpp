// SPDX-License-Identifier: Apache-2.0
#include "keygen/rsa_keygen.hpp"

#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>

#include "keys/mpi_try.hpp"

namespace {

constexpr size_t kPrimeBytes = 64;

// A 512-bit prime whose top nine bits are set, with gcd(prime - 1, 65537) = 1. Two such primes
// make a modulus of at least 0.9961 * 2^1024, whose top byte is 0xFF.
int generate_prime(mbedtls_mpi* prime, RandomSource random, void* random_state) {
    unsigned char bytes[kPrimeBytes];
    mbedtls_mpi gcd, minus_one, e;
    mbedtls_mpi_init(&gcd);
    mbedtls_mpi_init(&minus_one);
    mbedtls_mpi_init(&e);
    int result = 0;
    MPI_TRY(mbedtls_mpi_lset(&e, 65537));
    for (;;) {
        MPI_TRY(random(random_state, bytes, sizeof(bytes)));
        bytes[0] = 0xFF;
        bytes[1] |= 0x80;
        bytes[kPrimeBytes - 1] |= 1;
        MPI_TRY(mbedtls_mpi_read_binary(prime, bytes, sizeof(bytes)));
        // Search upwards from the random start; the top bits survive any realistic gap.
        for (int step = 0; step < 4096; ++step) {
            if (mbedtls_mpi_bitlen(prime) != 512 || mbedtls_mpi_get_bit(prime, 502) == 0) break;
            result = mbedtls_mpi_is_prime_ext(prime, 50, random, random_state);
            if (result == 0) {
                MPI_TRY(mbedtls_mpi_sub_int(&minus_one, prime, 1));
                MPI_TRY(mbedtls_mpi_gcd(&gcd, &minus_one, &e));
                if (mbedtls_mpi_cmp_int(&gcd, 1) == 0) goto done;
            } else if (result != MBEDTLS_ERR_MPI_NOT_ACCEPTABLE) {
                goto done;
            }
            MPI_TRY(mbedtls_mpi_add_int(prime, prime, 2));
        }
    }
done:
    mbedtls_platform_zeroize(bytes, sizeof(bytes));
    mbedtls_mpi_free(&gcd);
    mbedtls_mpi_free(&minus_one);
    mbedtls_mpi_free(&e);
    return result;
}

}  // namespace

int generate_rsa_key(RsaKeyContext* key, RandomSource random, void* random_state) {
    mbedtls_mpi p1, q1, phi;
    mbedtls_mpi_init(&p1);
    mbedtls_mpi_init(&q1);
    mbedtls_mpi_init(&phi);
    int result = 0;
    for (;;) {
        MPI_TRY(generate_prime(&key->P, random, random_state));
        MPI_TRY(generate_prime(&key->Q, random, random_state));
        MPI_TRY(mbedtls_mpi_mul_mpi(&key->N, &key->P, &key->Q));
        unsigned char modulus[128];
        MPI_TRY(mbedtls_mpi_write_binary(&key->N, modulus, sizeof(modulus)));
        if (modulus[0] == 0xFF && mbedtls_mpi_cmp_mpi(&key->P, &key->Q) != 0) break;
    }
    MPI_TRY(mbedtls_mpi_lset(&key->E, 65537));
    MPI_TRY(mbedtls_mpi_sub_int(&p1, &key->P, 1));
    MPI_TRY(mbedtls_mpi_sub_int(&q1, &key->Q, 1));
    MPI_TRY(mbedtls_mpi_mul_mpi(&phi, &p1, &q1));
    MPI_TRY(mbedtls_mpi_inv_mod(&key->D, &key->E, &phi));
    MPI_TRY(mbedtls_mpi_mod_mpi(&key->DP, &key->D, &p1));
    MPI_TRY(mbedtls_mpi_mod_mpi(&key->DQ, &key->D, &q1));
    MPI_TRY(mbedtls_mpi_inv_mod(&key->QP, &key->Q, &key->P));
    key->len = mbedtls_mpi_size(&key->N);
done:
    mbedtls_mpi_free(&p1);
    mbedtls_mpi_free(&q1);
    mbedtls_mpi_free(&phi);
    return result;
}
