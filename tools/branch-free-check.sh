#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Proves that the portable arithmetic on secrets (rsa/limbs.cpp, rsa/montgomery.cpp and
# rsa/mod_inverse.cpp built with BOOTSEAL_PORTABLE_LIMBS) takes the same path whatever the
# secret values are, as arm64 and riscv64 compilers actually build it. A small program, written
# out below, runs montgomery_prepare, montgomery_power, montgomery_multiply, montgomery_inverse,
# the modular addition and subtraction, limbs_select and limbs_equal_mask at 8 and 16 limbs on
# one of two sets of secret inputs (moduli, bases, exponents), chosen by its argument through an
# array index and never by a branch. Each build runs under qemu's user-mode emulation once per set with every executed
# translation block logged; a translation block ends at every jump, so the sequence of their
# addresses is the program's control flow, and the two sequences must be the same. Addresses read
# and written are not compared here; the valgrind constant-flow build covers those on x86-64.
#
# The check proves it can see: a build with BOOTSEAL_PLANTED_BRANCH, in which the program adds
# one jump on a secret exponent bit, must give two different sequences on each architecture, or
# the check is blind and fails.
#
#     bash tools/branch-free-check.sh
#
# Needs g++-aarch64-linux-gnu, g++-riscv64-linux-gnu, clang, qemu-user and the mbedtls headers
# (the same for every architecture). The binaries are static; nothing of mbedtls is linked:
# montgomery_exp_mod, the only user of it, is dropped by the linker's section collection.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/bootseal-branch-free.XXXXXX)
trap 'rm -rf "$work"' EXIT

flags=(-std=c++17 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror
       -DBOOTSEAL_PORTABLE_LIMBS -I"$src" -idirafter /usr/include
       -g -ffunction-sections -fdata-sections)

cat >"$work/harness.cpp" <<'EOF'
// Runs the arithmetic on secrets on input set 0 or 1, named by the only argument. The set is
// chosen by indexing arrays with it, so the two runs differ in their values and in nothing else;
// the verdict printed at the end is the same for both when the arithmetic is right.
#include <cstdint>
#include <cstdio>

#include "rsa/limbs.hpp"
#include "rsa/mod_inverse.hpp"
#include "rsa/montgomery.hpp"

namespace {

// 128-bit exponents: 32 windows, enough for every window value, while the traces stay small.
constexpr size_t kExponentLimbs = 2;

// Each set's inputs come from its own seed. Set 1's exponents have a zero top limb, so that
// windows of leading zeros are taken too, and are odd where set 0's are even.
constexpr uint64_t kSeeds[2] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b};
constexpr Limb kExponentKeep[2][kExponentLimbs] = {{static_cast<Limb>(~Limb{1}), ~Limb{0}},
                                                   {~Limb{0}, 0}};
constexpr Limb kExponentForce[2][kExponentLimbs] = {{0, 0}, {1, 0}};

#if defined(BOOTSEAL_PLANTED_BRANCH)
// Counts odd exponents with a jump: the leak the check must see.
volatile unsigned planted_count = 0;
#endif

