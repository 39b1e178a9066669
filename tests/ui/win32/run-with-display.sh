#!/usr/bin/env bash
# Runs a Windows test program under wine on a private X display:
#   run-with-display.sh PROGRAM.exe [args...]
# Starts Xvfb (and stops it), prepares the wine prefix named by WINEPREFIX
# with the wine the environment names (scripts/winenv.sh),
# and takes screenshots for the program: it writes NAME.req holding a window
# caption into a queue folder of this run (given to it as
# LUMORA_SCREENSHOT_DIR), this script saves NAME.png of that window on its own
# display into the screenshot folder and answers with NAME.done. Runs side by
# side (the dialog tests in shards) each serve only their own queue.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
: "${WINEPREFIX:?WINEPREFIX must name the wine prefix to use}"
if [ -z "${LUMORA_WINE:-}" ]; then prefix="$WINEPREFIX"; . "$root/scripts/winenv.sh"; export WINEPREFIX="$prefix"; fi
shots="${LUMORA_SCREENSHOT_DIR:?LUMORA_SCREENSHOT_DIR must name the screenshot folder}"
queue="$shots/.queue.$$"
mkdir -p "$queue"

"$root/scripts/wineprefix.sh" "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/.lumora-ui-ready" ]; then
  # No sound: every warning box beeps, and looking for an audio device costs
  # seconds per box on a machine without one.
  "$LUMORA_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f >/dev/null 2>&1
  "$LUMORA_WINESERVER" -w
  touch "$WINEPREFIX/.lumora-ui-ready"
fi

tmp="$(mktemp -d)"
xvfb_pid="" watcher_pid=""
cleanup() {
  [ -n "$watcher_pid" ] && kill "$watcher_pid" 2>/dev/null
  # Only this test's prefix: other tests keep theirs.
  "$LUMORA_WINESERVER" -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp" "$queue"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do [ -s "$tmp/display" ] && break; sleep 0.05; done
if [ ! -s "$tmp/display" ]; then echo "Xvfb did not start"; cat "$tmp/xvfb.log"; exit 1; fi
export DISPLAY=":$(tr -d '[:space:]' < "$tmp/display")"

watch_shots() {
  while :; do
    for req in "$queue"/*.req; do
      [ -e "$req" ] || continue
      name="$(basename "$req" .req)"
      caption="$(cat "$req")"
      if ! /usr/bin/import -window "$caption" "$shots/$name.png" 2>>"$shots/import.log"; then
        echo "screenshot of '$caption' failed" >&2
      fi
      rm -f "$req"
      : > "$queue/$name.done"
    done
    sleep 0.1
  done
}
watch_shots &
watcher_pid=$!

LUMORA_SCREENSHOT_DIR="$queue" "$LUMORA_WINE" "$@"
exit $?
