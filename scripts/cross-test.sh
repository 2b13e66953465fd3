#!/usr/bin/env bash
# Builds for an ARM board and runs the unit, scene and whole-show tests of
# that build under qemu user-mode emulation (the build's test commands carry
# the emulator), on this machine's headless sound server. The whole show
# meeting faults (label faults: a score of whole shows, each some minutes
# under emulation) and the real-time show run natively only.
#
#   scripts/cross-test.sh arm64|armhf [12|13]      (Debian 12 when no release is given)
set -euo pipefail
cd "$(dirname "$0")/.."
# The build checks the architecture (and refuses anything but arm64 and armhf).
arch=${1:-}
scripts/cross-build.sh "$arch"
# The caller's headless sound server, or one of its own for this run.
own_sound=
[ -n "${PULSE_SERVER:-}" ] || own_sound=yes
eval "$(scripts/headless-sound.sh start)"
[ -z "$own_sound" ] || trap 'scripts/headless-sound.sh stop' EXIT
# The tests' time limits are longer in a cross build (tests/CMakeLists.txt).
ctest --test-dir "build-$arch" --output-on-failure -j"$(nproc)" -LE "e2e|faults"
