#!/usr/bin/env bash
# Every performance figure of the project in one run, side by side, as
# Markdown: transfers against nginx and curl (both builds, and the WinINet
# read strategies), the engine and cache list at 100k/1M records, the idle
# host under wine (working set, CPU time), the worker's steady state, the
# cache list's instruction counts (callgrind), and the size of the shipped
# module. Benchmarks only: nothing here is a test.
#
# usage: bench/run_all.sh [--native DIR] [--win DIR] [--quick] [--out FILE]
#   defaults: build/native and build/win (build/win64 where 32-bit programs do not run); the targets download_bench,
#   engine_bench, vdthost and lumora are built there first.
#   --quick: fewer rounds and shorter idle runs (figures for a first look)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# The Windows build is the one this machine's wine runs (scripts/winenv.sh).
native="$root/build/native" win="$(. "$root/scripts/winenv.sh" && echo "$LUMORA_WIN_BUILD")" quick=0 out=""
while [ $# -gt 0 ]; do
  case "$1" in
  --native) native="$2"; shift 2 ;;
  --win) win="$2"; shift 2 ;;
  --quick) quick=1; shift ;;
  --out) out="$2"; shift 2 ;;
  -h | --help) sed -n '2,12p' "$0"; exit 0 ;;
  *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
native="$(cd "$native" && pwd)" win="$(cd "$win" && pwd)"
if [ -n "$out" ]; then exec > >(tee "$out"); fi

cmake --build "$native" -j2 --target download_bench engine_bench vdthost lumora >&2
cmake --build "$win" -j2 --target download_bench vdthost lumora >&2

if [ "$quick" = 1 ]; then
  rounds=3 many=1 stops=1 idle=60 settle=25
else
  rounds=7 many=3 stops=3 idle=150 settle=40
fi

echo "# Performance figures"
echo
echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') at $(git -C "$root" rev-parse --short HEAD) on $(nproc) cores" \
  "($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')); load average at the start:" \
  "$(cut -d' ' -f1-3 /proc/loadavg)."
echo

ng="$(mktemp -d)"
trap 'rm -rf "$ng"' EXIT

echo "## Transfers (nginx on loopback, sendfile; downloads to RAM; medians of interleaved rounds)"
echo
"$root/bench/transfer_bench.sh" --nginx "$ng" --rounds "$rounds" --many "$many" --stops "$stops" "$native" "$win"
echo
echo "## WinINet read strategies (Windows build under wine)"
echo
"$root/bench/transfer_bench.sh" --nginx "$ng" --rounds 3 --no-many --stops 1 "$win:adaptive" "$win:available" "$win:block"
echo
echo "Load average after the transfers: $(cut -d' ' -f1-3 /proc/loadavg)."
echo

echo "## Engine and cache list (native, Google Benchmark)"
echo
"$native/bench/engine_bench" --benchmark_format=json > "$ng/engine.json" 2>/dev/null ||
  echo "(engine_bench ended with an error)"
python3 -c '
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations", "real_time",
        "cpu_time", "time_unit", "bytes_per_second", "items_per_second", "family_index", "per_family_instance_index",
        "label", "error_occurred", "error_message", "aggregate_name", "aggregate_unit"}
per_ms = {"ns": 1e6, "us": 1e3, "ms": 1, "s": 1e-3}
t = {}
print("| benchmark | real time (ms) | CPU time (ms) | counters |")
print("|---|---|---|---|")
for r in runs:
    name = r["name"]
    ms, cpu = r["real_time"] / per_ms[r["time_unit"]], r["cpu_time"] / per_ms[r["time_unit"]]
    t[name] = (ms, cpu)
    extra = " ".join("%s=%.6g" % (k, v) for k, v in r.items() if k not in skip)
    print("| %s | %.4g | %.4g | %s |" % (name, ms, cpu, extra))
print()
for n in ("100000", "1000000"):
    g = lambda k: t.get(k + "/" + n)
    rd, raw, split, wr, rawr = g("BM_ReadLocalFileList"), g("BM_RawReadSameBytes"), g("BM_RawReadAndSplitLines"), \
        g("BM_WriteLocalFileList"), g("BM_RawWriteSameBytes")
    if rd and raw and split and wr and rawr:
        print("- %s records, CPU time: read %.1f ms = %.1f x a raw read plus line split (%.1f ms); write %.1f ms = %.2f x"
              " a raw durable write (%.1f ms). Real time: read %.1f x, write %.2f x."
              % (n, rd[1], rd[1] / split[1], split[1], wr[1], wr[1] / rawr[1], rawr[1], rd[0] / split[0], wr[0] / rawr[0]))
' "$ng/engine.json" || true
echo
echo "## The cache list in instructions (callgrind, native)"
echo
if command -v valgrind >/dev/null; then
  "$root/bench/callgrind.sh" "$native" 100000 2>/dev/null || echo "(callgrind.sh ended with an error)"
else
  echo "(valgrind is not installed)"
fi
echo
echo "## Parsing a 24-item search page (jsoncpp), both builds"
echo
"$root/scripts/service-ctl.sh" start "$ng/service" >/dev/null
curl -s -o "$ng/page.json" "$(cat "$ng/service/url")/api/v1/search?sorting=date_added&page=1" || true
"$root/scripts/service-ctl.sh" stop "$ng/service"
pn=$("$native/bench/download_bench" parse "$ng/page.json" | sed -n 's/^parse_us_per_page=//p') || true
pw=$(. "$root/scripts/winenv.sh" && lumora_use_build "$win" && \
  "$LUMORA_WINE" "$win/bench/download_bench.exe" parse "Z:${ng//\//\\}\\page.json" | tr -d '\r' | sed -n 's/^parse_us_per_page=//p') || true
echo "- $(stat -c %s "$ng/page.json") bytes: native ${pn:-?} µs per page, Windows build under wine ${pw:-?} µs per page"
echo

echo "## Idle host with a full cache (Windows build under wine)"
echo
"$root/bench/steady_state.sh" "$native" --records "10000 100000" --seconds "$idle" > "$ng/steady.md" 2>&1 &
steady=$!
"$root/bench/host_idle.sh" "$win" --records "0 10000 100000" --seconds "$idle" --settle "$settle"
echo
echo "Row 0 is the module's own baseline (its one feed is not full, so it keeps asking a service that is not there)."
echo
echo "## Worker steady state (native, strace)"
echo
wait "$steady" || true
cat "$ng/steady.md"
echo

echo "## The shipped module"
echo
vpl="$win/lumora.vpl"
dbg="no"
(. "$root/scripts/winenv.sh" && lumora_use_build "$win" && "$LUMORA_OBJDUMP" -h "$vpl") | awk '{print $2}' | grep -q '^\.debug' && dbg="YES"
echo "- lumora.vpl: $(stat -c %s "$vpl") bytes; debug sections: $dbg; symbols in lumora.dbg: $(stat -c %s "$win/lumora.dbg") bytes"
echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
