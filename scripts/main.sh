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
# Two users' desktops and a handheld kept in step through brontel-server, which
# the demo starts (from build/release/bin) and stops itself.
"$brontel" demo --dir "$tmp/demo"
echo
echo "== Desktop B's calendar cache file (the handheld's too), shown by brontel show:"
"$brontel" show "$tmp/demo/ann-b/cache2_m.pfe"
echo
echo "== Desktop B's contact cache file, shown by brontel show:"
"$brontel" show "$tmp/demo/ann-b/cache2_m.pft"
echo
echo "== A log file:"
"$brontel" sample-log "$tmp/sample.pff"
"$brontel" show "$tmp/sample.pff"
