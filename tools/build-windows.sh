#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the four tools for 64-bit Windows with MinGW-w64, from a fresh Debian 12 or 13 machine:
# installs what is missing, cross-builds mbedtls from Debian's source package (pinned by the
# checksum of its .dsc, cached between runs), builds the executables with warnings as errors
# and packs bootseal-VERSION-win64.zip, all into BUILD_DIR.
#
#     bash tools/build-windows.sh BUILD_DIR
#
# BOOTSEAL_CACHE (default ~/.cache/bootseal) keeps the built mbedtls.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: build-windows.sh BUILD_DIR}
mkdir -p "$build"
build=$(cd "$build" && pwd)
cache=${BOOTSEAL_CACHE:-$HOME/.cache/bootseal}

# The source packages this script takes mbedtls from, one per Debian release, by the SHA-256 of
# their .dsc (which holds the checksums of the archives dpkg-source checks as it unpacks them).
declare -A pinned_dsc=(
    [mbedtls_2.28.3-1.dsc]=a8bf91b5ffb40654efb0ebe0c962ac1e87b8eed5e104880982eaa70dd4bb33e3
    [mbedtls_3.6.6-0.1~deb13u1.dsc]=eb9ed1adbbddcb0d00276fac6fcee0056c64ce01481c2522a16dca75792eb5eb
)

packages=(mingw-w64 wine wine64 zip cmake make dpkg-dev libgtest-dev python3 groff-base)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    echo "installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Source lines for the archives the machine installs from, so that apt-get source finds the
# same release's mbedtls.
if ! apt-get source --print-uris mbedtls >/dev/null 2>&1; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            >/etc/apt/sources.list.d/bootseal-deb-src.sources
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/bootseal-deb-src.list
    fi
    apt-get update -qq
fi

dsc=$(apt-get source --print-uris mbedtls 2>/dev/null | awk '/\.dsc/ {gsub("\x27", "", $2); print $2}')
version=${dsc#mbedtls_}
version=${version%.dsc}
prefix="$cache/mbedtls-$version-mingw64"
if [ ! -f "$prefix/lib/libmbedcrypto.a" ]; then
    expected=${pinned_dsc[$dsc]:-}
    if [ -z "$expected" ]; then
        echo "build-windows.sh: no checksum is pinned for $dsc; add it to pinned_dsc after checking it" >&2
        exit 1
    fi
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && apt-get source --download-only mbedtls >/dev/null 2>&1)
    actual=$(sha256sum "$work/$dsc" | cut -d' ' -f1)
    if [ "$actual" != "$expected" ]; then
        echo "build-windows.sh: $dsc has SHA-256 $actual, not the pinned $expected" >&2
        exit 1
    fi
    dpkg-source --no-check -x "$work/$dsc" "$work/src" >/dev/null
    # Debian's choices of modules, less the threading on pthreads that MinGW does not have.
    (cd "$work/src" && for option in MBEDTLS_MD2_C MBEDTLS_MD4_C MBEDTLS_CMAC_C; do
        python3 scripts/config.py set "$option" 2>/dev/null || true
    done)
    cmake -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/tools/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DENABLE_PROGRAMS=OFF -DENABLE_TESTING=OFF \
        -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DMBEDTLS_FATAL_WARNINGS=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$work/build" -j"$(nproc)" >/dev/null
    cmake --install "$work/build" >/dev/null
    echo "built mbedtls $version for Windows into $prefix"
fi

cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/tools/mingw-w64.cmake" \
    -DBOOTSEAL_WINDOWS_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBOOTSEAL_WERROR=ON \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"

# The release zip: the executables, the licence, the README, the manual pages as text, and a
# SHA-256 list of its files.
project_version=$(sed -n 's/^project(bootseal VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
stage="$build/bootseal-$project_version-win64"
rm -rf "$stage" && mkdir -p "$stage"
for tool in bootseal bootseal-sign bootseal-verify bootseal-keygen; do
    cp "$build/$tool.exe" "$stage/"
    x86_64-w64-mingw32-strip "$stage/$tool.exe"
    MANWIDTH=80 groff -man -Tutf8 -P-c -P-b -P-u "$source_dir/man/$tool.1" >"$stage/$tool.txt"
done
cp "$source_dir/LICENSE" "$stage/LICENSE.txt"
cp "$source_dir/README.md" "$stage/README.md"
(cd "$stage" && sha256sum -- * >SHA256SUMS)
rm -f "$stage.zip"
(cd "$build" && TZ=UTC zip -qX -r "$(basename "$stage").zip" "$(basename "$stage")")
echo "wrote $stage.zip"
