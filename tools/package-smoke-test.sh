#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian package the way the README tells a user to (configure and build BUILD_DIR,
# whatever its options, then cpack), checks it with lintian (no error or warning may stay),
# installs it with dpkg, checks that every installed tool is linked dynamically, runs each
# installed tool once (the sample loader through all four kinds of image, verify on each, keygen
# into a scratch folder, the manual pages, the bash completion), and removes the package again.
#
#     bash tools/package-smoke-test.sh BUILD_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: package-smoke-test.sh BUILD_DIR}
cmake -S "$src" -B "$build" >/dev/null && cmake --build "$build" -j2 >/dev/null
build=$(cd "$build" && pwd)
rm -f "$build"/bootseal_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/bootseal_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends
[[ $(dpkg-deb -f "$deb" Depends) == *libmbedcrypto* ]] ||
  { echo "Depends does not name mbedtls's library" >&2; exit 1; }
# lintian refuses to run as root unless told it may.
if lintian --allow-root --fail-on error,warning "$deb"; then
  echo "lintian: no errors, no warnings"
else
  echo "lintian found errors or warnings" >&2
  exit 1
fi

scratch=$(mktemp -d)
cleanup() {
  dpkg -r bootseal >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
dpkg -i "$deb" >/dev/null
for tool in $(dpkg -L bootseal | grep '^/usr/bin/'); do
  # ldd fails on a static executable ("not a dynamic executable").
  libraries=$(ldd "$tool") && [[ $libraries == *libmbedcrypto* ]] ||
    { echo "$tool is not linked dynamically with mbedtls" >&2; exit 1; }
done
echo "installed tools: all linked dynamically with mbedtls"

cd "$scratch"
cp "$build/sample-loader.bin" .
/usr/bin/bootseal-keygen --dir "$scratch" --aes
for run in "229 0" "229 1" "341 2" "229 3"; do
  set -- $run
  /usr/bin/bootseal sample-loader.bin "image-$1-$2.bin" "$1" "$2" >/dev/null
  /usr/bin/bootseal-verify "image-$1-$2.bin" --chip "$1" --secure "$2" | tail -n 1
done
/usr/bin/bootseal-sign --quiet --chip 341 --secure 2 --aes-key aes.txt --rsa-key rsa_priv.txt \
  --rsa-pub rsa_pub.txt sample-loader.bin signed.bin
cmp signed.bin image-341-2.bin && echo "bootseal-sign: the same image as bootseal"
for page in bootseal bootseal-verify bootseal-keygen bootseal-sign; do
  MANWIDTH=80 man "$page" 2>&1 >/dev/null | { ! grep .; } || { echo "man $page warned"; exit 1; }
  man -w "$page" >/dev/null
done
for tool in bootseal bootseal-verify bootseal-keygen bootseal-sign; do
  bash -c "source /usr/share/bash-completion/bash_completion
           _completion_loader $tool; complete -p $tool" >/dev/null ||
    { echo "no bash completion for $tool"; exit 1; }
done
echo "installed package: all tools ran and their manual pages render"
