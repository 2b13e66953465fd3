#!/usr/bin/env bash
# Builds the demo, its tools and tests for an ARM board into build-ARCH/:
#
#   scripts/cross-build.sh arm64|armhf [make targets...]
#
# with Debian's cross compiler and that architecture's libraries (installed
# by scripts/setup.sh --cross ARCH, which this runs first). The executables
# for the board are build-ARCH/src/demo and build-ARCH/tools/wiring_test/wiring_test.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
arm64 | armhf) ;;
*) echo "usage: scripts/cross-build.sh arm64|armhf [targets...]" >&2; exit 2 ;;
esac
shift
scripts/setup.sh --cross "$arch"
cmake -S . -B "build-$arch" --toolchain "cmake/toolchains/$arch.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLEDWALL_BENCHMARKS=OFF >/dev/null
cmake --build "build-$arch" -j"$(nproc)" ${1:+--target "$@"}
