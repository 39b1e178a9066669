#!/usr/bin/env bash
# Image transfers against nginx on loopback: DownloadImage of each given build
# against `curl -o` of the same files, interleaved round by round so that load
# from elsewhere on the machine falls on every side alike. Prints a Markdown
# table of medians and ratios; asserts nothing.
#
# usage: bench/transfer_bench.sh [options] BUILD[:READMODE]...
#   BUILD      a build folder with the target download_bench (a Windows build
#              runs under wine with BUILD/wineprefix)
#   READMODE   Windows builds: sets LUMORA_WININET_READ for that side, so the
#              read strategies can be compared in one run (see bench/README.md)
# options:
#   --rounds N     big-file rounds per side (default 7)
#   --mib N        big-file size (default 200)
#   --small N      small files per many-files round (default 100, 300 KiB each)
#   --many N       many-files rounds per side (default 3)
#   --stops N      stop measurements per side and server kind (default 3)
#   --no-many / --no-stop   skip those parts
#   --nginx DIR    reuse files and server state in DIR (default: a fresh temp dir)
#   --out FILE     also write the raw samples there
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds=7 mib=200 small=100 many=3 stops=3 do_many=1 do_stop=1 ngdir="" rawout=""
sides=()
while [ $# -gt 0 ]; do
  case "$1" in
  --rounds) rounds="$2"; shift 2 ;;
  --mib) mib="$2"; shift 2 ;;
  --small) small="$2"; shift 2 ;;
  --many) many="$2"; shift 2 ;;
  --stops) stops="$2"; shift 2 ;;
  --no-many) do_many=0; shift ;;
  --no-stop) do_stop=0; shift ;;
  --nginx) ngdir="$2"; shift 2 ;;
  --out) rawout="$2"; shift 2 ;;
  -h | --help) sed -n '2,21p' "$0"; exit 0 ;;
  *) sides+=("$1"); shift ;;
  esac
