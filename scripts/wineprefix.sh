#!/usr/bin/env bash
# Prepares a throwaway wine prefix in the given folder (idempotent), for the
# wine that the environment names (scripts/winenv.sh; sourced here when the
# caller did not). Usage: scripts/wineprefix.sh DIR
set -euo pipefail
P="$(mkdir -p "$1" && cd "$1" && pwd)"
if [ -z "${LUMORA_WINE:-}" ]; then . "$(dirname "$0")/winenv.sh"; fi
export WINEPREFIX="$P"
if [ ! -f "$P/.lumora-ready" ]; then
  "$LUMORA_WINE" wineboot -i >/dev/null 2>&1
  "$LUMORA_WINESERVER" -w
  mkdir -p "$P/drive_c/windows/Fonts"
  for f in /usr/share/wine/fonts/*; do ln -sf "$f" "$P/drive_c/windows/Fonts/"; done
  # No window manager runs on Xvfb: let wine draw the frames itself.
  "$LUMORA_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  "$LUMORA_WINESERVER" -w
  touch "$P/.lumora-ready"
fi
