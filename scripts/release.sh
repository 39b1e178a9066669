#!/usr/bin/env bash
# Builds the Windows module and its help file and packs them for users:
#   scripts/release.sh            -> dist/lumora-<version>.zip
#                                    dist/lumora-<version>.dbg (symbols, not shipped)
# LUMORA_RELEASE_BUILD_DIR picks the build folder (default build/win, the
# "win" preset); it is configured and built there when needed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${LUMORA_RELEASE_BUILD_DIR:-build/win}"

v() { awk -v k="$1" '$1 == "#define" && $2 == k { print $3 }' src/common/version.h; }
version="$(v LUMORA_VERSION_MAJOR).$(v LUMORA_VERSION_MINOR).$(v LUMORA_VERSION_PATCH)"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "release: cannot read the version from src/common/version.h" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset win -B "$build"
fi
cmake --build "$build" -j2 --target lumora lumora_help

for f in "$build/lumora.vpl" "$build/lumora.dbg" "$build/Lumora.chm"; do
  [ -s "$f" ] || { echo "release: $f was not built" >&2; exit 1; }
done
# What users get carries no debug sections and stays small; the symbols stay
# with us, in the file the module's debug link names.
if i686-w64-mingw32-objdump -h "$build/lumora.vpl" | awk '{print $2}' | grep -q '^\.debug'; then
  echo "release: lumora.vpl carries debug sections" >&2; exit 1
fi
i686-w64-mingw32-objdump -s -j .gnu_debuglink "$build/lumora.vpl" | grep -q 'lumora\.dbg' ||
  { echo "release: lumora.vpl does not name lumora.dbg" >&2; exit 1; }
size=$(stat -c %s "$build/lumora.vpl")
max=1500000
[ "$size" -le "$max" ] || { echo "release: lumora.vpl is $size bytes, more than $max" >&2; exit 1; }

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
name="lumora-$version"
mkdir "$stage/$name"
cp "$build/lumora.vpl" "$build/Lumora.chm" "$stage/$name/"
# Windows users open this file: CR LF line ends.
sed 's/$/\r/' > "$stage/$name/INSTALL.txt" <<TEXT
Lumora $version - wallpaper plug-in for your slideshow and screensaver

Installing
1. Close the slideshow program.
2. Copy lumora.vpl and Lumora.chm together into the slideshow program's
   plug-in folder. Keep both files side by side: the Help button of the
   configuration window opens Lumora.chm from the folder of lumora.vpl.
3. Start the slideshow program and open the Lumora configuration.
4. Tick "PlugIn Enabled", choose an existing folder for the pictures, add at
   least one feed and press OK.

Lumora needs no other files. It keeps its settings in the slideshow
program's settings and the optional API key in the registry of the current
user. Press Help in the configuration window for the details.

Removing
Delete lumora.vpl and Lumora.chm. The downloaded pictures stay in the folder
you chose; delete them with "Clean Local Cache" before, or by hand after.
TEXT

mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage/$name" && zip -q -X "$root/dist/$name.zip" lumora.vpl Lumora.chm INSTALL.txt)
cp "$build/lumora.dbg" "dist/$name.dbg"
echo "dist/$name.zip (lumora.vpl: $size bytes)"
echo "dist/$name.dbg (symbols for crash addresses: i686-w64-mingw32-addr2line -f -e dist/$name.dbg ADDRESS)"
unzip -l "dist/$name.zip"
