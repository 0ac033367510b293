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
# A desktop and a handheld kept in step through one cache directory: their
# calendars, then their contacts.
"$brontel" demo --dir "$tmp/demo"
echo
echo "== The calendar cache file as stored, shown by brontel show:"
"$brontel" show "$tmp/demo/cache2_m.pfe"
echo
echo "== The contact cache file as stored, shown by brontel show:"
"$brontel" show "$tmp/demo/cache2_m.pft"
echo
echo "== A log file:"
"$brontel" sample-log "$tmp/sample.pff"
"$brontel" show "$tmp/sample.pff"
