#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The rooms' rules, read from the #include lines of the library and the front ends:
#  1. only platform/ includes an operating-system header (getopt.h aside: the option parsers use
#     getopt_long, which every target's C library has);
#  2. a room includes only the rooms below it that docs/architecture.md names for it, and by the
#     room's path ("keys/key_files.hpp"), never by a relative one;
#  3. rsa/ takes nothing of the dependency but its wiping (no big numbers).
#
#     bash tools/check-rooms.sh [ROOT]
#
# Prints every include that breaks a rule, and fails when there is one.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
declare -A may=(
  [platform]=""
  [digest]="platform"
  [image]="platform digest"
  [rsa]="platform"
  [keys]="platform image rsa"
  [token]="platform image keys"
  [seal]="platform digest image rsa keys token"
  [check]="platform digest image rsa keys token seal"
  [verify]="platform digest image rsa keys token seal check"
  [sign]="platform digest image rsa keys token seal"
  [keygen]="platform digest image rsa keys token seal"
  [driver]="platform digest image rsa keys token seal"
)
os_headers='unistd\.h|fcntl\.h|termios\.h|signal\.h|csignal|sys/[a-z_/]+\.h|cpuid\.h|dirent\.h|pwd\.h|grp\.h|poll\.h|dlfcn\.h|pthread\.h|sched\.h|spawn\.h|netdb\.h|link\.h|elf\.h|syslog\.h|utime\.h|netinet/[a-z_]+\.h|arpa/[a-z_]+\.h|windows\.h|wincrypt\.h|bcrypt\.h|aclapi\.h|werapi\.h|winbase\.h|winnt\.h|io\.h|direct\.h'
broken=0
for room in "${!may[@]}"; do
  [ -d "$room" ] || continue
  for file in "$room"/*.cpp "$room"/*.hpp; do
    [ -e "$file" ] || continue
    while IFS= read -r line; do
      number=${line%%:*}
      header=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1/p' <<<"${line#*:}")
      [ -n "$header" ] || continue
      if [ "$room" != platform ] && grep -Eqx "$os_headers" <<<"$header"; then
        echo "$file:$number: includes the operating system's <$header>: only platform/ may"
        broken=1
      fi
      case "$header" in
        ../* | ./* | */../*)
          echo "$file:$number: includes $header by a relative path: name it by its room"
          broken=1
          continue ;;
      esac
      if [ "$room" = rsa ] && [[ "$header" == mbedtls/* ]] && [ "$header" != mbedtls/platform_util.h ]; then
        echo "$file:$number: rsa/ includes $header: it takes no big number of the dependency"
        broken=1
      fi
      target=${header%%/*}
      if [ "$target" != "$header" ] && [ -n "${may[$target]+set}" ] && [ "$target" != "$room" ] &&
         ! grep -qw "$target" <<<"${may[$room]}"; then
        echo "$file:$number: $room/ includes $header: $room/ may include only ${may[$room]:-no other room}"
        broken=1
      fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
  done
done
exit $broken
