#!/usr/bin/env bash
# Builds the release preset and runs the main job with the brontel tool.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/deps.sh
cmake --preset release
cmake --build --preset release

brontel=build/release/bin/brontel
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$brontel" version
"$brontel" sample-log "$tmp/sample.pff"
"$brontel" show "$tmp/sample.pff"
