#!/usr/bin/env bash
# Prepares a throwaway 32-bit wine prefix in the given folder (idempotent).
set -euo pipefail
P="$(mkdir -p "$1" && cd "$1" && pwd)"
export WINEPREFIX="$P" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$P/.lumora-ready" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
  mkdir -p "$P/drive_c/windows/Fonts"
  for f in /usr/share/wine/fonts/*; do ln -sf "$f" "$P/drive_c/windows/Fonts/"; done
  # No window manager runs on Xvfb: let wine draw the frames itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$P/.lumora-ready"
fi
