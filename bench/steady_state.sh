#!/usr/bin/env bash
# Steady state of the worker with a full cache and nothing to do (native
# build): how often its thread wakes and which files it writes, counted from
# the system calls of the stand-in host running the module under strace.
# Prints a Markdown table; asserts nothing.
#
# usage: bench/steady_state.sh BUILD [--records "10000 100000"] [--seconds 120]
#   BUILD: a native build with the targets vdthost and lumora
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="" records="10000 100000" seconds=120
while [ $# -gt 0 ]; do
  case "$1" in
  --records) records="$2"; shift 2 ;;
  --seconds) seconds="$2"; shift 2 ;;
  -h | --help) sed -n '2,9p' "$0"; exit 0 ;;
  *) build="$(cd "$1" && pwd)"; shift ;;
  esac
done
[ -n "$build" ] && [ -x "$build/vdthost" ] && [ -f "$build/liblumora.so" ] ||
  { echo "usage: $0 NATIVE_BUILD (with vdthost and liblumora.so built)" >&2; exit 2; }
command -v strace >/dev/null || { echo "strace is not installed" >&2; exit 2; }

work="$(mktemp -d /dev/shm/lumora-steady.XXXXXX)"
trap 'rm -rf "$work"' EXIT

printf '| records | seconds | worker wake-ups (timed waits ended) | per minute | files opened for writing, renamed or deleted by the worker | list loaded |\n'
printf '|---|---|---|---|---|---|\n'
for n in $records; do
  dir="$work/img-$n"
  python3 - "$dir" "$n" <<'PY'
import os, sys
d, n = sys.argv[1], int(sys.argv[2])
os.makedirs(os.path.join(d, "sfw"), exist_ok=True)
jpeg = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(64) + b"\xff\xd9"
lines = ["[Veduta Lumora List v3]", str(n), "0", "2000-01-01 00:00:00"]
for i in range(n):
    name = "lumora-%07d.jpg" % i
    with open(os.path.join(d, "sfw", name), "wb") as f:
        f.write(jpeg)
    lines += ["w%07d" % i, os.path.join(d, "sfw", name), "0"]
with open(os.path.join(d, "vdt_vd_files.lst"), "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode())
PY
  ini="$work/settings-$n.ini"
  printf '[LumoraPlugIn]\nEnabled=1\nImgFolder=%s\nMaxLocal=%s\nnFeeds=1\nFeed0_Type=0\nFeed0_Query=idle\nFeed0_Purity=100\n' \
    "$dir" "$n" > "$ini"
  trace="$work/trace-$n.txt"
  # Nothing listens on port 9: a request, if any were made, fails at once.
  LUMORA_SERVICE_URL=http://127.0.0.1:9 strace -f -qq -o "$trace" \
    -e trace=futex,clock_nanosleep,nanosleep,poll,ppoll,openat,rename,renameat,renameat2,unlink,unlinkat \
    "$build/vdthost" --module "$build/liblumora.so" --settings "$ini" run --seconds "$seconds" \
    --show-every 100000 > "$work/out-$n.txt" 2>&1 || true
  python3 - "$trace" "$dir" "$n" "$seconds" "$work/out-$n.txt" <<'PY'
import re, sys
trace, folder, n, seconds, out = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), sys.argv[5]
lines = open(trace, errors="replace").read().splitlines()
# The worker is the thread that reads the cache list.
worker = None
for l in lines:
    if "vdt_vd_files.lst" in l and "openat" in l:
        worker = l.split()[0]
        break
wakes, writes = 0, []
for l in lines:
    if worker is None or not l.startswith(worker + " "):
        continue
    if ("futex(" in l and "ETIMEDOUT" in l) or ("clock_nanosleep(" in l and "= 0" in l):
        wakes += 1
    if re.search(r"openat\(.*O_(WRONLY|RDWR)", l) or re.search(r"\b(rename|renameat2?|unlink|unlinkat)\(", l):
        if "= -1" not in l:
            writes.append(l.split(None, 1)[1][:100])
log = open(out, errors="replace").read()
m = re.findall(r"file list loaded \((\d+) local", log)
print("| %s | %.0f | %d | %.1f | %d%s | %s |" % (n, seconds, wakes, wakes * 60 / seconds, len(writes),
      (": " + "; ".join(writes[:3])) if writes else "", m[-1] if m else "no"))
PY
  rm -rf "$dir"
done
