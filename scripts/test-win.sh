#!/usr/bin/env bash
# Builds the Windows build that this machine can run (scripts/winenv.sh) and
# runs CTest entries of it under wine: scripts/test-win.sh [ctest args...]
# e.g. scripts/test-win.sh -R engine_run. One build at a time: a lock keeps
# two callers from building the same tree at once.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
. scripts/winenv.sh
mkdir -p build
exec 9>"build/.$LUMORA_WIN_PRESET.lock"
flock 9
echo "== $LUMORA_WIN_ARCH Windows build in $LUMORA_WIN_BUILD, tests under $(basename "$LUMORA_WINE")"
[ -f "$LUMORA_WIN_BUILD/build.ninja" ] || cmake --preset "$LUMORA_WIN_PRESET" >/dev/null
cmake --build "$LUMORA_WIN_BUILD" -j2
bash scripts/wineprefix.sh "$LUMORA_WIN_BUILD/wineprefix"
ctest --test-dir "$LUMORA_WIN_BUILD" --output-on-failure "$@"
