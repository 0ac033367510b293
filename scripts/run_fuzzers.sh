#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while on a scratch copy of
# its seed corpus (with fuzz/<target>.dict as its dictionary when there is one)
# and prints one line per target: executions, seconds, and what it found.
#
#   scripts/run_fuzzers.sh SECONDS [BUILD_DIR] [TARGET...]
#
# BUILD_DIR defaults to build/fuzz (the `fuzz` preset); TARGETs default to
# every *_fuzz program there. Inputs that crash, leak or time out are kept in
# BUILD_DIR/artifacts/<target>/. Exits non-zero when any target failed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:?usage: run_fuzzers.sh SECONDS [BUILD_DIR] [TARGET...]}
build=${2:-build/fuzz}
shift $(($# < 2 ? $# : 2))

targets=("$@")
if ((${#targets[@]} == 0)); then
  shopt -s nullglob
  for bin in "$build"/bin/*_fuzz; do targets+=("$(basename "$bin")"); done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"
failed=()
for name in "${targets[@]}"; do
  corpus="$work/$name/corpus"
  mkdir -p "$corpus" "$artifacts/$name"
  if [[ -d "fuzz/corpus/$name" ]]; then
    cp -R "fuzz/corpus/$name/." "$corpus/"
  fi
  dict=()
  if [[ -f "fuzz/$name.dict" ]]; then
    dict=(-dict="fuzz/$name.dict")
  fi
  log="$work/$name/fuzz.log"
  seeds=$(find "$corpus" -type f | wc -l)
  if "$build/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$name/" "${dict[@]}" "$corpus" \
    >"$log" 2>&1; then
    outcome="clean"
  else
    outcome="FAILED"
    failed+=("$name")
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n1)
  echo "$name: ${execs:-?} executions in ${took:-?} s from $seeds seeds, corpus $(find "$corpus" -type f | wc -l): $outcome"
  if [[ $outcome == FAILED ]]; then
    echo "!! last lines of its log (artifacts in $artifacts/$name):"
    tail -n 60 "$log"
  fi
done
if ((${#failed[@]} > 0)); then
  echo "fuzzers failed: ${failed[*]}"
  exit 1
fi
