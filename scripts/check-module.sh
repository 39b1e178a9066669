#!/usr/bin/env bash
# Looks at a built Windows module without running it: what a host loads must be
# the right architecture, export exactly the message function at ordinal 1,
# import only Windows' own DLLs (the runtime is linked in), carry no debug
# sections (they go to lumora.dbg, which it names) and stay small.
#   check-module.sh MODULE OBJDUMP ARCH(i686|x86_64)
set -uo pipefail
module=$1 objdump=$2 arch=$3
fails=0
fail() { echo "check-module: $module: $*" >&2; fails=$((fails + 1)); }

[ -s "$module" ] || { fail "missing or empty"; exit 1; }
case "$arch" in
  i686) format=pei-i386 max=1520000 ;;  # 1.5 MB until the cache list was read and written in pieces (+7 KB)
  x86_64) format=pei-x86-64 max=1800000 ;;
  *) echo "check-module: unknown architecture '$arch'" >&2; exit 2 ;;
esac
header="$("$objdump" -f "$module")" || { fail "objdump -f failed"; exit 1; }
grep -q "file format $format" <<<"$header" || fail "not a $format module: $(grep -o 'file format .*' <<<"$header")"

dump="$("$objdump" -p "$module")"
exports="$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[\s*[0-9]*\]\s\+\(\S\+\).*/\1/p')"
[ "$exports" = "_vdtPlugInMsgHandler@12" ] || fail "exports '$(tr '\n' ' ' <<<"$exports")', not only _vdtPlugInMsgHandler@12"
grep -q "Export Address Table -- Ordinal Base 1" <<<"$dump" || fail "the export's ordinal base is not 1"

imports="$(grep -o 'DLL Name: \S*' <<<"$dump" | cut -d' ' -f3 | tr 'A-Z' 'a-z' | sort -u)"
grep -qx "kernel32.dll" <<<"$imports" || fail "does not import kernel32.dll"
bad="$(grep -E 'libgcc|libstdc|libwinpthread|mingw|msvcp|vcruntime' <<<"$imports")"
[ -z "$bad" ] || fail "imports runtime DLLs that users do not have: $(tr '\n' ' ' <<<"$bad")"

sections="$("$objdump" -h "$module" | awk '{print $2}')"
! grep -q '^\.debug' <<<"$sections" || fail "carries debug sections"
"$objdump" -s -j .gnu_debuglink "$module" 2>/dev/null | grep -q 'lumora\.dbg' || fail "does not name lumora.dbg in its debug link"

size=$(stat -c %s "$module")
[ "$size" -le "$max" ] || fail "is $size bytes, more than $max"

if [ $fails -gt 0 ]; then exit 1; fi
echo "check-module: $module: $format, one export at ordinal 1, imports $(wc -l <<<"$imports") system DLLs, no debug sections, $size bytes"
