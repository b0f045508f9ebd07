#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Proves the README on a fresh Debian root: debootstrap makes a minimal SUITE root, the checkout
# (its tracked files as they are in the work tree) and the shared vectors are copied in, the
# README's two commands run there verbatim as root, then the conformance vectors.
#
# The root is entered with chroot inside a private mount namespace, with its own /proc and /sys
# and the device nodes debootstrap made. The machine's /dev is never bound into it: the suite
# writes device files as root, and removing a root with a bound /dev would remove the machine's
# own device nodes. The mounts end with the namespace, and the root is removed only when nothing
# is mounted under it.
#
#     bash tools/fresh-debian-check.sh SUITE [MIRROR]
set -euo pipefail
suite=${1:?usage: fresh-debian-check.sh SUITE [MIRROR]}
mirror=${2:-http://deb.debian.org/debian}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /var/tmp/bootseal-"$suite".XXXXXX)
root="$work/root"

cleanup() {
  if findmnt -rn -o TARGET | grep -q "^$work"; then
    echo "something is still mounted under $work: not removing it" >&2
    return
  fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

echo "debootstrap $suite"
if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1; then
  tail -n 20 "$work/debootstrap.log"
  exit 1
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

mkdir -p "$root/src/main"
git -C "$src" ls-files -z --cached --others --exclude-standard | tar -C "$src" --null -T - -cf - | tar -C "$root/src/main" -xf -
if [ -d "$src/../shared/vectors" ]; then
  mkdir -p "$root/src/shared"
  cp -r "$src/../shared/vectors" "$root/src/shared/vectors"
fi

# The README opens with the two commands, each the only line of a sh block.
awk '/^```sh$/ { inside = 1; block++; next } /^```$/ { inside = 0; if (block == 2) exit; next }
     inside { print }' \
  "$src/README.md" >"$root/src/readme-commands"
if [ "$(wc -l <"$root/src/readme-commands")" -ne 2 ]; then
  echo "README: expected two commands at its start" >&2
  exit 1
fi

cat >"$root/src/check.sh" <<'INNER'
set -euo pipefail
cd /src/main
n=0
while IFS= read -r command; do
  n=$((n + 1))
  echo "== README command $n: $command"
  bash -euo pipefail -c "$command"
done </src/readme-commands
echo "== conformance vectors"
bash tools/run-vectors.sh build/bootseal /src/shared/vectors
INNER

unshare --mount --propagation private -- /bin/bash -c '
  set -e
  mount -t proc proc "$1/proc"
  mount -t sysfs sysfs "$1/sys"
  mount -t tmpfs tmpfs "$1/tmp"
  exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive /bin/bash /src/check.sh' _ "$root"
