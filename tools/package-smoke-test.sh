#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR, checks it with lintian (no error or warning may stay),
# installs it with dpkg, runs each installed tool once (the sample loader through all four kinds
# of image, verify on each, keygen into a scratch folder, the manual pages, the bash completion),
# and removes the package again.
#
#     bash tools/package-smoke-test.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: package-smoke-test.sh BUILD_DIR}" && pwd)
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/bootseal_*.deb | head -n 1)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends
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
