#!/usr/bin/env bash
# The one place that says how the Windows build is run on this machine: which
# build (i686 or x86_64), which wine, which wine server, which prefix and which
# binutils. Every script sources it; CMake asks it for the test environment.
#
#   . scripts/winenv.sh           picks the build for this machine and exports
#                                 LUMORA_WIN_ARCH, LUMORA_WIN_PRESET, LUMORA_WIN_BUILD
#                                 and the variables of lumora_wine_env (below)
#   scripts/winenv.sh --arch      prints the picked architecture (i686 | x86_64)
#   scripts/winenv.sh --env ARCH PREFIX
#                                 prints KEY=VALUE lines for that build and prefix
#   lumora_use_build DIR          (once sourced) exports those of a configured
#                                 Windows build folder, its prefix inside it
#
# The pick is made by trying: a tiny 32-bit program is run; where it runs, the
# Windows tests run under wine32 on the i686 build (the product); where the
# kernel refuses it ("Exec format error": no 32-bit user code at all), under
# wine64 on the x86_64 build. LUMORA_WIN_ARCH=i686 or x86_64 forces either.

# True when this machine runs 32-bit x86 programs: a 93-byte static i386 ELF
# whose only work is exit(0) through int 0x80.
lumora_runs_32bit() {
  local f rc
  f="$(mktemp "${TMPDIR:-/tmp}/lumora-i386.XXXXXX")" || return 1
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000T\200\004\0104\000\000\000\000\000\000\000\000\000\000\0004\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\0001\333\270\001\000\000\000\315\200' >"$f"
  chmod +x "$f"
  "$f" >/dev/null 2>&1
  rc=$?
  rm -f "$f"
  return $rc
}

lumora_pick_arch() {
  case "${LUMORA_WIN_ARCH:-}" in
    i686 | x86_64) echo "$LUMORA_WIN_ARCH"; return ;;
    "") ;;
    *) echo "LUMORA_WIN_ARCH must be i686 or x86_64, not '$LUMORA_WIN_ARCH'" >&2; return 1 ;;
  esac
  if lumora_runs_32bit; then echo i686; else echo x86_64; fi
}

# KEY=VALUE lines: the wine loader, server and binutils of ARCH, the prefix,
# and wine's quiet, prompt-free settings.
lumora_wine_env() {
  local arch=$1 prefix=$2 server=/usr/lib/wine/wineserver64
  [ -x "$server" ] || server=/usr/lib/wine/wineserver32
  case "$arch" in
    i686)
      echo "LUMORA_WINE=/usr/lib/wine/wine"
      echo "WINELOADER=/usr/lib/wine/wine"
      echo "WINEARCH=win32" ;;
    x86_64)
      echo "LUMORA_WINE=/usr/lib/wine/wine64"
      echo "WINELOADER=/usr/lib/wine/wine64"
      echo "WINEARCH=win64" ;;
    *) echo "unknown Windows architecture '$arch'" >&2; return 1 ;;
  esac
  echo "LUMORA_WINESERVER=$server"
  echo "WINESERVER=$server"
  echo "LUMORA_OBJDUMP=/usr/bin/$arch-w64-mingw32-objdump"
  echo "WINEPREFIX=$prefix"
  echo "WINEDEBUG=-all"
  echo "WINEDLLOVERRIDES=mscoree,mshtml="
}

lumora_preset_of() { if [ "$1" = i686 ]; then echo win; else echo win64; fi; }

# The architecture of a configured Windows build folder (from its toolchain).
lumora_arch_of_build() {
  sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*mingw-\(i686\|x86_64\)\.cmake$/\1/p' "$1/CMakeCache.txt" 2>/dev/null
}

# Exports the wine environment for the programs of one Windows build folder,
# with its prefix inside it (for scripts that run a given build, such as the
# benchmarks).
lumora_use_build() {
  local arch kv
  arch="$(lumora_arch_of_build "$1")"
  [ -n "$arch" ] || { echo "$1 is not a configured Windows build folder" >&2; return 1; }
  while IFS= read -r kv; do export "$kv"; done < <(lumora_wine_env "$arch" "$1/wineprefix")
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    --arch) lumora_pick_arch ;;
    --env) lumora_wine_env "$2" "$3" ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
  esac
  exit $?
fi

LUMORA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LUMORA_WIN_ARCH="$(lumora_pick_arch)" || return 1
LUMORA_WIN_PRESET="$(lumora_preset_of "$LUMORA_WIN_ARCH")"
LUMORA_WIN_BUILD="$LUMORA_ROOT/build/$LUMORA_WIN_PRESET"
export LUMORA_WIN_ARCH LUMORA_WIN_PRESET LUMORA_WIN_BUILD
while IFS= read -r kv; do export "$kv"; done < <(lumora_wine_env "$LUMORA_WIN_ARCH" "$LUMORA_WIN_BUILD/wineprefix")
