#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The instruction-fault campaign: the built bootseal and bootseal-sign sign an image with a sound
# key, and with keys whose DP or DQ has one bit damaged, while a ptrace helper skips one
# instruction or flips one register bit per run: every execution of every instruction of the
# verdict, masking, output and printing code, once each, and random points of the whole
# private-key operation. A faulty signature must never get out, on standard output or in the
# image: it is right modulo one prime and wrong modulo the other, and so gives N's factors away.
#
#     bash tools/instruction-fault-check.sh BUILD_DIR [RANDOM_COUNT]
#
# BUILD_DIR is a built tree. RANDOM_COUNT (500) random faults a tool with the sound key, a fifth
# as many with each damaged key, from a fixed seed: FAULT_SEED changes it. FAULT_TOOLS (one tool)
# and FAULT_PARTS (exhaustive or random) narrow a run down; FAULT_STRICT=1 fails on a faulty
# release that gives no factor too (a digit printed wrong, an image field not copied).
# Needs cc, objdump, nm, python3 and valgrind (its callgrind counts the executions to draw from).
# x86-64 Linux only: elsewhere it says so and passes.
set -euo pipefail
start=$SECONDS
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: instruction-fault-check.sh BUILD_DIR [RANDOM_COUNT]}" && pwd)
random_count=${2:-500}
if [ "$(uname -sm)" != "Linux x86_64" ]; then
  echo "instruction faults: skipped, the tracer knows only x86-64 Linux"
  exit 0
fi
work=$(mktemp -d /tmp/bootseal-faults.XXXXXX)
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -Werror -o "$work/fault_tracer" "$src/tools/instruction-faults/fault_tracer.c"
cp "$build/sample-loader.bin" "$work/in.bin"
cp "$src"/tests/data/keys/pair-high/rsa_{priv,pub}.txt "$work/"
status=0
python3 "$src/tools/instruction-faults/campaign.py" "$build" "$work/fault_tracer" "$work" \
  "${FAULT_SEED:-20261210}" "$random_count" || status=$?
echo "instruction faults: $((SECONDS - start)) s"
exit $status
