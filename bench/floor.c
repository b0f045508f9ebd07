/* SPDX-License-Identifier: Apache-2.0 */
/* The floor of a seal's cost: a statically linked C program that only reads a 32768-byte image
 * and writes it out again. bench/measure.sh builds it and compares bootseal with it.
 *
 *     floor INPUT OUTPUT
 */
#include <stdio.h>

int main(int argc, char** argv) {
    static unsigned char buffer[32768];
    if (argc != 3) return 2;
    FILE* in = fopen(argv[1], "rb");
    if (in == NULL) return 1;
    size_t n = fread(buffer, 1, sizeof(buffer), in);
    fclose(in);
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) return 1;
    fwrite(buffer, 1, sizeof(buffer), out);
    return fclose(out) != 0 || n == 0;
}
