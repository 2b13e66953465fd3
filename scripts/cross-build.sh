#!/usr/bin/env bash
# Builds the demo, its tools and tests for an ARM board into build-ARCH/:
#
#   scripts/cross-build.sh arm64|armhf [12|13] [--package] [make targets...]
#
# with Debian's cross compiler (scripts/setup.sh --cross ARCH) against the
# board's libraries for Debian 12 (the default) or 13 in a sysroot of their
# own (scripts/sysroot.sh ARCH RELEASE), both run first. For Debian 13 the
# folder is build-ARCH-deb13/. The executables for the board are
# build-ARCH/src/demo and build-ARCH/tools/wiring_test/wiring_test. --package
# builds into build-package-ARCH[-deb13]/ without the tests, as the Debian
# package is made. Exits 3, as scripts/sysroot.sh does, when the
# architecture's packages are out of reach.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
arm64 | armhf) ;;
*) echo "usage: scripts/cross-build.sh arm64|armhf [12|13] [--package] [targets...]" >&2; exit 2 ;;
esac
shift
release=12
case ${1:-} in
12 | 13) release=$1; shift ;;
esac
suffix=
[ "$release" = 12 ] || suffix=-deb$release
dir=build-$arch$suffix
options=(-DLEDWALL_BENCHMARKS=OFF -DLEDWALL_DEBIAN_RELEASE="$release")
if [ "${1:-}" = --package ]; then
  dir=build-package-$arch$suffix
  options+=(-DBUILD_TESTING=OFF)
  shift
fi
scripts/setup.sh --cross "$arch"
sysroot=$(scripts/sysroot.sh "$arch" "$release" | tail -n 1)
cmake -S . -B "$dir" --toolchain "cmake/toolchains/$arch.cmake" -DLEDWALL_SYSROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" ${1:+--target "$@"}
