#!/usr/bin/env bash
# Image transfer benchmark: DownloadImage of one large file from the stand-in
# service on loopback against `curl -o` of the same URL in the same run, plus
# memory before/after and the parse time of a 24-item page.
#
# usage: bench/download_bench.sh [BUILD_DIR] [ROUNDS] [MIB]
#   BUILD_DIR  a configured build with target download_bench (default build/native);
#              a Windows build runs under wine with BUILD_DIR/wineprefix
#   ROUNDS     transfers per side (default 7); MIB  file size (default 50)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/native}" && pwd)"
rounds="${2:-7}"
mib="${3:-50}"

bin="$build/bench/download_bench"
runner=()
if [ -f "$bin.exe" ]; then
  bin="$bin.exe"
  export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$root/scripts/wineprefix.sh" "$WINEPREFIX"
  runner=(wine)
fi
[ -x "$bin" ] || [ -f "$bin" ] || { echo "no $bin: build the target download_bench first" >&2; exit 2; }

work="$(mktemp -d)"
cleanup() {
  "$root/scripts/service-ctl.sh" stop "$work/service" || true
  if [ ${#runner[@]} -gt 0 ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
"$root/scripts/service-ctl.sh" start "$work/service" >/dev/null
url="$(cat "$work/service/url")"

echo "file: $url/bench/${mib}mb.jpg, $rounds rounds per side, interleaved"
out="$work/ours.jpg"
[ ${#runner[@]} -gt 0 ] && out="Z:${out//\//\\}"
curl_speeds=()
ours=""
# Alternate the two sides so that load from elsewhere on the machine falls
# on both alike.
for _ in $(seq "$rounds"); do
  s=$(curl -s -o "$work/curl.jpg" -w '%{speed_download}' "$url/bench/${mib}mb.jpg")
  curl_speeds+=("$s")
  ours+=$("${runner[@]}" "$bin" "$url" "$out" 1 "$mib" | tr -d '\r')$'\n'
done
cmp -s "$work/curl.jpg" "$work/ours.jpg" && same=yes || same=NO

python3 - "$mib" "$same" "$ours" "${curl_speeds[@]}" <<'PY'
import statistics, sys
mib, same, ours = int(sys.argv[1]), sys.argv[2], sys.argv[3]
curl = sorted(float(s) / 1048576 for s in sys.argv[4:])
vals = dict(l.split("=", 1) for l in ours.splitlines() if "=" in l)  # the last round's figures
mine = sorted(mib / float(l.split("=")[1]) for l in ours.splitlines() if l.startswith("ours_round_seconds="))
print("curl -o       best %8.1f MiB/s  median %8.1f MiB/s" % (curl[-1], statistics.median(curl)))
print("DownloadImage best %8.1f MiB/s  median %8.1f MiB/s" % (mine[-1], statistics.median(mine)))
print("ratio (DownloadImage / curl): best %.2f  median %.2f" % (mine[-1] / curl[-1],
      statistics.median(mine) / statistics.median(curl)))
print("files identical: %s" % same)
print("memory: rss before %s KiB, peak before %s KiB; rss after %s KiB, peak after %s KiB" % (
    vals["rss_before_kb"], vals["peak_before_kb"], vals["rss_after_kb"], vals["peak_after_kb"]))
print("parse: %s bytes, %s items, %s us per page" % (vals["page_bytes"], vals["page_items"],
      vals["parse_us_per_page"]))
PY