// splitmix64, which has no branch: the inputs of a set from its seed.
Limb next_random(uint64_t* state) {
    uint64_t z = (*state += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return static_cast<Limb>(z ^ (z >> 31));
}

// All ones when the n limbs of a and b are equal exactly when want is all ones.
Limb agrees(const Limb* a, const Limb* b, size_t n, Limb want) {
    return static_cast<Limb>(~(limbs_equal_mask(a, b, n) ^ want));
}

// Runs every operation on n-limb secrets of the given set; returns all ones when each result
// agrees with another way of computing it.
Limb exercise(size_t n, unsigned set) {
    uint64_t state = kSeeds[set] + n;
    Limb m[kMaxLimbs], a[kMaxLimbs], b[kMaxLimbs];
    for (size_t i = 0; i < n; ++i) {
        m[i] = next_random(&state);
        a[i] = next_random(&state);
        b[i] = next_random(&state);
    }
    // An odd modulus with its top bit set; bases below it, their top limb being zero.
    m[0] |= 1;
    m[n - 1] |= Limb{1} << (kLimbBits - 1);
    a[n - 1] = 0;
    b[n - 1] = 0;
    Limb e[kExponentLimbs], twice_e[kExponentLimbs + 1];
    for (size_t i = 0; i < kExponentLimbs; ++i) {
        e[i] = (next_random(&state) & kExponentKeep[set][i]) | kExponentForce[set][i];
    }
#if defined(BOOTSEAL_PLANTED_BRANCH)
    if (e[0] & 1) planted_count = planted_count + 1;
#endif
    twice_e[kExponentLimbs] = limbs_add(e, e, kExponentLimbs, twice_e);

    Limb ok = ~Limb{0};
    MontgomeryModulus mod;
    montgomery_prepare(&mod, m, n, true);

    // (a + b) - b = a, and a taken into Montgomery form and back out is a (which needs R^2 mod m
    // right from montgomery_prepare).
    Limb x[kMaxLimbs], y[kMaxLimbs];
    limbs_add_mod(a, b, m, n, x);
    limbs_subtract_mod(x, b, m, n, y);
    ok &= agrees(y, a, n, ~Limb{0});
    montgomery_enter(&mod, a, x);
    montgomery_leave(&mod, x, y);
    ok &= agrees(y, a, n, ~Limb{0});

    // b^e b^e = b^2e, with the base in Montgomery form.
    static PowerTable table;
    Limb factor[kMaxLimbs], base[kMaxLimbs], power[kMaxLimbs], square[kMaxLimbs];
    montgomery_enter(&mod, b, base);
    montgomery_power(&mod, base, e, kExponentLimbs, table, factor, power);
    montgomery_multiply(&mod, power, power, square);
    montgomery_power(&mod, base, twice_e, kExponentLimbs + 1, table, factor, x);
    ok &= agrees(square, x, n, ~Limb{0});

    // a a^-1 = 1 when a has an inverse (its verdict, the same for both sets, says so); out is
    // zero, and so the product, when not.
    static InverseWork work;
    const Limb one[kMaxLimbs] = {1};
    const Limb invertible = montgomery_inverse(&mod, a, &work, x);
    montgomery_multiply(&mod, x, a, y);
    ok &= agrees(y, one, n, invertible);

    // A choice by a secret mask: a for odd exponents (set 1), b for even ones (set 0).
    const Limb odd = static_cast<Limb>(0 - (e[0] & 1));
    limbs_select(odd, a, b, n, y);
    ok &= agrees(y, a, n, odd) & agrees(y, b, n, static_cast<Limb>(~odd));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s 0|1\n", argv[0]);
        return 2;
    }
    // Each test below has the same outcome for "0" and "1".
    const unsigned set = static_cast<unsigned>(static_cast<unsigned char>(argv[1][0]) - '0');
    if ((set | 1) != 1 || argv[1][1] != '\0') {
        fprintf(stderr, "usage: %s 0|1\n", argv[0]);
        return 2;
    }
    const Limb ok = exercise(8, set) & exercise(16, set);
    if (ok != ~Limb{0}) {
        puts("wrong result");
        return 1;
    }
    puts("right results");
    return 0;
}
EOF

# The address of each executed translation block, one a line, from qemu's exec log. A log line
# reads "Trace 0: HOST [CS_BASE/PC/FLAGS/CFLAGS] SYMBOL"; chaining is off so that every block is
# logged, not only those entered from qemu's own loop.
trace() {
  local arch=$1 binary=$2 set=$3 out=$4
  if ! "qemu-$arch" -d exec,nochain -D /dev/stderr "$binary" "$set" 2>&1 >"$out.stdout" |
    grep '^Trace ' | cut -d/ -f2 >"$out"; then
    echo "$(basename "$binary") $set failed or logged nothing: $(cat "$out.stdout")" >&2
    return 1
  fi
}

