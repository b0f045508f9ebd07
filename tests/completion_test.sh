#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The bash completion: what pressing Tab offers after each kind of word, for bootseal and the
# companions, with the built tools answering --help.
#
#     bash tests/completion_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: completion_test.sh BUILD_DIR}" && pwd)
source /usr/share/bash-completion/bash_completion
source "$(dirname "$0")/../dist/bash-completion/bootseal"
PATH="$build:$PATH"
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT
mkdir keys && touch loader.bin

failed=0
passed=0
# expect "WORDS" "OFFERED": completes the last word of WORDS, compares the sorted offers.
expect() {
    local line=$1 want=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    local function
    function=$(complete -p "${COMP_WORDS[0]}" | sed 's/.*-F \([^ ]*\).*/\1/')
    "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    if [[ $got == "$want" ]]; then
        passed=$((passed + 1))
    else
        echo "FAIL: '$line' offered '$got', expected '$want'"
        failed=$((failed + 1))
    fi
}

expect 'bootseal lo' 'loader.bin'
expect 'bootseal loader.bin out.bin 22' '227 228 229'
expect 'bootseal loader.bin out.bin 341 ' '0 1 2 3'
expect 'bootseal-verify --ch' '--chip'
expect 'bootseal-verify --j' '--json'
expect 'bootseal-verify image --chip 34' '341 342'
expect 'bootseal-verify image --secure ' '0 1 2 3'
expect 'bootseal-verify image --keys ' 'keys'
expect 'bootseal-verify image --decrypt lo' 'loader.bin'
expect 'bootseal-keygen --f' '--force --from-pem'
expect 'bootseal-keygen --from-pem lo' 'loader.bin'
expect 'bootseal-sign --a' '--aes-key --attach'
expect 'bootseal-sign --chip 341 --secure ' '0 1 2 3'
expect 'bootseal-sign --chip 341 --rsa-key lo' 'loader.bin'
expect 'bootseal-sign --quiet ' 'keys loader.bin'
expect 'bootseal-keygen --dir ' 'keys'
expect 'bootseal-keygen --aes ' 'keys loader.bin'
# Only option lines count: not "--strict)" of a wrapped sentence, and --help once with its -h.
expect 'bootseal-verify --s' '--secure --strict'
expect 'bootseal-verify --h' '--help'
expect 'bootseal-sign --rsa-p' '--rsa-pub'
echo "completion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
