#!/usr/bin/env bash
# Installs everything the two builds and their tests need on a fresh Debian 12
# machine (run as root). Safe to run again: every step checks what is there.
# The 32-bit module (the product) is built on every machine; its tests run
# under wine32 where 32-bit programs run, and under wine64 on the x86_64 build
# where they do not (scripts/winenv.sh decides by trying; LUMORA_WIN_ARCH
# forces it). Only what the picked path needs is installed.
# Usage: scripts/bootstrap.sh [WINEPREFIX-DIR]
set -uo pipefail

DEPS="${LUMORA_DEPS:-/opt/lumora-deps}"
export DEBIAN_FRONTEND=noninteractive
. "$(dirname "$0")/winenv.sh" || { echo "[bootstrap] FAILED: cannot tell which Windows build to test" >&2; exit 1; }
echo "[bootstrap] Windows tests here: $LUMORA_WIN_ARCH build under $(basename "$LUMORA_WINE")"

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

if [ "$LUMORA_WIN_ARCH" = i686 ]; then
  WINE_PKGS=(wine wine32:i386)
  step "apt: i386 architecture"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 || fail
else
  WINE_PKGS=(wine64)
  NATIVE_PKGS+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
fi

missing=()
for p in "${NATIVE_PKGS[@]}" "${BENCH_PKGS[@]}" "${WINE_PKGS[@]}"; do have_pkg "$p" || missing+=("$p"); done
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

if [ "$LUMORA_WIN_ARCH" = x86_64 ]; then
  step "apt: wine64"
  if ! have_pkg wine64; then
    apt-get install -y -q --no-install-recommends wine64 >/dev/null || fail "apt-get install wine64"
  fi
elif ! have_pkg wine32:i386 || ! have_pkg wine; then
  step "apt: wine32"
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
[ -x "$LUMORA_WINE" ] || fail "$LUMORA_WINE missing"

step "cross: jsoncpp source"
mkdir -p "$DEPS/src"
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

# jsoncpp and GoogleTest, static, for one Windows architecture.
build_cross() {
  local arch=$1 cross="$DEPS/$1" toolchain
  toolchain="$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-$arch.cmake"
  step "cross $arch: jsoncpp static build"
  # Built for size, one section per function: the module links it statically
  # and drops what it does not call (the stamp marks a build made that way).
  if [ ! -f "$cross/lib/libjsoncpp.a" ] || [ ! -f "$cross/lib/.jsoncpp-minsize" ]; then
    rm -rf "$DEPS/build/jsoncpp-$arch" && mkdir -p "$DEPS/build/jsoncpp-$arch" || fail
    tar -xf "$(ls "$DEPS"/src/libjsoncpp_*.orig.tar.* | head -1)" -C "$DEPS/build/jsoncpp-$arch" --strip-components=1 || fail "unpack"
    cmake -S "$DEPS/build/jsoncpp-$arch" -B "$DEPS/build/jsoncpp-$arch/b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-Os -DNDEBUG" "-DCMAKE_CXX_FLAGS=-ffunction-sections -fdata-sections" \
      -DCMAKE_INSTALL_PREFIX="$cross" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
      -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
      -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF >/dev/null || fail "configure"
    cmake --build "$DEPS/build/jsoncpp-$arch/b" --target install >/dev/null || fail "build"
    touch "$cross/lib/.jsoncpp-minsize"
  fi
  step "cross $arch: googletest static build"
  if [ ! -f "$cross/lib/libgtest.a" ]; then
    rm -rf "$DEPS/build/gtest-$arch" && mkdir -p "$DEPS/build/gtest-$arch" || fail
    cmake -S /usr/src/googletest -B "$DEPS/build/gtest-$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$cross" -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON \
      -Dgtest_disable_pthreads=OFF >/dev/null || fail "configure"
    cmake --build "$DEPS/build/gtest-$arch" --target install >/dev/null || fail "build"
  fi
}
# The product's architecture always; the tested one when it is another.
build_cross i686
[ "$LUMORA_WIN_ARCH" = i686 ] || build_cross "$LUMORA_WIN_ARCH"

if [ $# -ge 1 ]; then
  step "wine prefix $1"
  "$(dirname "$0")/wineprefix.sh" "$1" || fail
fi
echo "[bootstrap] done"
