#!/usr/bin/env bash
# Builds the demo, its tools and tests for an ARM board into build-ARCH/:
#
#   scripts/cross-build.sh arm64|armhf [make targets...]
#
# with Debian's cross compiler (scripts/setup.sh --cross ARCH) against the
# board's libraries in a sysroot of their own (scripts/sysroot.sh ARCH), both
# run first. The executables for the board are build-ARCH/src/demo and
# build-ARCH/tools/wiring_test/wiring_test. Exits 3, as scripts/sysroot.sh
# does, when the architecture's packages are out of reach.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
arm64 | armhf) ;;
*) echo "usage: scripts/cross-build.sh arm64|armhf [targets...]" >&2; exit 2 ;;
esac
shift
scripts/setup.sh --cross "$arch"
sysroot=$(scripts/sysroot.sh "$arch" | tail -n 1)
cmake -S . -B "build-$arch" --toolchain "cmake/toolchains/$arch.cmake" -DLEDWALL_SYSROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEDWALL_BENCHMARKS=OFF >/dev/null
cmake --build "build-$arch" -j"$(nproc)" ${1:+--target "$@"}
