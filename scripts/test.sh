#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# The audio tests play on ALSA's "default" device; without a sound card that
# is the headless sound server, started here and left running for reuse.
eval "$(scripts/headless-sound.sh start)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
