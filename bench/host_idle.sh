#!/usr/bin/env bash
# The module inside a host with a full cache and nothing to do: working set of
# the host process and its CPU time while idle, at several cache sizes. The
# stand-in host runs the module (under wine for a Windows build), with one
# feed whose cache is full and a service address where nothing listens, so
# nothing is downloaded, evicted or shown. Prints a Markdown table; asserts
# nothing.
#
# usage: bench/host_idle.sh BUILD [--records "0 10000 100000"] [--seconds 180] [--settle 30]
#   CPU time is taken between --settle seconds after the start (the list is
#   read by then) and the end, and scaled to 10 minutes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="" records="0 10000 100000" seconds=180 settle=30
while [ $# -gt 0 ]; do
  case "$1" in
  --records) records="$2"; shift 2 ;;
  --seconds) seconds="$2"; shift 2 ;;
  --settle) settle="$2"; shift 2 ;;
  -h | --help) sed -n '2,12p' "$0"; exit 0 ;;
  *) build="$(cd "$1" && pwd)"; shift ;;
  esac
done
[ -n "$build" ] || { echo "usage: $0 BUILD [options]" >&2; exit 2; }

wine=0
if [ -f "$build/vdthost.exe" ]; then
  wine=1 host="$build/vdthost.exe" module="$build/lumora.vpl"
  . "$root/scripts/winenv.sh"
  lumora_use_build "$build"
  "$root/scripts/wineprefix.sh" "$WINEPREFIX"
else
  host="$build/vdthost" module="$build/liblumora.so"
fi
[ -f "$host" ] && [ -f "$module" ] || { echo "build vdthost and lumora in $build first" >&2; exit 2; }

work="$(mktemp -d /dev/shm/lumora-idle.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  if [ "$wine" = 1 ]; then "$LUMORA_WINESERVER" -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

hostpath() { if [ "$wine" = 1 ]; then local p="$1"; echo "Z:${p//\//\\}"; else echo "$1"; fi; }

# An image folder with N small images and the cache list naming them.
make_folder() {  # DIR N
  python3 - "$1" "$2" "$wine" <<'PY'
import os, sys
d, n, wine = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
os.makedirs(os.path.join(d, "sfw"), exist_ok=True)
sep = "\\" if wine else "/"
base = ("Z:" + d.replace("/", "\\")) if wine else d
jpeg = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(64) + b"\xff\xd9"
lines = ["[Veduta Lumora List v3]", str(n), "0", "2000-01-01 00:00:00"]
for i in range(n):
    name = "lumora-%07d.jpg" % i
    with open(os.path.join(d, "sfw", name), "wb") as f:
        f.write(jpeg)
    lines += ["w%07d" % i, base + sep + "sfw" + sep + name, "0"]
with open(os.path.join(d, "vdt_vd_files.lst"), "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode())
PY
}

# The process running the host: under wine, the one whose command line names
# vdthost.exe and whose environment carries this run's prefix.
find_host_pid() {  # PARENT_PID
  local parent="$1"
  if [ "$wine" = 0 ]; then echo "$parent"; return; fi
  for p in /proc/[0-9]*; do
    tr '\0' ' ' < "$p/cmdline" 2>/dev/null | grep -q 'vdthost.exe' || continue
    tr '\0' '\n' < "$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    tr '\0' '\n' < "$p/environ" 2>/dev/null | grep -qx "LUMORA_IDLE_RUN=$work" || continue
    echo "${p#/proc/}"; return
  done
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

hz=$(getconf CLK_TCK)
printf '| records | host RSS after the list is read (MiB) | added by the records (MiB) | CPU s while idle (%s s, scaled to 10 min) | list loaded |\n' "$((seconds - settle - 2))"
printf '|---|---|---|---|---|\n'
base_rss=""
for n in $records; do
  dir="$work/img-$n"
  make_folder "$dir" "$n"
  ini="$work/settings-$n.ini"
  cat > "$ini" <<INI
[LumoraPlugIn]
Enabled=1
ImgFolder=$(hostpath "$dir")
MaxLocal=$((n > 0 ? n : 1))
nFeeds=1
Feed0_Type=0
Feed0_Query=idle
Feed0_Purity=100
INI
  # Nothing listens on port 9: any request fails at once.
  out="$work/out-$n.txt"
  if [ "$wine" = 1 ]; then
    LUMORA_IDLE_RUN="$work" LUMORA_SERVICE_URL=http://127.0.0.1:9 "$LUMORA_WINE" "$host" --module "$(hostpath "$module")" \
      --settings "$(hostpath "$ini")" run --seconds "$seconds" --show-every 100000 > "$out" 2>&1 &
  else
    LUMORA_IDLE_RUN="$work" LUMORA_SERVICE_URL=http://127.0.0.1:9 "$host" --module "$module" --settings "$ini" \
      run --seconds "$seconds" --show-every 100000 > "$out" 2>&1 &
  fi
  runner=$!
  pids+=("$runner")
  sleep "$settle"
  pid="$(find_host_pid "$runner")"
  [ -n "$pid" ] || { echo "host process not found" >&2; cat "$out" >&2; exit 1; }
  rss0=$(rss_kb "$pid"); t0=$(cpu_ticks "$pid")
  sleep "$((seconds - settle - 2))"
  t1=$(cpu_ticks "$pid")
  wait "$runner" || true
  loaded=$(tr -d '\r' < "$out" | sed -n 's/.*file list loaded (\([0-9]*\) local.*/\1/p' | tail -1)
  [ -z "$base_rss" ] && base_rss=$rss0
  cpu=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$((seconds - settle - 2))" 'BEGIN { printf "%.2f (%.2f)", (b - a) / hz, (b - a) / hz * 600 / s }')
  printf '| %s | %.1f | %.1f | %s | %s |\n' "$n" "$(echo "$rss0" | awk '{print $1/1024}')" \
    "$(awk -v a="$base_rss" -v b="$rss0" 'BEGIN { print (b - a) / 1024 }')" "$cpu" "${loaded:-no}"
  rm -rf "$dir"
done
