#!/usr/bin/env bash
# The road of a wallpaper in one command: starts the stand-in service, runs the
# plug-in in the stand-in host for a minute (Windows module under wine by
# default, the native one with --native) with one search feed and one
# collection feed and a small cache, then prints what happened.
#
#   scripts/demo.sh [--native] [--seconds N]
#
# Build folders: build/win or build/native (configured from the presets and
# built when missing); LUMORA_BUILD_DIR names another one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
native=0
seconds=60
while [ $# -gt 0 ]; do
  case "$1" in
    --native) native=1 ;;
    --seconds) seconds="$2"; shift ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

# Everything the builds and wine need (idempotent; quick once installed).
bash "$root/scripts/bootstrap.sh"

if [ "$native" = 1 ]; then preset=native; else preset=win; fi
build="${LUMORA_BUILD_DIR:-$root/build/$preset}"
if [ "$native" = 1 ]; then
  module="$build/liblumora.so"; host="$build/vdthost"
else
  module="$build/lumora.vpl"; host="$build/vdthost.exe"
fi
if [ ! -f "$module" ] || [ ! -f "$host" ]; then
  echo "== building the $preset preset in $build"
  [ -f "$build/build.ninja" ] || cmake --preset "$preset" -B "$build" >/dev/null
  cmake --build "$build" -j2 --target lumora vdthost
fi

work="$(mktemp -d /tmp/lumora-demo.XXXXXX)"
service_dir="$work/service"
images="$work/images"
mkdir -p "$images"
prefix="$build/wineprefix"
cleanup() {
  "$root/scripts/service-ctl.sh" stop "$service_dir" >/dev/null 2>&1 || true
  if [ "$native" = 0 ] && [ -d "$prefix" ]; then WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT INT TERM

echo "== starting the stand-in service"
url="$("$root/scripts/service-ctl.sh" start "$service_dir")"
echo "   $url"

# Paths as the module sees them: wine maps the Linux root to drive Z:.
winpath() { if [ "$native" = 1 ]; then printf '%s' "$1"; else printf 'Z:%s' "${1//\//\\}"; fi; }
ini="$work/host.ini"
cat > "$ini" <<INI
[LumoraPlugIn]
Enabled=1
ImgFolder=$(winpath "$images")
VpropTitle=1
VpropDescr=1
MaxLocal=5
nFeeds=2
Feed0_Type=0
Feed0_Flg=1
Feed0_Query=
Feed0_Purity=110
Feed0_Sorting=0
Feed1_Type=1
Feed1_Flg=1
Feed1_Username=demo
Feed1_CollId=42
Feed1_CollName=Everything
Feed1_Purity=110
INI

log="$work/host.log"
echo "== running the plug-in for $seconds s (a shown image every 2 s)"
if [ "$native" = 1 ]; then
  LUMORA_SERVICE_URL="$url" "$host" --module "$module" --settings "$ini" run --seconds "$seconds" --show-every 2 \
    > "$log" 2>&1
else
  "$root/scripts/wineprefix.sh" "$prefix"
  WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LUMORA_SERVICE_URL="$url" \
    wine "$host" --module "$(winpath "$module")" --settings "$(winpath "$ini")" run --seconds "$seconds" \
    --show-every 2 > "$log" 2>&1
fi

echo
echo "== summary ($images)"
echo "images per purity folder:"
for d in "$images"/*/; do
  [ -d "$d" ] || continue
  n=$(find "$d" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.png' -o -iname '*.gif' \) | wc -l)
  printf '  %-10s %d\n' "$(basename "$d")" "$n"
done
echo "side files (.vprop):      $(find "$images" -name '*.vprop' | wc -l)"
echo "temporary files (.__t):   $(find "$images" -name '*.__t' | wc -l)"
list="$images/vdt_vd_files.lst"
if [ -f "$list" ]; then
  echo "cache list records:       $(sed -n '2p' "$list" | tr -d '\r')"
else
  echo "cache list records:       (no list written)"
fi
echo "downloads recorded:       $(grep -c 'm_lclfiles Add: ' "$log" || true)"
echo "evictions:                $(grep -c 'CleanDispFiles: Removed' "$log" || true)"
echo "shown-file reports:       $(grep -c '^show ' "$log" || true)"
echo
echo "log excerpt (first lines, then the end):"
plugin_log="$work/plugin.log"
grep '^\[Lumora Plugin\]' "$log" > "$plugin_log" || true
sed -n '1,14s/^/  /p' "$plugin_log"
echo "  ..."
grep -E 'CleanDispFiles|cache full' "$plugin_log" > "$work/evictions.log" || true
sed -n '1,4s/^/  /p' "$work/evictions.log"
echo "  ..."
tail -n 6 "$plugin_log" | sed 's/^/  /'
echo
echo "full log: $log"