done
[ ${#sides[@]} -gt 0 ] || { echo "usage: $0 [options] BUILD[:READMODE]..." >&2; exit 2; }

work="$(mktemp -d /dev/shm/lumora-bench.XXXXXX)"  # downloads go to RAM
own_ng=0
if [ -z "$ngdir" ]; then ngdir="$(mktemp -d)"; own_ng=1; fi
prefixes=()
cleanup() {
  "$root/bench/nginx.sh" stop "$ngdir" || true
  for p in "${prefixes[@]}"; do WINEPREFIX="$p" "$LUMORA_WINESERVER" -k 2>/dev/null || true; done
  rm -rf "$work"
  if [ "$own_ng" = 1 ]; then rm -rf "$ngdir"; fi
}
trap cleanup EXIT
url="$("$root/bench/nginx.sh" start "$ngdir" "$mib" "$small" 300)"

# Per side: label, program, runner, environment.
labels=() ; progs=() ; winep=() ; modes=()
for s in "${sides[@]}"; do
  dir="${s%%:*}"; mode=""; [ "$s" != "$dir" ] && mode="${s#*:}"
  dir="$(cd "$dir" && pwd)"
  if [ -f "$dir/bench/download_bench.exe" ]; then
    . "$root/scripts/winenv.sh"
    lumora_use_build "$dir"
    "$root/scripts/wineprefix.sh" "$dir/wineprefix"
    prefixes+=("$dir/wineprefix")
    progs+=("$dir/bench/download_bench.exe"); winep+=("$dir/wineprefix")
    labels+=("wine:$(basename "$dir")${mode:+:$mode}")
  elif [ -x "$dir/bench/download_bench" ]; then
    progs+=("$dir/bench/download_bench"); winep+=("")
    labels+=("native:$(basename "$dir")${mode:+:$mode}")
  else
    echo "no download_bench in $dir: build that target first" >&2; exit 2
  fi
  modes+=("$mode")
done

# run SIDE ARGS...: runs the side's program; paths given as unix paths.
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
run() {
  local i="$1"; shift
  if [ -n "${winep[$i]}" ]; then
    local args=() a
    for a in "$@"; do case "$a" in /*) args+=("$(winpath "$a")") ;; *) args+=("$a") ;; esac; done
    WINEPREFIX="${winep[$i]}" LUMORA_WININET_READ="${modes[$i]}" "$LUMORA_WINE" "${progs[$i]}" "${args[@]}" | tr -d '\r'
  else
    "${progs[$i]}" "$@"
  fi
}
# A wine process start is not part of a transfer: warm each prefix once.
for i in "${!labels[@]}"; do [ -n "${winep[$i]}" ] && run "$i" parse /dev/null >/dev/null 2>&1 || true; done

raw="$work/raw.tsv"
: > "$raw"
sample() { printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$raw"; }
val() { sed -n "s/^$1=//p" | tail -1; }
now() { date +%s.%N; }

echo "big file: $url/f/big.jpg ($mib MiB), $rounds rounds per side, interleaved" >&2
bytes=$((mib * 1048576))
for r in $(seq "$rounds"); do
  s=$(curl -s -o "$work/curl.jpg" -w '%{time_total}' "$url/f/big.jpg")
  sample big curl "$s"
  for i in "${!labels[@]}"; do
    o="$(run "$i" big "$url/f/big.jpg" "$work/ours.jpg" 1)" || { echo "${labels[$i]} failed" >&2; exit 1; }
    sample big "${labels[$i]}" "$(echo "$o" | val seconds)"
    if [ "$r" = 1 ]; then
      cmp -s "$work/curl.jpg" "$work/ours.jpg" || { echo "${labels[$i]}: file differs from curl's" >&2; exit 1; }
      sample mem_before "${labels[$i]}" "$(echo "$o" | val rss_before_kb)"
      sample mem_peak "${labels[$i]}" "$(echo "$o" | val peak_after_kb)"
    fi
  done
  rm -f "$work/curl.jpg" "$work/ours.jpg"
done

if [ "$do_many" = 1 ]; then
  list="$work/list.txt"
  for n in $(seq -f '%03g' 1 "$small"); do echo "$url/f/small/$n.jpg"; done > "$list"
  echo "many files: $small x 300 KiB, $many rounds per side (curl: one process per file)" >&2
  for r in $(seq "$many"); do
    mkdir -p "$work/m"
    t0=$(now)
    while read -r u; do curl -s -o "$work/m/c.jpg" "$u"; done < "$list"
    t1=$(now)
    sample many curl "$(awk -v a="$t0" -v b="$t1" -v n="$small" 'BEGIN { print (b - a) / n }')"
    for i in "${!labels[@]}"; do
      o="$(run "$i" many "$list" "$work/m")" || { echo "${labels[$i]} failed" >&2; exit 1; }
      sample many "${labels[$i]}" "$(echo "$o" | val seconds | awk -v n="$small" '{ print $1 / n }')"
    done
    rm -rf "$work/m"
  done
fi

if [ "$do_stop" = 1 ]; then
  echo "stop: after 1.5 s of /trickle/ (4 KiB/s) and of /burst/ (8 MiB fast, then 4 KiB/s), $stops per side" >&2
  for r in $(seq "$stops"); do
    for kind in trickle burst; do
      for i in "${!labels[@]}"; do
        o="$(run "$i" stop "$url/$kind/big.jpg" "$work/stop.jpg" 1500)"
        if [ "$(echo "$o" | val ended_before_stop)" = 1 ]; then
          sample "stop_$kind" "${labels[$i]}" nan
        else
          sample "stop_$kind" "${labels[$i]}" "$(echo "$o" | val stop_ms)"
        fi
        [ "$(echo "$o" | val result)" = -3 ] || echo "${labels[$i]} stop on $kind: result $(echo "$o" | val result)" >&2
        [ "$(echo "$o" | val file_left)" = 0 ] || echo "${labels[$i]} stop on $kind left its file" >&2
      done
    done
  done
fi

[ -n "$rawout" ] && cp "$raw" "$rawout"
python3 - "$raw" "$bytes" "$small" <<'PY'
import math, statistics, sys
raw, size, small = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = {}
order = []
for line in open(raw):
    kind, side, v = line.rstrip("\n").split("\t")
    data.setdefault(kind, {}).setdefault(side, []).append(float(v))
    if side not in order:
        order.append(side)
med = lambda xs: statistics.median(xs)
mibs = lambda sec: size / sec / 1048576
sides = [s for s in order if s != "curl"]

print("| side | big file MiB/s (median, min–max) | ratio to curl (median) | per image ms (median) | per-image ratio to curl | stop after trickle ms (median / max) | stop after burst ms (median / max) | RSS before → peak MiB |")
print("|---|---|---|---|---|---|---|---|")
def row(side):
    b = data["big"].get(side, [])
    cb = data["big"]["curl"]
    big = "%.0f (%.0f–%.0f)" % (mibs(med(b)), mibs(max(b)), mibs(min(b))) if b else "–"
    ratio = "%.2f" % (med(cb) / med(b)) if side != "curl" and b else "1"
    m = data.get("many", {}).get(side)
    cm = data.get("many", {}).get("curl")
    per = "%.1f" % (med(m) * 1000) if m else "–"
    pr = "%.2f" % (med(m) / med(cm)) if m and cm and side != "curl" else ("1" if m else "–")
    def stop(kind):
        xs = data.get(kind, {}).get(side)
        if not xs:
            return "–"
        ok = [x for x in xs if not math.isnan(x)]
        if not ok:
            return "ended before the stop"
        return "%.0f / %.0f" % (med(ok), max(ok))
    mem = "–"
    if side in data.get("mem_before", {}):
        mem = "%.1f → %.1f" % (data["mem_before"][side][0] / 1024, data["mem_peak"][side][0] / 1024)
    print("| %s | %s | %s | %s | %s | %s | %s | %s |" % (side, big, ratio, per, pr, stop("stop_trickle"), stop("stop_burst"), mem))
row("curl")
for s in sides:
    row(s)
print()
print("Ratios: time of curl / time of the side (throughput ratio) for the big file; per-image time of the side / curl's for the small files (lower is better).")
PY
