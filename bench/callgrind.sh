#!/usr/bin/env bash
# Instruction counts (callgrind) of the cache list's read and write against
# the raw references, at 100k records: figures that a busy 2-core machine does
# not blur, unlike wall or CPU time. Each benchmark runs one iteration under
# callgrind, which counts only inside the named function (--toggle-collect),
# so the benchmark's set-up is left out. Callgrind counts user-space
# instructions only: a write's ratio to a raw write (one system call) means
# nothing, so the write is given per record alone.
#
# usage: bench/callgrind.sh [NATIVE_BUILD] [RECORDS]   (defaults: build/native, 100000)
# Prints a Markdown table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/native}" && pwd)"
records="${2:-100000}"
command -v valgrind >/dev/null || { echo "valgrind is not installed (scripts/bootstrap.sh installs it)" >&2; exit 2; }
cmake --build "$build" -j2 --target engine_bench >&2
bench="$build/bench/engine_bench"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# count BENCHMARK FUNCTION: instructions counted inside FUNCTION while
# BENCHMARK/records runs one iteration.
count() {
  local log="$work/cg.$1.log"
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.$1" --toggle-collect="$2" \
    "$bench" --benchmark_filter="^$1/$records\$" --benchmark_min_time=0.000001 >/dev/null 2>"$log"
  awk '/Collected :/ { print $NF; exit }' "$log"
}

read_list=$(count BM_ReadLocalFileList 'CLumoraEngine::ReadLocalFileList*')
raw_split=$(count BM_RawReadAndSplitLines '*RawReadAndSplit(*')
write_list=$(count BM_WriteLocalFileList 'CLumoraEngine::SaveFileList*')
raw_write=$(count BM_RawWriteSameBytes '*RawDurableWrite(*')

echo "| at $records records | instructions | per record | against the raw reference |"
echo "|---|---|---|---|"
python3 - "$records" "$read_list" "$raw_split" "$write_list" "$raw_write" <<'EOF'
import sys
n, rl, rs, wl, rw = int(sys.argv[1]), *[int(x or 0) for x in sys.argv[2:]]
def row(name, v, ref):
    ratio = "%.1f x" % (v / ref) if ref else "–"
    print("| %s | %s | %.0f | %s |" % (name, format(v, ","), v / n, ratio))
row("read the cache list", rl, rs)
row("raw read plus line split", rs, 0)
row("write the cache list", wl, 0)
row("raw durable write (one system call: the kernel's copy is not counted)", rw, 0)
EOF
