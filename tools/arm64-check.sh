#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Cross-builds for arm64 with Debian's cross compiler: every source of the library and the tools
# (the POSIX side of platform/) compiles there with the project's warnings as errors, and the
# SHA-256 test program (both compressions, each chosen explicitly) is linked statically and run
# under qemu's user-mode emulation of an ARMv8 processor with the SHA-2 instructions. The test
# must not skip: the hardware compression has to be the one that ran.
#
#     bash tools/arm64-check.sh
#
# Needs g++-aarch64-linux-gnu, qemu-user and the README's packages (the mbedtls, p11-kit and
# GoogleTest headers are the same for every architecture; GoogleTest is built from its sources).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
cxx=aarch64-linux-gnu-g++
gtest=/usr/src/googletest/googletest
work=$(mktemp -d /tmp/bootseal-arm64.XXXXXX)
trap 'rm -rf "$work"' EXIT

flags=(-std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror
       -DBOOTSEAL_VERSION=\"arm64-check\" -I"$src" -idirafter /usr/include/p11-kit-1 -idirafter /usr/include)

echo "compiling every source of the library and the tools for arm64 ($($cxx -dumpfullversion))"
cd "$src"
count=0
for file in $(git ls-files '*.cpp' | grep -Ev '^(tests|fuzz|bench|platform/windows)/'); do
  "$cxx" "${flags[@]}" -c "$file" -o "$work/$(echo "$file" | tr / _).o"
  count=$((count + 1))
done
echo "$count sources compiled"

echo "building the SHA-256 test program for arm64"
"$cxx" -std=c++17 -O2 -I"$gtest" -I"$gtest/include" -c "$gtest/src/gtest-all.cc" -o "$work/gtest-all.o"
"$cxx" -std=c++17 -O2 -I"$gtest/include" -c "$gtest/src/gtest_main.cc" -o "$work/gtest_main.o"
"$cxx" "${flags[@]}" -I"$gtest/include" -c tests/sha256_paths_test.cpp -o "$work/sha256_paths_test.o"
# The linker's note about getaddrinfo in GoogleTest's static build is kept out of the way.
if ! "$cxx" -static -pthread -o "$work/sha256_paths_test" "$work/sha256_paths_test.o" \
  "$work/digest_sha256.cpp.o" "$work/digest_sha256_hardware.cpp.o" \
  "$work/platform_cpu_features.cpp.o" "$work/gtest-all.o" \
  "$work/gtest_main.o" >"$work/link.log" 2>&1; then
  cat "$work/link.log"
  exit 1
fi
file -b "$work/sha256_paths_test" | cut -d, -f1-2

echo "running it under qemu-aarch64 -cpu max"
if ! qemu-aarch64 -cpu max "$work/sha256_paths_test" >"$work/test.log" 2>&1; then
  cat "$work/test.log"
  exit 1
fi
if grep -q SKIPPED "$work/test.log" || ! grep -q '^\[  PASSED  \] 2 tests' "$work/test.log"; then
  cat "$work/test.log"
  echo "the hardware compression did not run" >&2
  exit 1
fi
grep '^\[  PASSED  \]' "$work/test.log"
