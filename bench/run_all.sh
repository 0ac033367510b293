#!/usr/bin/env bash
# Builds the release preset, runs every benchmark (the median of several runs
# each), measures the peak memory of a 100 000-event desktop sync in a process
# of its own, and rewrites the results table in bench/README.md: the machine,
# the command, the medians and each target with its ratio, met or not met.
#
#   bench/run_all.sh                 build dir build/perf, 3 runs per benchmark
#   BUILD_DIR=build/x REPETITIONS=5 bench/run_all.sh
#   MAX_LOAD=1.5 bench/run_all.sh    first waits (up to 20 minutes) for the
#                                    1-minute load average to fall below 1.5
#   FILTER=Calendar bench/run_all.sh only benchmarks whose name matches
#   TABLE_ONLY=1 bench/run_all.sh    only rewrites the table from the results
#                                    of the last run
#   BRONTEL_BENCH_LARGE=1 bench/run_all.sh
#                                    also the calendar benchmarks of
#                                    client_sync_bench and record_model_bench
#                                    at 200 000 events (the table then shows
#                                    how each grows from 100 000 to 200 000,
#                                    both far beyond the processor's caches)
#   BRONTEL_BENCH_SERVER_FULL=1 bench/run_all.sh
#                                    also the server benchmarks at 100 000
#                                    events and 50 000 contacts (some minutes
#                                    more: each size generates and fills
#                                    accounts of that many records)
#
# Raw results (Google Benchmark JSON) stay in $BUILD_DIR/bench-results/.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-build/perf}
REPETITIONS=${REPETITIONS:-3}
FILTER=${FILTER:-.}
MAX_LOAD=${MAX_LOAD:-}
RESULTS="$BUILD_DIR/bench-results"

load1() { cut -d' ' -f1 /proc/loadavg; }

run_benchmarks() {
  if [[ -n "$MAX_LOAD" ]]; then
    for _ in $(seq 1 120); do
      awk -v l="$(load1)" -v m="$MAX_LOAD" 'BEGIN { exit !(l < m) }' && break
      echo "run_all: load average $(load1), waiting for it to fall below $MAX_LOAD" >&2
      sleep 10
    done
  fi

  cmake --preset release -B "$BUILD_DIR" >/dev/null
  cmake --build "$BUILD_DIR" -j2 --target client_sync_bench server_sync_bench xml_parse_bench \
    calendar_manager_bench contact_sync_bench record_model_bench generate_data brontel-server \
    brontel_cli

  mkdir -p "$RESULTS"
  LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
  STARTED=$(date -u +%Y-%m-%dT%H:%MZ)

  run() {
    local program=$1
    echo "run_all: $program" >&2
    "$BUILD_DIR/bin/$program" --benchmark_filter="$FILTER" \
      --benchmark_repetitions="$REPETITIONS" --benchmark_report_aggregates_only=true \
      --benchmark_out="$RESULTS/$program.json" --benchmark_out_format=json >/dev/null
  }
  for program in client_sync_bench server_sync_bench xml_parse_bench calendar_manager_bench \
    contact_sync_bench record_model_bench; do
    run "$program"
  done

  # Peak memory: a process that generates a 100 000-event desktop copy and
  # synchronizes it; the second process on the same directory makes the sync
  # without changes, which the table reports.
  MEMORY_DIR=$(mktemp -d "${TMPDIR:-/tmp}/brontel-memory-XXXXXX")
  "$BUILD_DIR/bin/generate_data" sync-memory --events 100000 --dir "$MEMORY_DIR" \
    >"$RESULTS/memory-first.txt"
  "$BUILD_DIR/bin/generate_data" sync-memory --events 100000 --dir "$MEMORY_DIR" \
    >"$RESULTS/memory.txt"
  rm -rf "$MEMORY_DIR"

  # The brontel tool as a whole process: `brontel calendar sync-desktop` on a
  # generated JSON copy whose cache the first run filled (so the timed runs
  # change nothing), wall-clock seconds per run.
  TOOL_DIR=$(mktemp -d "${TMPDIR:-/tmp}/brontel-tool-XXXXXX")
  for events in 10000 100000; do
    "$BUILD_DIR/bin/generate_data" calendar-json --events "$events" --out "$TOOL_DIR/copy.json"
    "$BUILD_DIR/bin/brontel" calendar sync-desktop --dir "$TOOL_DIR/cache-$events" \
      --copy "$TOOL_DIR/copy.json" >/dev/null
    : >"$RESULTS/tool-$events.txt"
    for _ in $(seq 1 "$REPETITIONS"); do
      start=$(date +%s.%N)
      "$BUILD_DIR/bin/brontel" calendar sync-desktop --dir "$TOOL_DIR/cache-$events" \
        --copy "$TOOL_DIR/copy.json" >/dev/null
      end=$(date +%s.%N)
      echo "$start $end" | awk '{ printf "%.6f\n", $2 - $1 }' >>"$RESULTS/tool-$events.txt"
    done
  done
  rm -rf "$TOOL_DIR"

  LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
  printf '%s\n%s\n%s\n' "$STARTED" "$LOAD_BEFORE" "$LOAD_AFTER" >"$RESULTS/run.txt"
}

