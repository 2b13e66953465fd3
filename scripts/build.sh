#!/usr/bin/env bash
# Configures and builds the project into build/ (arguments: make targets).
#
#   scripts/build.sh [--package] [targets...]
#
# --package builds into build-package/ without the tests (BUILD_TESTING=OFF),
# as the Debian package is made: no test library is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
options=()
if [ "${1:-}" = --package ]; then
  dir=build-package
  options=(-DBUILD_TESTING=OFF -DLEDWALL_BENCHMARKS=OFF)
  shift
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${options[@]+"${options[@]}"} >/dev/null
cmake --build "$dir" -j"$(nproc)" ${1:+--target "$@"}
