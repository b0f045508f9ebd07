#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The constant-flow check of reading a private key and of the RSA private-key operation in every
# build that matters: gcc and clang, -O0 and -O2, with the processor's arithmetic and with the
# portable one. Each build of
# tests/constant_flow_check.cpp (the key files' bytes marked undefined for memcheck as they are
# read) must run under valgrind with no report at all, and its planted branch on a key bit must
# be reported.
#
#     bash tools/constant-flow-check.sh BUILD_DIR
#
# BUILD_DIR is a configured and built tree (its libbootseal_core.a gives key loading and the
# rest; the arithmetic and the key readers are compiled here for each build). Needs valgrind and
# clang.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: constant-flow-check.sh BUILD_DIR}" && pwd)
keys="$src/tests/data/keys/pair-high"
work=$(mktemp -d /tmp/bootseal-flow.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The key readers mark the file's bytes secret as they read them: they are compiled here with
# the marks on, rather than taken from the library, which is built without them.
readers=("$src/keys/key_reader.cpp" "$src/keys/key_bytes.cpp" "$src/keys/pem_keys.cpp"
         "$src/seal/rsa_private_key.cpp")

failed=0
for cxx in g++ clang++; do
  for opt in -O0 -O2; do
    for arithmetic in native portable; do
      name="$cxx $opt $arithmetic"
      defines=(-DBOOTSEAL_CONSTANT_FLOW_CHECK)
      [ "$arithmetic" = portable ] && defines+=(-DBOOTSEAL_PORTABLE_LIMBS)
      program="$work/check-$cxx$opt-$arithmetic"
      "$cxx" -std=c++17 "$opt" -gdwarf-4 -Wall -Wextra -Werror "${defines[@]}" -I"$src" \
        "$src/tests/constant_flow_check.cpp" "$src/rsa/rsa_crt.cpp" "$src/rsa/montgomery.cpp" \
        "$src/rsa/mod_inverse.cpp" "$src/rsa/limbs.cpp" "${readers[@]}" \
        "$build/libbootseal_core.a" -lmbedcrypto -o "$program"
      if ! valgrind -q --error-exitcode=1 "$program" "$keys" >"$work/log" 2>&1; then
        echo "$name: memcheck reports a secret-dependent branch or address"
        cat "$work/log"
        failed=1
      elif valgrind -q --error-exitcode=1 "$program" "$keys" --planted-leak >"$work/log" 2>&1; then
        echo "$name: the planted branch on a key bit was not reported: the check is blind"
        failed=1
      else
        echo "$name: no report; the planted leak is reported"
      fi
    done
  done
done
exit $failed
