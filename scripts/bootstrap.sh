#!/usr/bin/env bash
# Installs everything the two builds and their tests need on a fresh Debian 12
# machine (run as root). Safe to run again: every step checks what is there.
# Usage: scripts/bootstrap.sh [WINEPREFIX-DIR]
set -uo pipefail

DEPS="${LUMORA_DEPS:-/opt/lumora-deps}"
CROSS="$DEPS/i686"
export DEBIAN_FRONTEND=noninteractive

step() { CURRENT="$1"; echo "[bootstrap] $1"; }
fail() { echo "[bootstrap] FAILED in step: $CURRENT${1:+ ($1)}" >&2; exit 1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

NATIVE_PKGS=(cmake ninja-build g++ gcc clang libclang-rt-14-dev g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  binutils-mingw-w64-i686 libjsoncpp-dev libcurl4-openssl-dev curl openssl googletest libgtest-dev libgmock-dev
  libbenchmark-dev ccache clang-format python3 xvfb xauth imagemagick fp-utils zip dpkg-dev fonts-wine)
# Benchmarks only (bench/run_all.sh): a C web server as the transfer reference,
# and callgrind for instruction counts. The tests never need them, so a failed
# install here warns and goes on.
BENCH_PKGS=(nginx-light valgrind)

step "apt: i386 architecture"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 || fail

missing=()
for p in "${NATIVE_PKGS[@]}" "${BENCH_PKGS[@]}" wine wine32:i386; do have_pkg "$p" || missing+=("$p"); done
if ((${#missing[@]})); then
  step "apt: update"
  apt-get update -q >/dev/null 2>&1 || echo "[bootstrap]   (some indexes failed; the fallback below copes)"
fi

step "apt: compilers, libraries and tools"
miss=(); for p in "${NATIVE_PKGS[@]}"; do have_pkg "$p" || miss+=("$p"); done
if ((${#miss[@]})); then
  apt-get install -y -q --no-install-recommends "${miss[@]}" >/dev/null || fail "apt-get install ${miss[*]}"
fi

step "apt: benchmark tools"
miss=(); for p in "${BENCH_PKGS[@]}"; do have_pkg "$p" || miss+=("$p"); done
if ((${#miss[@]})); then
  # The benchmark starts nginx itself on loopback with its own configuration;
  # keep the package from starting a system-wide server on port 80.
  rcd=/usr/sbin/policy-rc.d; ours=0
  if [ ! -e "$rcd" ]; then printf '#!/bin/sh\nexit 101\n' > "$rcd" && chmod +x "$rcd" && ours=1; fi
  apt-get install -y -q --no-install-recommends "${miss[@]}" >/dev/null ||
    echo "[bootstrap]   (could not install ${miss[*]}: the benchmarks need them, the tests do not)"
  if [ "$ours" = 1 ]; then rm -f "$rcd"; fi
fi

step "apt: wine32"
if ! have_pkg wine32:i386 || ! have_pkg wine; then
  if ! apt-get install -y -q --no-install-recommends wine wine32:i386 libwine:i386 >/dev/null 2>&1; then
    echo "[bootstrap]   wine32 not resolvable with the security index; using the main archive only"
    url=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    [ -n "$url" ] || url=http://deb.debian.org/debian
    fb=/var/lib/lumora-apt; mkdir -p "$fb/parts" "$fb/lists/partial"
    cat > "$fb/parts/main.sources" <<SRC
Types: deb
URIs: $url
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$fb/parts" -o "Dir::State::Lists=$fb/lists")
    apt-get "${opts[@]}" update -q >/dev/null || fail "fallback apt-get update"
    apt-get "${opts[@]}" install -y -q --no-install-recommends wine wine32:i386 libwine:i386 >/dev/null || fail "fallback install"
  fi
fi
[ -x /usr/bin/wine ] || fail "/usr/bin/wine missing"

step "cross: jsoncpp source"
mkdir -p "$DEPS/src" "$CROSS"
if ! ls "$DEPS"/src/libjsoncpp_*.orig.tar.* >/dev/null 2>&1; then
  srcd=/var/lib/lumora-apt-src; mkdir -p "$srcd/parts" "$srcd/lists/partial"
  url=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  [ -n "$url" ] || url=http://deb.debian.org/debian
  cat > "$srcd/parts/src.sources" <<SRC
Types: deb-src
URIs: $url
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  sopts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$srcd/parts" -o "Dir::State::Lists=$srcd/lists" -o APT::Sandbox::User=root)
  apt-get "${sopts[@]}" update -q >/dev/null || fail "deb-src update"
  (cd "$DEPS/src" && apt-get "${sopts[@]}" source --download-only -q libjsoncpp=1.9.5-4 >/dev/null) || fail "apt-get source libjsoncpp"
fi

TOOLCHAIN="$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-i686.cmake"
step "cross: jsoncpp static build"
# Built for size, one section per function: the module links it statically
# and drops what it does not call (the stamp marks a build made that way).
JSONCPP_STAMP="$CROSS/lib/.jsoncpp-minsize"
if [ ! -f "$CROSS/lib/libjsoncpp.a" ] || [ ! -f "$JSONCPP_STAMP" ]; then
  rm -rf "$DEPS/build/jsoncpp" && mkdir -p "$DEPS/build/jsoncpp" || fail
  tar -xf "$(ls "$DEPS"/src/libjsoncpp_*.orig.tar.* | head -1)" -C "$DEPS/build/jsoncpp" --strip-components=1 || fail "unpack"
  cmake -S "$DEPS/build/jsoncpp" -B "$DEPS/build/jsoncpp/b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-Os -DNDEBUG" "-DCMAKE_CXX_FLAGS=-ffunction-sections -fdata-sections" \
    -DCMAKE_INSTALL_PREFIX="$CROSS" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
    -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF >/dev/null || fail "configure"
  cmake --build "$DEPS/build/jsoncpp/b" --target install >/dev/null || fail "build"
  touch "$JSONCPP_STAMP"
fi

step "cross: googletest static build"
if [ ! -f "$CROSS/lib/libgtest.a" ]; then
  rm -rf "$DEPS/build/gtest" && mkdir -p "$DEPS/build/gtest" || fail
  cmake -S /usr/src/googletest -B "$DEPS/build/gtest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$CROSS" -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON \
    -Dgtest_disable_pthreads=OFF >/dev/null || fail "configure"
  cmake --build "$DEPS/build/gtest" --target install >/dev/null || fail "build"
fi

if [ $# -ge 1 ]; then
  step "wine prefix $1"
  "$(dirname "$0")/wineprefix.sh" "$1" || fail
fi
echo "[bootstrap] done"
