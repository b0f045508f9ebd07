#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the shared conformance vectors (VECTORS, default ../shared/vectors beside the checkout)
# against the bootseal executable BIN. The shared folder is read-only and drops empty folders, so
# a copy is run, with every vector's files/ folder present.
#
#     bash tools/run-vectors.sh BIN [VECTORS]
set -euo pipefail
bin=$(realpath "${1:?usage: run-vectors.sh BIN [VECTORS]}")
vectors=${2:-$(dirname "$0")/../../shared/vectors}
if [ ! -d "$vectors" ]; then
  echo "no conformance vectors at $vectors"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$vectors" "$work/vectors"
chmod -R u+w "$work/vectors"
for d in "$work"/vectors/*/; do mkdir -p "$d/files"; done
python3 "$work/vectors/check.py" --bin "$bin"
