#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# The audio tests play on ALSA's "default" device; without a sound card that
# is the headless sound server, started here and left running for reuse.
eval "$(scripts/headless-sound.sh start)"
status=0
ctest --test-dir build --output-on-failure -j"$(nproc)" || status=$?

# The whole show once more under AddressSanitizer and UndefinedBehaviorSanitizer
# (leaks included): only what that test needs is built there.
cmake -S . -B build-asan -DLEDWALL_SANITIZE=address -DLEDWALL_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$(nproc)" --target whole_show_test demo_virtual
ctest --test-dir build-asan --output-on-failure -L show || status=$?
exit $status
