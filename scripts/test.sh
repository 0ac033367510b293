#!/usr/bin/env bash
# Builds Brontel and runs every test:
#   1. the `default` preset (Debug, ASan + UBSan, -Werror): unit tests, fuzz
#      corpus replays and the install check, through ctest;
#   2. if clang is present, the `fuzz` preset: every libFuzzer target runs for
#      BRONTEL_FUZZ_SECONDS (default 20) on a scratch copy of its seed corpus.
# Exits non-zero on any failure.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)

bash scripts/deps.sh

echo "== default preset: configure, build, ctest"
cmake --preset default
cmake --build --preset default
ctest_log=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$work" "$ctest_log"' EXIT
ctest --preset default --output-on-failure -j2 2>&1 | tee "$ctest_log"
ctest_count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9][0-9]*\).*/\1/p' "$ctest_log" | tail -n1)
ctest_count=${ctest_count:-0}

fuzz_passed=0
if ! command -v clang++ >/dev/null; then
  echo "== clang++ not found: skipping the fuzz preset"
else
  echo "== fuzz preset: configure, build, run each fuzzer"
  cmake --preset fuzz
  cmake --build --preset fuzz
  seconds=${BRONTEL_FUZZ_SECONDS:-20}
  artifacts="$root/build/fuzz/artifacts"
  failed=()
  shopt -s nullglob
  for bin in build/fuzz/bin/*_fuzz; do
    name=$(basename "$bin")
    corpus="$work/$name/corpus"
    mkdir -p "$corpus" "$artifacts/$name"
    if [[ -d "fuzz/corpus/$name" ]]; then
      cp -R "fuzz/corpus/$name/." "$corpus/"
    fi
    log="$work/$name/fuzz.log"
    echo "-- $name: ${seconds}s on $(find "$corpus" -type f | wc -l) seed inputs"
    if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$name/" "$corpus" >"$log" 2>&1; then
      grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
      fuzz_passed=$((fuzz_passed + 1))
    else
      echo "!! $name failed; last lines of its log (artifacts in $artifacts/$name):"
      tail -n 60 "$log"
      failed+=("$name")
    fi
  done
  if ((${#failed[@]} > 0)); then
    echo "fuzzers failed: ${failed[*]}"
    exit 1
  fi
fi

echo "tests: $((ctest_count + fuzz_passed)) passed, 0 failed"
