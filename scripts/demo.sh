#!/usr/bin/env bash
# Sets up, builds and runs the demo (and builds the video renderer beside it).
#
# With OPC set, the demo plays to that LED server. Without it, the demo plays
# into the LED wall simulator on this machine (its terminal view when this is
# a terminal), which listens on LEDSIM_LISTEN (HOST:PORT, default
# 127.0.0.1:7890; port 0: a free one); the demo's own messages then go to
# build/demo.log, and the simulator's timing summary is printed at the end.
# Sound goes to the sound card, or to a headless sound server of its own when
# there is none, which it stops at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh
scripts/setup.sh
scripts/build.sh demo ledsim ledwall-render
# A server the caller started already is the caller's to stop.
own_sound=
[ -n "${PULSE_SERVER:-}" ] || own_sound=yes
eval "$(scripts/headless-sound.sh start)"
stop_own_sound() { [ -z "$own_sound" ] || scripts/headless-sound.sh stop; }

status=0
if [ -n "${OPC:-}" ]; then
  build/src/demo || status=$?
  stop_own_sound
  exit $status
fi

view=()
[ -t 1 ] && view=(--view)
simulator=
trap 'if [ -n "$simulator" ]; then kill -TERM $simulator 2>/dev/null || true; fi; stop_own_sound' EXIT INT TERM
start_simulator build/ledsim.log "${LEDSIM_LISTEN:-127.0.0.1:7890}" "${view[@]}" --summary build/ledsim-summary.txt

OPC=$simulator_opc build/src/demo >build/demo.log 2>&1 || status=$?
kill -TERM $simulator
wait $simulator || true
simulator=
stop_own_sound
trap - EXIT INT TERM
echo "demo exited with status $status (its messages: build/demo.log)"
echo "what the simulator received:"
cat build/ledsim-summary.txt
exit $status
