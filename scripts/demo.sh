#!/usr/bin/env bash
# Sets up, builds and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh demo
eval "$(scripts/headless-sound.sh start)"
exec build/src/demo
