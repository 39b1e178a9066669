#!/usr/bin/env bash
# Runs every test of both builds on a fresh Debian 12 machine (as root):
# installs what is missing, builds native (plain, ASan+UBSan, TSan) and the
# 32-bit Windows module, and runs all tests (the Windows ones under wine).
# Usage: scripts/test-all.sh [--quick]   (--quick: plain native + Windows only)
# Stages: bootstrap, format, stand-in service, native, Windows (wine), clang
# (thread-safety analysis), ASan+UBSan, TSan, fuzzers (a short run of each).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
QUICK=0; [ "${1:-}" = "--quick" ] && QUICK=1
export WINEDEBUG=-all WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  for d in build/*/service; do [ -d "$d" ] && scripts/service-ctl.sh stop "$d" || true; done
  [ -d build/win/wineprefix ] && WINEPREFIX="$ROOT/build/win/wineprefix" wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

stage() { echo; echo "==== $1 ($(date +%T))"; }
failed=()
run_preset() {  # preset, extra ctest args...
  local p=$1; shift
  stage "$p: configure and build"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  stage "$p: tests"
  ctest --preset "$p" -j2 "$@" || failed+=("$p")
}

stage "bootstrap"
bash scripts/bootstrap.sh build/win/wineprefix

stage "format"
bash scripts/check-format.sh || failed+=("format")

stage "stand-in service tests"
python3 -m unittest discover -s tools -p 'test_*.py' || failed+=("service")

run_preset native
# Wine's server and its own processes (services, device drivers, desktop) inherit the output of
# the program that started them and outlive it. The test programs run through cmake/wine-run.sh,
# which gives them a file; the Python tests start wine themselves, so the stage starts those
# processes first, their output going nowhere, and none of them holds a test's pipe.
WINEPREFIX="$ROOT/build/win/wineprefix" wineserver -p </dev/null >/dev/null 2>&1 || true
WINEPREFIX="$ROOT/build/win/wineprefix" wine cmd /c exit </dev/null >/dev/null 2>&1 || true
run_preset win
WINEPREFIX="$ROOT/build/win/wineprefix" wineserver -k 2>/dev/null || true
if [ $QUICK = 0 ]; then
  # clang's thread-safety analysis runs as part of this build (warnings are errors);
  # its tests are the same as the plain native ones, so only the fast in-process ones run.
  run_preset native-clang -L "engine|service" -E "_host|e2e|crash"
  # The ten-minute end-to-end run (label long) runs in the native and Windows stages; under
  # ASan it would add ten minutes; its paths run under ASan in the engine tests and e2e_engine.
  run_preset native-asan -LE long
  # Races show in the threaded gtest programs; the python-driven runs add nothing there but time.
  run_preset native-tsan -E "e2e|host_contract|_host|crash"
fi

if [ $QUICK = 0 ]; then
  stage "fuzzers"
  bash scripts/fuzz.sh "${LUMORA_FUZZ_SECONDS:-15}" || failed+=("fuzz")
fi

echo
if ((${#failed[@]})); then echo "FAILED: ${failed[*]}"; exit 1; fi
echo "ALL TESTS PASSED"
