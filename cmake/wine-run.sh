#!/bin/sh
# The cross build's test emulator: runs a Windows program under the wine that
# the test environment names (LUMORA_WINE, from scripts/winenv.sh) with its
# output in a file, then prints it. Wine's own processes started by the
# program (its server, services, device drivers) inherit the program's output
# and outlive it; holding a file instead of CTest's pipe, they can no longer
# keep CTest waiting for a test that has ended.
: "${LUMORA_WINE:?LUMORA_WINE must name the wine to run (see scripts/winenv.sh)}"
out=$(mktemp)
"$LUMORA_WINE" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
