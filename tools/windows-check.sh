#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the Windows build in WIN_BUILD (made by tools/build-windows.sh) under wine, against the
# Linux build in LINUX_BUILD: Windows' unit tests, the shared conformance vectors, and a round
# trip of all four tools whose images, transcripts and reports must be the Linux tools' byte for
# byte (a Unicode file name included).
#
#     bash tools/windows-check.sh WIN_BUILD LINUX_BUILD
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "${1:?usage: windows-check.sh WIN_BUILD LINUX_BUILD}" && pwd)
linux=$(cd "${2:?usage: windows-check.sh WIN_BUILD LINUX_BUILD}" && pwd)
export WINEPREFIX="$win/wine-prefix" WINEDEBUG=-all
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine)
work=$(mktemp -d)
# One server for every run, rather than one per run, and wine's own services started once here
# with nothing of ours open: started by a test, they would keep its output pipe open.
wineserver -p </dev/null >/dev/null 2>&1
"$loader" wineboot </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1; rm -rf "$work"' EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

# A command line that runs the Windows tool $1 under wine, for scripts that take one program.
for tool in bootseal bootseal-sign bootseal-verify bootseal-keygen; do
    printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$loader" "$win/$tool.exe" >"$work/$tool-win"
    chmod +x "$work/$tool-win"
done

echo "== unit tests under wine"
(cd "$win" && ctest --output-on-failure) || fail "the Windows unit tests"

echo "== conformance vectors under wine"
bash "$source_dir/tools/run-vectors.sh" "$work/bootseal-win" || fail "the conformance vectors"

echo "== round trip"
cd "$work" || exit 1
mkdir linux windows
cp "$linux/sample-loader.bin" "linux/caf$(printf '\xc3\xa9')-$(printf '\xe3\x83\xad\xe3\x83\xbc\xe3\x83\x80').bin"
cp "$linux/sample-loader.bin" windows/
cp "$linux/sample-loader.bin" linux/
cp linux/caf*.bin windows/
# The Windows keygen makes the keys; both sides seal, sign and verify with them.
(cd windows && "$work/bootseal-keygen-win" --aes --pem --dir keys >keygen.out 2>&1) ||
    fail "bootseal-keygen.exe: $(cat windows/keygen.out)"
for f in rsa_priv.txt rsa_pub.txt aes.txt private.pem public.pem; do
    [ -s "windows/keys/$f" ] || fail "bootseal-keygen.exe wrote no $f"
done
cp -r windows/keys linux/keys
chmod 600 linux/keys/*  # wine gives the files it makes the mode 0750 on the Linux side
for side in linux windows; do cp "$side"/keys/{aes.txt,rsa_priv.txt,rsa_pub.txt} "$side/"; done

# One line per run: a name, then the tool and its arguments, run in each side's folder.
runs=(
    "plain|bootseal|sample-loader.bin plain.bin 229 0"
    "aes-signed|bootseal|sample-loader.bin aes.bin 229 1"
    "rsa-signed|bootseal|sample-loader.bin rsa.bin 341 2"
    "wr-key|bootseal|sample-loader.bin wr.bin 229 3"
    "unicode name|bootseal|caf$(printf '\xc3\xa9')-$(printf '\xe3\x83\xad\xe3\x83\xbc\xe3\x83\x80').bin caf$(printf '\xc3\xa9')-out.bin 341 2"
    "sign with PEM|bootseal-sign|--chip 341 --secure 2 --aes-key keys/aes.txt --rsa-key keys/private.pem sample-loader.bin signed.bin"
    "sign, JSON|bootseal-sign|--chip 229 --secure 1 --aes-key keys/aes.txt --json sample-loader.bin signed-aes.bin"
    "two steps|bootseal-sign|--chip 341 --secure 2 --aes-key keys/aes.txt --rsa-pub keys/public.pem --to-sign block.bin sample-loader.bin unsigned.bin"
    "verify strict|bootseal-verify|--chip 341 --secure 2 --keys keys --strict signed.bin"
    "verify JSON|bootseal-verify|--chip 229 --secure 1 --aes-key keys/aes.txt --json --decrypt plain-aes.bin signed-aes.bin"
    "verify info|bootseal-verify|rsa.bin"
    "refused token|bootseal-sign|--chip 341 --secure 2 --aes-key keys/aes.txt --rsa-key pkcs11:token=t sample-loader.bin t.bin"
)
for run in "${runs[@]}"; do
    IFS='|' read -r name tool args <<<"$run"
    read -ra argv <<<"$args"
    (cd linux && "$linux/$tool" "${argv[@]}" >"../$name.linux.out" 2>"../$name.linux.err"; echo $? >"../$name.linux.status")
    (cd windows && "$work/$tool-win" "${argv[@]}" >"../$name.win.out" 2>"../$name.win.err"; echo $? >"../$name.win.status")
    if [ "$name" = "refused token" ]; then
        [ "$(cat "$name.win.status")" = 2 ] && grep -q "not in this build" "$name.win.err" ||
            fail "$name: status $(cat "$name.win.status"), $(cat "$name.win.err")"
        continue
    fi
    cmp -s "$name.linux.status" "$name.win.status" ||
        fail "$name: status $(cat "$name.win.status") on Windows, $(cat "$name.linux.status") on Linux"
    cmp -s "$name.linux.out" "$name.win.out" || fail "$name: standard output differs: $(diff "$name.linux.out" "$name.win.out" | head -5)"
    cmp -s "$name.linux.err" "$name.win.err" || fail "$name: standard error differs: $(diff "$name.linux.err" "$name.win.err" | head -5)"
done
for image in plain.bin aes.bin rsa.bin wr.bin "caf$(printf '\xc3\xa9')-out.bin" signed.bin signed-aes.bin unsigned.bin block.bin plain-aes.bin; do
    [ -s "windows/$image" ] || { fail "no $image on Windows"; continue; }
    cmp -s "linux/$image" "windows/$image" || fail "$image differs between Linux and Windows"
done
# Neither side left a temporary.
leftover=$(find linux windows -name '.bootseal*')
[ -z "$leftover" ] || fail "temporaries left: $leftover"

if [ "$failed" -ne 0 ]; then
    echo "windows-check: $failed failed"
    exit 1
fi
echo "windows-check: all passed"
