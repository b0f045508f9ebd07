#!/usr/bin/env bash
# Measures the built tool on the sample loader: instruction counts under callgrind for each kind
# of image beside the floor program, peak resident memory, the wall time of 300 AES-signed runs
# against 300 runs of the floor, and the benchmark program's SHA-256 comparison.
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
cp "$build/sample-loader.bin" "$root"/tests/data/keys/pair-high/rsa_*.txt "$work/"
cd "$work"

instructions() {  # instructions of one run of the command line given
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
printf '%-10s %14s %12s %10s %10s\n' "run" "instructions" "target" "peak KiB" "target"
floor_ir=$(instructions ./floor sample-loader.bin floor.bin)
printf '%-10s %14s %12s %10s\n' "floor" "$floor_ir" "" "$(peak_kib ./floor sample-loader.bin floor.bin)"
for run in "plain 229 0 250000" "aes 229 1 3000000" "rsa 341 2 4500000" "wr-key 229 3 300000"; do
  set -- $run
  ir=$(instructions "$tool" sample-loader.bin out.bin "$2" "$3")
  kib=$(peak_kib "$tool" sample-loader.bin out.bin "$2" "$3")
  printf '%-10s %14s %12s %10s %10s   %s %s\n' "$1" "$ir" "$4" "$kib" 4096 \
    "$(check "$1" "$ir" "$4")" "$(check "$1" "$kib" 4096)"
done

echo
runs=300
time_runs() {  # folder: times $runs runs of the floor and of an AES-signed seal there
  cp sample-loader.bin floor "$1/" 2>/dev/null || true
  (
    cd "$1"
    start=$(date +%s%N)
    for _ in $(seq $runs); do ./floor sample-loader.bin floor.bin; done
    middle=$(date +%s%N)
    for _ in $(seq $runs); do "$tool" sample-loader.bin out.bin 229 1 >/dev/null; done
    end=$(date +%s%N)
    floor_ms=$(( (middle - start) / 1000000 ))
    tool_ms=$(( (end - middle) / 1000000 ))
    echo "$runs runs in $1 ($(stat -f -c %T "$1")): floor ${floor_ms} ms, AES-signed ${tool_ms} ms," \
      "ratio $(awk -v a="$tool_ms" -v b="$floor_ms" 'BEGIN { printf "%.2f", a / b }') (target 1.5)"
  )
}
time_runs "$work"
[ -n "$shm" ] && time_runs "$shm"

echo
"$build/bench/bootseal_bench" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' | grep -E '^(sha256|image|dram|SHA)'