# Where the two sequences part: the last block they share, which ends in the jump that depends
# on the secret, and where each run went next.
report_difference() {
  local arch=$1 binary=$2 first=$3 second=$4
  local verdict line
  verdict=$(cmp "$first" "$second" 2>&1) || true
  if [[ $verdict == *EOF* ]]; then
    echo "    one sequence is the start of the other: $verdict"
    return
  fi
  line=${verdict##* }
  local where=(); [ "$line" -gt 1 ] && where=("0x$(sed -n "$((line - 1))p" "$first")")
  where+=("0x$(sed -n "${line}p" "$first")" "0x$(sed -n "${line}p" "$second")")
  local names
  mapfile -t names < <("$arch-linux-gnu-addr2line" -f -C -e "$binary" "${where[@]}" | sed 'N;s/\n/, /')
  if [ "${#where[@]}" -eq 3 ]; then
    echo "    block $((line - 1)) at ${where[0]} (${names[0]}) ends in a jump that depends on the secret"
  fi
  echo "    set 0 goes on at ${where[-2]} (${names[-2]})"
  echo "    set 1 goes on at ${where[-1]} (${names[-1]})"
}

# Builds the program, runs it on both sets and compares; sets result to "same" or "different".
check_build() {
  local label=$1 arch=$2 compiler=$3 level=$4
  local extra=("${@:5}")
  local name binary
  name=$(echo "$label" | tr ' ' '-')
  binary="$work/$name"
  local cxx=("$compiler")
  [ "$compiler" = clang++ ] && cxx+=(--target="$arch-linux-gnu")
  local objects=()
  for file in "$work/harness.cpp" "$src/rsa/limbs.cpp" "$src/rsa/montgomery.cpp" \
              "$src/rsa/mod_inverse.cpp"; do
    "${cxx[@]}" "${flags[@]}" "${extra[@]}" "$level" -c "$file" -o "$binary.$(basename "$file").o"
    objects+=("$binary.$(basename "$file").o")
  done
  "${cxx[@]}" -static -Wl,--gc-sections -o "$binary" "${objects[@]}"
  trace "$arch" "$binary" 0 "$binary.0.pcs" &
  trace "$arch" "$binary" 1 "$binary.1.pcs" || { wait; return 1; }
  wait $! || return 1
  local blocks
  blocks=$(wc -l <"$binary.0.pcs")
  if [ "$blocks" -lt 1000 ]; then
    echo "$label: only $blocks blocks traced: is qemu logging?" >&2
    return 1
  fi
  if cmp -s "$binary.0.pcs" "$binary.1.pcs"; then
    echo "$label: same control flow ($blocks blocks)"
    rm -f "$binary".*.pcs
    result=same
  else
    echo "$label: DIFFERENT control flow ($blocks and $(wc -l <"$binary.1.pcs") blocks)"
    report_difference "$arch" "$binary" "$binary.0.pcs" "$binary.1.pcs"
    rm -f "$binary".*.pcs
    result=different
  fi
}

# One row per build: label, qemu and binutils architecture, compiler, optimisation.
builds=(
  "arm64 gcc -O0|aarch64|aarch64-linux-gnu-g++|-O0"
  "arm64 gcc -O2|aarch64|aarch64-linux-gnu-g++|-O2"
  "arm64 clang -O2|aarch64|clang++|-O2"
  "riscv64 gcc -O0|riscv64|riscv64-linux-gnu-g++|-O0"
  "riscv64 gcc -O2|riscv64|riscv64-linux-gnu-g++|-O2"
  "riscv64 clang -O2|riscv64|clang++|-O2"
)

failures=0
for row in "${builds[@]}"; do
  IFS='|' read -r label arch compiler level <<<"$row"
  check_build "$label" "$arch" "$compiler" "$level"
  [ "$result" = same ] || failures=$((failures + 1))
done

# The planted jump must show, or the comparison above proves nothing.
for row in "arm64 gcc -O2 planted|aarch64|aarch64-linux-gnu-g++|-O2" \
           "riscv64 gcc -O2 planted|riscv64|riscv64-linux-gnu-g++|-O2"; do
  IFS='|' read -r label arch compiler level <<<"$row"
  check_build "$label" "$arch" "$compiler" "$level" "-DBOOTSEAL_PLANTED_BRANCH"
  if [ "$result" = same ]; then
    echo "$label: the planted jump on a secret went unseen: the check is blind" >&2
    failures=$((failures + 1))
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "branch-free check: $failures build(s) failed" >&2
  exit 1
fi
echo "branch-free check: every build takes one path for both secret sets; the planted jump was seen"
