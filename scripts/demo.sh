#!/usr/bin/env bash
# The road of a wallpaper in one command: starts the stand-in service, runs the
# plug-in in the stand-in host for a minute (Windows module under wine by
# default, the native one with --native) with one search feed and one
# collection feed and a small cache, then prints what happened.
#
#   scripts/demo.sh [--native] [--seconds N]
#
# The Windows module is the one this machine's wine can run (scripts/winenv.sh:
# the i686 product under wine32, or the x86_64 build under wine64 where 32-bit
# programs do not run; LUMORA_WIN_ARCH forces either). Build folders:
# build/win, build/win64 or build/native (configured from the presets and
# built when missing); LUMORA_BUILD_DIR names another one.
set -Eeuo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Every failing step says which step, why and what to try; none ends silently.
STEP="starting"
HINT=""
on_error() {
  local rc=$?
  echo >&2
  echo "demo: FAILED in step \"$STEP\" (exit status $rc)." >&2
  [ -z "$HINT" ] || echo "demo: $HINT" >&2
  if [ "$rc" = 126 ]; then
    echo "demo: status 126 is the kernel refusing a program (\"Exec format error\"): this machine may not run 32-bit programs; unset LUMORA_WIN_ARCH to let scripts/winenv.sh pick the build that runs here." >&2
  fi
  if [ "${native:-0}" = 0 ]; then
    echo "demo: the native build needs no wine: try  bash scripts/demo.sh --native" >&2
  fi
  exit "$rc"
}
trap on_error ERR
step() { STEP="$1"; HINT="$2"; }
native=0
seconds=60
while [ $# -gt 0 ]; do
  case "$1" in
    --native) native=1 ;;
    --seconds) seconds="$2"; shift ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "demo: unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

# Everything the builds and wine need (idempotent; quick once installed).
step "installing what the builds need" "the bootstrap printed the step that failed above; it needs root and Debian's package archive."
bash "$root/scripts/bootstrap.sh"

if [ "$native" = 1 ]; then
  preset=native
else
  step "choosing the Windows build" "scripts/winenv.sh could not tell which wine runs here."
  . "$root/scripts/winenv.sh"
  preset="$LUMORA_WIN_PRESET"
  echo "== Windows module: $LUMORA_WIN_ARCH build under $(basename "$LUMORA_WINE")"
fi
build="${LUMORA_BUILD_DIR:-$root/build/$preset}"
if [ "$native" = 1 ]; then
  module="$build/liblumora.so"; host="$build/vdthost"
else
  module="$build/lumora.vpl"; host="$build/vdthost.exe"
fi
if [ ! -f "$module" ] || [ ! -f "$host" ]; then
  echo "== building the $preset preset in $build"
  step "building the $preset preset" "the compiler's messages are above; a clean build folder may help: rm -rf $build"
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
  if [ "$native" = 0 ] && [ -d "$prefix" ]; then WINEPREFIX="$prefix" "$LUMORA_WINESERVER" -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== starting the stand-in service"
step "starting the stand-in service" "it is tools/lumora_service.py (python3); its output is in $service_dir/stdout.log."
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
step "running the plug-in in the stand-in host" "the host's output is in $log."
if [ "$native" = 1 ]; then
  LUMORA_SERVICE_URL="$url" "$host" --module "$module" --settings "$ini" run --seconds "$seconds" --show-every 2 \
    > "$log" 2>&1
else
  step "preparing the wine prefix" "wine ($LUMORA_WINE) could not start in $prefix."
  "$root/scripts/wineprefix.sh" "$prefix"
  step "running the plug-in in the stand-in host under wine" "the host's output is in $log."
  WINEPREFIX="$prefix" LUMORA_SERVICE_URL="$url" \
    "$LUMORA_WINE" "$host" --module "$(winpath "$module")" --settings "$(winpath "$ini")" run --seconds "$seconds" \
    --show-every 2 > "$log" 2>&1
fi
step "summing up" ""

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