if [[ -z "${TABLE_ONLY:-}" ]]; then
  run_benchmarks
fi
mkdir -p "$RESULTS"
{
  read -r STARTED
  read -r LOAD_BEFORE
  read -r LOAD_AFTER
} <"$RESULTS/run.txt"

CPU=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
MACHINE="$(nproc) x $CPU, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), \
$(uname -sr), file system $(df -T "$ROOT" | awk 'NR==2 {print $2}')"

python3 - "$RESULTS" "$ROOT/bench/README.md" "$MACHINE" "$STARTED" "$LOAD_BEFORE" \
  "$LOAD_AFTER" "$REPETITIONS" <<'PYTHON'
import json, os, re, sys

results, readme, machine, started, load_before, load_after, repetitions = sys.argv[1:8]

medians = {}   # name -> (real time in ms, bytes per second or None)
counters = {}  # name -> the median's whole record (its user counters)
for file in sorted(os.listdir(results)):
    if not file.endswith(".json"):
        continue
    with open(os.path.join(results, file)) as f:
        data = json.load(f)
    for b in data.get("benchmarks", []):
        if b.get("aggregate_name", "median") != "median" or b.get("error_occurred"):
            continue
        name = re.sub(r"(/iterations:\d+|/real_time)", "", b.get("run_name", b["name"]))
        name = name.replace("_median", "")
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        medians[name] = (b["real_time"] * scale, b.get("bytes_per_second"))
        counters[name] = b

