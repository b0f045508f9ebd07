#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for SECONDS (default 60), starting from the committed seed corpus. Exits non-zero on
# any finding; the input that caused it is kept under build-fuzz/findings/.
#
#     bash fuzz/run.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DBOOTSEAL_FUZZ=ON -DBOOTSEAL_WERROR=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/findings"
status=0
total=0
for target in fuzz_run fuzz_aes_key fuzz_rsa_keys; do
  mkdir -p "$work/$target"
  cp "$root/fuzz/corpus/$target"/* "$work/$target/"
  set +e
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=33000 -timeout=20 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "$work/$target" \
    >"$work/$target.log" 2>&1
  result=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  corpus=$(find "$work/$target" -type f | wc -l)
  total=$((total + ${runs:-0}))
  echo "$target: ${runs:-?} executions, corpus of $corpus inputs, exit status $result"
  if [ "$result" -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$work/$target.log" || tail -n 30 "$work/$target.log"
    status=1
  fi
done
echo "fuzzing: $total executions in all"
exit "$status"
