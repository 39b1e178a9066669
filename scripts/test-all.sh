#!/usr/bin/env bash
# Runs every test of both builds on a fresh Debian 12 machine (as root):
# installs what is missing, builds the native module (plain; clang with
# ASan+UBSan and the thread-safety analysis; TSan) and the Windows modules, and
# runs all tests, the Windows ones under wine.
#
#   scripts/test-all.sh [--quick]
#     --quick: the native build and the Windows build with their fast tests
#
# Which Windows build runs its tests is decided by trying (scripts/winenv.sh):
# where 32-bit programs run, the i686 build (the product) under wine32; where
# they cannot, the x86_64 build under wine64, and the i686 build is then built
# and checked statically. LUMORA_WIN_ARCH=i686|x86_64 forces the choice.
#
# The two ten-minute end-to-end runs (label long) start in the background as
# soon as their build is done and run beside the other stages; the run ends
# with a table of every stage: its time and what it ran.
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
QUICK=0; [ "${1:-}" = "--quick" ] && QUICK=1
# A fresh clone reuses the objects of earlier builds of the same sources.
export CCACHE_NOHASHDIR=true CCACHE_BASEDIR="$ROOT"
JOBS=${LUMORA_TEST_JOBS:-3}
LOGS="$ROOT/build/test-logs"

