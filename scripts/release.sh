#!/usr/bin/env bash
# Builds the Windows module and its help file and packs them for users:
#   scripts/release.sh            -> dist/lumora-<version>.zip
#                                    dist/lumora-<version>.dbg (symbols, not shipped)
# The zip holds the 32-bit module, the product that 32-bit hosts load; where
# the x86_64 toolchain is installed the 64-bit module rides along in x64/.
# LUMORA_RELEASE_BUILD_DIR picks the build folder (default build/win, the
# "win" preset); it is configured and built there when needed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${LUMORA_RELEASE_BUILD_DIR:-build/win}"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset win -B "$build"
fi
cmake --build "$build" -j2 --target lumora lumora_help
# The version as the project states it (CMakeLists.txt), read from the header
# the build wrote from it.
v() { awk -v k="$1" '$1 == "#define" && $2 == k { print $3 }' "$build/generated/common/version.h"; }
version="$(v LUMORA_VERSION_MAJOR).$(v LUMORA_VERSION_MINOR).$(v LUMORA_VERSION_PATCH)"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "release: cannot read the version from $build/generated/common/version.h" >&2; exit 1; }

for f in "$build/lumora.vpl" "$build/lumora.dbg" "$build/Lumora.chm"; do
  [ -s "$f" ] || { echo "release: $f was not built" >&2; exit 1; }
done
# What users get is the right architecture, exports one function, carries no
# debug sections and stays small; the symbols stay with us, in the file the
# module's debug link names.
objdump_of() { bash scripts/winenv.sh --env "$1" /dev/null | sed -n 's/^LUMORA_OBJDUMP=//p'; }
bash scripts/check-module.sh "$build/lumora.vpl" "$(objdump_of i686)" i686 || exit 1
size=$(stat -c %s "$build/lumora.vpl")

# The 64-bit module for 64-bit hosts, when this machine has its toolchain.
build64="${LUMORA_RELEASE_BUILD64_DIR:-build/win64}"
x64=""
if [ -x /usr/bin/x86_64-w64-mingw32-g++-posix ] && [ -f "${LUMORA_DEPS:-/opt/lumora-deps}/x86_64/lib/libjsoncpp.a" ]; then
  [ -f "$build64/CMakeCache.txt" ] || cmake --preset win64 -B "$build64"
  cmake --build "$build64" -j2 --target lumora
  bash scripts/check-module.sh "$build64/lumora.vpl" "$(objdump_of x86_64)" x86_64 || exit 1
  x64="$build64/lumora.vpl"
else
  echo "release: no x86_64 toolchain here; the zip carries the 32-bit module only"
fi

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
name="lumora-$version"
mkdir "$stage/$name"
cp "$build/lumora.vpl" "$build/Lumora.chm" "$stage/$name/"
if [ -n "$x64" ]; then mkdir "$stage/$name/x64" && cp "$x64" "$build/Lumora.chm" "$stage/$name/x64/"; fi
# Windows users open this file: CR LF line ends.
sed 's/$/\r/' docs/INSTALL.txt > "$stage/$name/INSTALL.txt"

mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage/$name" && zip -q -X -r "$root/dist/$name.zip" lumora.vpl Lumora.chm INSTALL.txt $([ -n "$x64" ] && echo x64))
cp "$build/lumora.dbg" "dist/$name.dbg"
echo "dist/$name.zip (lumora.vpl: $size bytes)"
echo "dist/$name.dbg (symbols for crash addresses: i686-w64-mingw32-addr2line -f -e dist/$name.dbg ADDRESS)"
unzip -l "dist/$name.zip"
