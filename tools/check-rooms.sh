#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The rooms' two rules, read from the #include lines of the library and the front ends:
#  1. only platform/ includes an operating-system header (getopt.h aside: the option parsers use
#     getopt_long, which every target's C library has);
#  2. includes point down: platform/ (0) <- digest/, image/, rsa/, keys/, token/ (1) <- seal/ (2)
#     <- check/, verify/, sign/, keygen/, driver/ (3); a room includes its own level or lower.
#
#     bash tools/check-rooms.sh [ROOT]
#
# Prints every include that breaks a rule, and fails when there is one.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
declare -A level=([platform]=0 [digest]=1 [image]=1 [rsa]=1 [keys]=1 [token]=1 [seal]=2
                  [check]=3 [verify]=3 [sign]=3 [keygen]=3 [driver]=3)
os_headers='unistd\.h|fcntl\.h|termios\.h|signal\.h|csignal|sys/[a-z_/]+\.h|cpuid\.h|dirent\.h|pwd\.h|grp\.h|poll\.h|dlfcn\.h|windows\.h|wincrypt\.h|bcrypt\.h|io\.h|direct\.h'
broken=0
for room in "${!level[@]}"; do
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
      target=${header%%/*}
      if [ "$target" != "$header" ] && [ -n "${level[$target]:-}" ] &&
         [ "${level[$target]}" -gt "${level[$room]}" ]; then
        echo "$file:$number: $room/ includes $header of the higher room $target/"
        broken=1
      fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
  done
done
exit $broken
