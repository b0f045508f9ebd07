# SPDX-License-Identifier: Apache-2.0
"""Writes the needles of a key for fault_tracer --scan-at-exit: what of an rsa_priv.txt must not
be left in a tool's memory or registers once it is done with the key.

    python3 key_needles.py rsa_priv.txt > needles

A line "LABEL HEX" each: every 64-bit limb of D, P, Q, DP, DQ and QP as the arithmetic keeps it
(little-endian), and every run of 32 consecutive hexadecimal digits of their lines, as written.
N, the first line, is public. A limb within 2^32 of zero or of all ones is left out: such a
word is everywhere, whatever the key.
"""
import re
import sys

NAMES = ("N", "D", "P", "Q", "DP", "DQ", "QP")


def main(path):
    digits = [m.group(0) for m in (re.search(r"[0-9A-Fa-f]+(?=\s*$)", l) for l in open(path)) if m]
    for name, text in list(zip(NAMES, digits))[1:]:
        value = int(text, 16)
        for i in range((value.bit_length() + 63) // 64):
            limb = (value >> (64 * i)) & (2**64 - 1)
            if 2**32 <= limb < 2**64 - 2**32:
                print(f"{name}.limb{i} {limb.to_bytes(8, 'little').hex()}")
        for i in range(len(text) - 31):
            print(f"{name}.text{i} {text[i:i + 32].encode().hex()}")


if __name__ == "__main__":
    main(sys.argv[1])
