#!/usr/bin/env bash
# Builds Brontel and runs every test:
#   1. the `default` preset (Debug, ASan + UBSan, -Werror): unit tests, fuzz
#      corpus replays and the install check, through ctest;
#   2. if clang is present, the `fuzz` preset: every libFuzzer target runs for
#      BRONTEL_FUZZ_SECONDS (default 20) on a scratch copy of its seed corpus,
#      with fuzz/<target>.dict as its dictionary when there is one.
# Exits non-zero on any failure.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

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
  fuzz_log="$work/fuzzers.log"
  scripts/run_fuzzers.sh "${BRONTEL_FUZZ_SECONDS:-20}" build/fuzz | tee "$fuzz_log"
  fuzz_passed=$(grep -c ': clean$' "$fuzz_log" || true)
fi

echo "tests: $((ctest_count + fuzz_passed)) passed, 0 failed"