for events in ("10000", "100000"):
    path = os.path.join(results, f"tool-{events}.txt")
    if os.path.exists(path):
        with open(path) as f:
            runs = sorted(float(line) for line in f if line.strip())
        if runs:
            medians[f"ToolCalendarSyncDesktopNoChange/{events}"] = (runs[len(runs) // 2] * 1e3, None)

memory = {}
with open(os.path.join(results, "memory.txt")) as f:
    for line in f:
        key, _, value = line.strip().partition("=")
        memory[key] = value

def ms(name):
    return medians[name][0] if name in medians else None

def fmt(value, unit="ms"):
    if value is None:
        return "-"
    if unit == "ms":
        return f"{value:,.1f} ms" if value < 100 else f"{value:,.0f} ms"
    return f"{value}{unit}"

rows = []      # (target, measured, limit, met)
def check(target, measured, limit, met):
    rows.append((target, measured, limit, "met" if met else "**not met**"))

# Growth: every benchmark measured at both sizes of its family.
growth = []
for name in sorted(medians):
    base, _, size = name.rpartition("/")
    pairs = {"100000": "10000", "50000": "5000"}
    if size in pairs and f"{base}/{pairs[size]}" in medians:
        small = ms(f"{base}/{pairs[size]}")
        big = ms(name)
        ratio = big / small if small else float("inf")
        growth.append((base, pairs[size], size, small, big, ratio))
        check(f"{base}: {pairs[size]} -> {size} grows at most 11-fold",
              f"{ratio:.1f}x ({fmt(small)} -> {fmt(big)})", "11x", ratio <= 11)

sync = ms("CalendarSyncDesktopNoChange/100000")
floor = ms("CalendarDurableWriteFloor/100000")
if sync is not None and floor is not None:
    check("No-change SyncDesktop of 100 000 events within 8x the durable-write floor",
          f"{sync / floor:.1f}x ({fmt(sync)} vs floor {fmt(floor)})", "8x", sync <= 8 * floor)
    check("No-change SyncDesktop of 100 000 events within 1 s", fmt(sync), "1 000 ms",
          sync <= 1000)

def rate(name):
    return medians[name][1] / 1e6 if name in medians and medians[name][1] else None
ours = rate("BM_ParseOnly/25000")
expat = rate("BM_ExpatParse/25000")
pugi = rate("BM_PugixmlParseInPlace/25000")
if ours is not None and expat is not None:
    check("Response parsing (10 MB) at least as fast as expat",
          f"{ours:.0f} MB/s vs expat {expat:.0f} MB/s", "1x", ours >= expat)
if ours is not None and pugi is not None:
    check("Response parsing (10 MB) at least half as fast as pugixml in place",
          f"{ours:.0f} MB/s vs pugixml {pugi:.0f} MB/s ({ours / pugi:.2f})", "0.5x",
          ours >= pugi / 2)

server = ms("CalendarServerNoChange/100000")
if server is not None:
    check("No-change server sync of 100 000 events on loopback under 5 s", fmt(server),
          "5 000 ms", server < 5000)
else:
    largest = max((n for n in medians if n.startswith("CalendarServerNoChange/")),
                  key=lambda n: int(n.rpartition("/")[2]), default=None)
    seen = f"; largest measured {largest}: {fmt(ms(largest))}" if largest else ""
    check("No-change server sync of 100 000 events on loopback under 5 s",
          f"not measured (BRONTEL_BENCH_SERVER_FULL unset){seen}", "5 000 ms", False)
if "peak_rss_bytes" in memory:
    peak = int(memory["peak_rss_bytes"]) / 2**20
    generated = int(memory["rss_after_generation_bytes"]) / 2**20
    check("Peak memory of a 100 000-event desktop sync under 1 GiB",
          f"{peak:.0f} MiB (the desktop copy alone {generated:.0f} MiB)", "1 024 MiB",
          peak < 1024)

# What the record model costs by itself: every holder one block, allocated
# when a manager is built and freed when it goes. A no-change SyncDesktop
# builds about two managers (the cache it reads, the working copy of its
# shadow), drops as many, and writes the cache durably; what is left of 8
# floors is all there is for parsing, merging and serializing.
bounds = []
model = ms("CalendarModelAllocate/100000")
read = counters.get("CalendarModelReadCache/100000")
if model is not None and floor is not None and read is not None and read.get("blocks"):
    blocks = read["blocks"]
    sync_blocks = read.get("sync_blocks", 2 * blocks)
    bounds.append(("Blocks a read of the 100 000-event cache allocates",
                   f"{blocks / 1e6:.2f} million, {read.get('block_bytes', 0) / 1e6:.0f} MB"))
    bounds.append(("Allocating and freeing those blocks alone (`CalendarModelAllocate/100000`)",
                   f"{fmt(model)} = {model / floor:.1f} floors"))
    bound = model * sync_blocks / blocks + floor
    bounds.append((f"The {sync_blocks / 1e6:.2f} million blocks a no-change SyncDesktop allocates "
                   f"({sync_blocks / blocks:.1f} reads' worth), allocated and freed, plus the "
                   "durable write",
                   f"{fmt(bound)} = {bound / floor:.1f} floors; "
                   f"{fmt(max(0.0, 8 * floor - bound))} of the 8-floor limit left for "
                   "parsing, merging and serializing"))

# Doubling the data where both sizes are far beyond the processor's caches
# (BRONTEL_BENCH_LARGE): a cost that grows with the data doubles here.
doubling = []
for name in sorted(medians):
    base, _, size = name.rpartition("/")
    if size == "200000" and f"{base}/100000" in medians:
        doubling.append((base, ms(f"{base}/100000"), ms(name)))

out = []
out.append(f"Machine: {machine}.  ")
out.append(f"Run: {started}, load average before {load_before}, after {load_after} "
           f"(other work shared the machine while the load is above about 1).  ")
out.append(f"Command: `bench/run_all.sh` (release preset, median of {repetitions} runs, "
           "wall-clock time).")
out.append("")
out.append("| target | measured | limit | |")
out.append("| --- | --- | --- | --- |")
for target, measured, limit, met in rows:
    out.append(f"| {target} | {measured} | {limit} | {met} |")
out.append("")
if bounds:
    out.append("What the record model costs before any parsing, merging or writing:")
    out.append("")
    out.append("| bound | measured |")
    out.append("| --- | --- |")
    for bound_name, value in bounds:
        out.append(f"| {bound_name} | {value} |")
    out.append("")
if doubling:
    out.append("From 100 000 to 200 000 events, both far beyond the processor's caches "
               "(`BRONTEL_BENCH_LARGE=1`):")
    out.append("")
    out.append("| benchmark | 100 000 | 200 000 | growth |")
    out.append("| --- | --- | --- | --- |")
    for base, small, big in doubling:
        out.append(f"| {base} | {fmt(small)} | {fmt(big)} | {big / small:.2f}x |")
    out.append("")
out.append("Medians:")
out.append("")
out.append("| benchmark | median | throughput |")
out.append("| --- | --- | --- |")
for name in sorted(medians):
    t, bps = medians[name]
    out.append(f"| {name} | {fmt(t)} | {f'{bps / 1e6:.0f} MB/s' if bps else ''} |")
table = "\n".join(out) + "\n"

begin, end = "<!-- results begin -->", "<!-- results end -->"
with open(readme) as f:
    text = f.read()
if begin in text and end in text:
    text = text[: text.index(begin) + len(begin)] + "\n" + table + text[text.index(end):]
else:
    text += f"\n{begin}\n{table}{end}\n"
with open(readme, "w") as f:
    f.write(text)
print(table)
PYTHON
