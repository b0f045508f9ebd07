#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Measures the built tool on the sample loader: for each kind of image beside the floor program,
# the instructions the processor runs (counted natively by single-stepping, bench/count_steps.c)
# and callgrind's count (valgrind hides the SHA-256 instructions, so there the portable SHA-256
# runs), peak resident memory, the wall time of 300 AES-signed runs against 300 runs of the floor
# in five rounds, and the benchmark program's SHA-256 comparison.
#
#     bash bench/measure.sh
#
# The timed runs go once to a folder under /tmp (on disk here, so the two fsync calls of the
# tool's safe write cost what they cost) and once to /dev/shm (tmpfs, where fsync is free).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBOOTSEAL_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
tool="$build/bootseal"

work=$(mktemp -d /tmp/bootseal-bench.XXXXXX)
shm=""
[ -d /dev/shm ] && shm=$(mktemp -d /dev/shm/bootseal-bench.XXXXXX)
trap 'rm -rf "$work" ${shm:+"$shm"}' EXIT
cc -O2 -static -o "$work/floor" "$root/bench/floor.c"
cc -O2 -o "$work/count_steps" "$root/bench/count_steps.c"
cp "$build/sample-loader.bin" "$root"/tests/data/keys/pair-high/rsa_*.txt "$work/"
cd "$work"

steps() {  # instructions the processor runs in one run of the command line given
  "$work/count_steps" "$@" 2>&1 >/dev/null | sed -n 's/^steps: //p'
}
callgrind() {  # callgrind's count of the same
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : //p'
}
peak_kib() {
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}
check() {  # name, value, limit
  if [ "$2" -le "$3" ]; then echo "ok"; else echo "OVER"; fi
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "tool:    $tool ($(stat -c %s "$tool") bytes, $(file -b "$tool" | cut -d, -f1-2))"
echo
printf '%-10s %14s %12s %12s %10s %10s\n' "run" "instructions" "target" "callgrind" "peak KiB" "target"
printf '%-10s %14s %12s %12s %10s\n' "floor" "$(steps ./floor sample-loader.bin floor.bin)" "" \
  "$(callgrind ./floor sample-loader.bin floor.bin)" "$(peak_kib ./floor sample-loader.bin floor.bin)"
for run in "plain 229 0 150000" "aes 229 1 900000" "rsa 341 2 2500000" "wr-key 229 3 200000"; do
  set -- $run
  ir=$(steps "$tool" sample-loader.bin out.bin "$2" "$3")
  cg=$(callgrind "$tool" sample-loader.bin out.bin "$2" "$3")
  kib=$(peak_kib "$tool" sample-loader.bin out.bin "$2" "$3")
  printf '%-10s %14s %12s %12s %10s %10s   %s %s\n' "$1" "$ir" "$4" "$cg" "$kib" 4096 \
    "$(check "$1" "$ir" "$4")" "$(check "$1" "$kib" 4096)"
done

echo
runs=300
rounds=5
time_runs() {  # folder: $rounds rounds of $runs runs of the floor and of an AES-signed seal there
  cp sample-loader.bin floor "$1/" 2>/dev/null || true
  (
    cd "$1"
    ratios=()
    for _ in $(seq $rounds); do
      start=$(date +%s%N)
      for _ in $(seq $runs); do ./floor sample-loader.bin floor.bin; done
      middle=$(date +%s%N)
      for _ in $(seq $runs); do "$tool" sample-loader.bin out.bin 229 1 >/dev/null; done
      end=$(date +%s%N)
      ratios+=("$(awk -v a="$((end - middle))" -v b="$((middle - start))" 'BEGIN { printf "%.2f", a / b }')")
      last="floor $(((middle - start) / 1000000)) ms, AES-signed $(((end - middle) / 1000000)) ms"
    done
    sorted=$(printf '%s\n' "${ratios[@]}" | sort -n | tr '\n' ' ')
    echo "$runs runs in $1 ($(stat -f -c %T "$1")), $rounds rounds: ratios ${sorted}(target 1.15);" \
      "last round: $last"
  )
}
time_runs "$work"
[ -n "$shm" ] && time_runs "$shm"

echo
"$build/bench/bootseal_bench" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | grep -E '^(sha256|image|dram|SHA)'