START=$(date +%s)
declare -a ROWS=()
failed=()
declare -A LONG_PIDS=()
cleanup() {
  for p in "${LONG_PIDS[@]}"; do kill -- -"$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
  for b in "${WIN_BUILDS[@]:-}"; do
    [ -n "$b" ] && [ -d "$b/wineprefix" ] && WINEPREFIX="$b/wineprefix" "${LUMORA_WINESERVER:-/bin/false}" -k 2>/dev/null || true
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

stage() { echo; echo "==== $1 ($(date +%T))"; }
# row NAME SECONDS RESULT: one line of the closing table.
row() { ROWS+=("$(printf '%-44s %6s  %s' "$1" "$(printf '%d:%02d' $(($2 / 60)) $(($2 % 60)))" "$3")"); }
# What a CTest log says it ran.
ctest_result() {
  local line
  line=$(grep -E '^[0-9]+% tests passed' "$1" | tail -1)
  if [ -z "$line" ]; then grep -q "No tests were found" "$1" && echo "no tests" || echo "did not finish"; return; fi
  sed -E 's/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+)/\2 tests, \1 failed/' <<<"$line"
}
# timed NAME CMD...: runs a step, records its row; a failure is remembered.
timed() {
  local name=$1 t0 rc; shift
  stage "$name"
  t0=$(date +%s)
  "$@"
  rc=$?
  row "$name" $(($(date +%s) - t0)) "$([ $rc = 0 ] && echo ok || echo "FAILED (rc $rc)")"
  [ $rc = 0 ] || failed+=("$name")
  return $rc
}
build() {  # preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}
# tests NAME BUILD-DIR CTEST-ARGS...: a CTest run with its own log and row.
tests() {
  local name=$1 dir=$2 t0 rc log; shift 2
  log="$LOGS/$name.log"
  stage "$name"
  t0=$(date +%s)
  ctest --test-dir "$dir" -j"$JOBS" --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  row "$name" $(($(date +%s) - t0)) "$(ctest_result "$log")"
  [ $rc = 0 ] || failed+=("$name")
}
# long_start NAME BUILD-DIR: the long runs of a build, in the background.
long_start() {
  # -V: the runs print their figures (gaps, pauses, downloads), kept in the log.
  local log="$LOGS/$1.log"
  stage "$1: started in the background (log: $log)"
  ( set -m; t0=$(date +%s)
    ctest --test-dir "$2" -V --no-tests=error -L long >"$log" 2>&1
    echo "$? $(($(date +%s) - t0))" >"$log.rc" ) &
  LONG_PIDS["$1"]=$!
}
long_wait() {  # NAME: waits for the background run of that name, if one was started
  local log="$LOGS/$1.log" rc secs
  [ -n "${LONG_PIDS[$1]:-}" ] || return 0
  stage "$1: waiting for the background run"
  wait "${LONG_PIDS[$1]}" 2>/dev/null; unset "LONG_PIDS[$1]"
  cat "$log"
  read -r rc secs <"$log.rc" 2>/dev/null || { rc=1; secs=0; }
  row "$1 (in the background)" "$secs" "$(ctest_result "$log")"
  [ "$rc" = 0 ] || failed+=("$1")
}

mkdir -p "$LOGS"
timed "bootstrap" bash scripts/bootstrap.sh || { echo "FAILED: bootstrap (see above)"; exit 1; }
. scripts/winenv.sh
WIN_BUILDS=("$LUMORA_WIN_BUILD")
if [ "$LUMORA_WIN_ARCH" = i686 ]; then
  echo "Windows tests: i686 build (the product) under wine32 ($LUMORA_WINE)"
else
  echo "Windows tests: x86_64 build under wine64 ($LUMORA_WINE): 32-bit programs do not run here (or LUMORA_WIN_ARCH forced it); the i686 product is built and checked statically"
fi

timed "format" bash scripts/check-format.sh
timed "stand-in service tests" python3 -m unittest discover -s tools -p 'test_*.py'

timed "native: build" build native && {
  [ $QUICK = 1 ] || long_start "native: long runs" build/native
  tests "native: tests" build/native -L fast
}

# The product is built on every machine; where wine32 cannot run it, it is
# checked without running it.
if [ "$LUMORA_WIN_ARCH" != i686 ]; then
  timed "win i686 (product): build" build win && tests "win i686 (product): static checks" build/win -L static
fi
timed "win $LUMORA_WIN_ARCH: build" build "$LUMORA_WIN_PRESET" && {
  bash scripts/wineprefix.sh "$LUMORA_WIN_BUILD/wineprefix"
  # Wine's server and its own processes (services, device drivers, desktop)
  # inherit the output of the program that started them and outlive it: start
  # them now with their output going nowhere, so none holds a test's pipe.
  WINEPREFIX="$LUMORA_WIN_BUILD/wineprefix" "$LUMORA_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$LUMORA_WIN_BUILD/wineprefix" "$LUMORA_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
  [ $QUICK = 1 ] || long_start "win $LUMORA_WIN_ARCH: long runs" "$LUMORA_WIN_BUILD"
  tests "win $LUMORA_WIN_ARCH: tests" "$LUMORA_WIN_BUILD" -L fast
}

if [ $QUICK = 0 ]; then
  # One clang build carries ASan, UBSan, the thread-safety analysis (warnings
  # are errors) and the fuzz targets; the long runs' paths run under ASan in
  # the engine tests and e2e_engine.
  timed "native clang ASan+UBSan: build" build native-asan && tests "native clang ASan+UBSan: tests" build/native-asan -L fast
  # Races show in the threaded in-process programs; the runs through the
  # stand-in host and the crash children add nothing there but time, and the
  # simulation drives the engine on one thread (its month under TSan took
  # over ten minutes and could find no race).
  timed "native TSan: build" build native-tsan && tests "native TSan: tests" build/native-tsan -L fast -LE "host|crash|sim"
  export LUMORA_FUZZ_BUILD="${LUMORA_FUZZ_BUILD:-$ROOT/build/native-asan}"
  timed "fuzzers (${LUMORA_FUZZ_SECONDS:-15} s each)" bash scripts/fuzz.sh "${LUMORA_FUZZ_SECONDS:-15}"
  long_wait "native: long runs"
  long_wait "win $LUMORA_WIN_ARCH: long runs"
fi

total=$(($(date +%s) - START))
echo
echo "==== summary: $(date -u +%F) on $(nproc) cores, commit $(git rev-parse --short HEAD 2>/dev/null || echo '?'), Windows tests: $LUMORA_WIN_ARCH under $(basename "$LUMORA_WINE")"
printf '%-44s %6s  %s\n' "stage" "time" "result"
printf '%s\n' "${ROWS[@]}"
printf '%-44s %6s\n' "whole command$([ $QUICK = 1 ] && echo ' (--quick)')" "$(printf '%d:%02d' $((total / 60)) $((total % 60)))"
if ((${#failed[@]})); then echo "FAILED: ${failed[*]}"; exit 1; fi
echo "ALL TESTS PASSED"
