#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each one for a
# while from seeds made fresh from the stand-in service and the state-file
# layouts. A crash or a broken invariant fails the run and leaves its input
# in BUILD/fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds per target (default 15)]
# Environment: LUMORA_FUZZ_BUILD (default build/fuzz; the test command uses
# the native-asan tree, which carries the fuzz targets), LUMORA_FUZZ_TARGETS
# (space-separated subset).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SECS="${1:-15}"
BUILD="$(realpath -m "${LUMORA_FUZZ_BUILD:-$ROOT/build/fuzz}")"
TARGETS="${LUMORA_FUZZ_TARGETS:-fuzz_search_answer fuzz_collections_answer fuzz_cache_list fuzz_paging
  fuzz_local_name fuzz_encoders fuzz_host_ini}"

echo "==== fuzz: configure and build ($BUILD)"
# A tree configured for fuzzing already (the native-asan preset is one) is
# used as it is; any other folder is configured here.
if ! grep -qs '^LUMORA_SANITIZE:STRING=fuzzer-no-link' "$BUILD/CMakeCache.txt"; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DLUMORA_SANITIZE=fuzzer-no-link,address,undefined \
    -DCMAKE_PROJECT_INCLUDE="$ROOT/fuzz/hook.cmake" >/dev/null
fi
# shellcheck disable=SC2086
cmake --build "$BUILD" --target $TARGETS

OUT="$BUILD/fuzz"
rm -rf "$OUT/seeds"
python3 "$ROOT/fuzz/make_corpus.py" "$OUT/seeds"
mkdir -p "$OUT/findings" "$OUT/logs"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
table="| target | seconds | runs | exec/s | result |"$'\n'"|---|---|---|---|---|"
passed=0; failed=0
for t in $TARGETS; do
  corpus="$OUT/corpus/$t"; mkdir -p "$corpus"
  log="$OUT/logs/$t.log"
  start=$(date +%s)
  set +e
  "$OUT/$t" -max_total_time="$SECS" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$OUT/findings/$t-" "$corpus" "$OUT/seeds/$t" >"$log" 2>&1
  rc=$?
  set -e
  took=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^#[0-9]*.*DONE.*exec\/s: *\([0-9]*\).*/\1/p' "$log" | tail -1)
  [ -n "$rate" ] || rate=$(( ${runs:-0} / (took > 0 ? took : 1) ))
  if [ $rc = 0 ]; then result=ok; passed=$((passed + 1)); else result="FAILED (see $log)"; failed=$((failed + 1)); fi
  table+=$'\n'"| $t | $took | ${runs:-?} | $rate | $result |"
  echo "fuzz: $t: $result, ${runs:-?} runs in ${took}s (${rate} exec/s)"
  [ $rc = 0 ] || grep -m5 -E "ERROR|invariant broken|SUMMARY" "$log" || true
done
echo "$table" > "$OUT/table.md"
echo
echo "$table"
echo
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
