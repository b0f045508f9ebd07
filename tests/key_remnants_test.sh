#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Nothing of the RSA private key is left when a tool exits: a ptrace helper stops the tool at its
# exit and searches its writable memory, its general registers and its vector registers (the
# whole AVX-512 state) for every limb of D, P, Q, DP, DQ and QP and every 32 hexadecimal digits
# of their lines in rsa_priv.txt. The same search must find DQ's line when it is planted in the
# tool's environment, or it would pass blind.
#
#     bash tests/key_remnants_test.sh BUILD_DIR SOURCE_DIR TOOL
#
# x86-64 Linux only: elsewhere the test is skipped (exit 77).
set -euo pipefail
build=$(cd "$1" && pwd) src=$(cd "$2" && pwd) tool=$3
if [ "$(uname -sm)" != "Linux x86_64" ]; then
  echo "skipped: the tracer knows only x86-64 Linux"
  exit 77
fi
work=$(mktemp -d /tmp/bootseal-remnants.XXXXXX)
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -Werror -o "$work/fault_tracer" "$src/tools/instruction-faults/fault_tracer.c"
cd "$work"
cp "$build/sample-loader.bin" in.bin
cp "$src/tests/data/keys/pair-high/rsa_priv.txt" "$src/tests/data/keys/pair-high/rsa_pub.txt" .
chmod 600 rsa_priv.txt
python3 "$src/tools/instruction-faults/key_needles.py" rsa_priv.txt >needles
if [ "$tool" = bootseal ]; then
  command=("$build/bootseal" in.bin out.bin 341 2)
else
  command=("$build/bootseal-sign" --chip 341 --secure 2 --default-aes-key --rsa-key rsa_priv.txt
           --rsa-pub rsa_pub.txt in.bin out.bin)
fi

planted=$(sed -n 6p rsa_priv.txt)
if ! PLANTED="$planted" ./fault_tracer --scan-at-exit needles --out control -- "${command[@]}" \
       >/dev/null || ! grep -q '^found DQ\.text' control; then
  echo "the scan did not find DQ's line planted in the environment:"
  cat control
  exit 1
fi
rm -f out.bin
status=0
./fault_tracer --scan-at-exit needles --out report -- "${command[@]}" >stdout || status=$?
if [ "$status" != 0 ] || [ ! -s out.bin ]; then
  echo "$tool did not seal the image (exit $status):"
  cat stdout report
  exit 1
fi
if grep -q '^found' report; then
  # Which values, and where: the number of needles of each found there (no value is shown).
  echo "$tool leaves parts of the key at exit:"
  sed -n 's/^found \([A-Z]*\)\.\([a-z]*\)[0-9]* in \([^+]*\)+.*/\1 \2 in \3/p' report |
    sort | uniq -c | sed 's/text/32-digit runs of its text/; s/limb/limbs/'
  exit 1
fi
echo "$tool: nothing of the key at exit ($(tail -n 2 report | head -n 1))"
