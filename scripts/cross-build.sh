#!/usr/bin/env bash
# Builds the demo, its tools and tests for an ARM board into build-ARCH/:
#
#   scripts/cross-build.sh arm64|armhf [--package] [make targets...]
#
# with Debian's cross compiler (scripts/setup.sh --cross ARCH) against the
# board's libraries in a sysroot of their own (scripts/sysroot.sh ARCH), both
# run first. The executables for the board are build-ARCH/src/demo and
# build-ARCH/tools/wiring_test/wiring_test. --package builds into
# build-package-ARCH/ without the tests, as the Debian package is made. Exits
# 3, as scripts/sysroot.sh does, when the architecture's packages are out of
# reach.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
arm64 | armhf) ;;
*) echo "usage: scripts/cross-build.sh arm64|armhf [--package] [targets...]" >&2; exit 2 ;;
esac
shift
dir=build-$arch
options=(-DLEDWALL_BENCHMARKS=OFF)
if [ "${1:-}" = --package ]; then
  dir=build-package-$arch
  options+=(-DBUILD_TESTING=OFF)
  shift
fi
scripts/setup.sh --cross "$arch"
sysroot=$(scripts/sysroot.sh "$arch" | tail -n 1)
cmake -S . -B "$dir" --toolchain "cmake/toolchains/$arch.cmake" -DLEDWALL_SYSROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" ${1:+--target "$@"}
