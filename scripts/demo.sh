#!/usr/bin/env bash
# Sets up, builds and runs the demo.
#
# With OPC set, the demo plays to that LED server. Without it, the demo plays
# into the LED wall simulator on this machine (its terminal view when this is
# a terminal); the demo's own messages then go to build/demo.log, and the
# simulator's timing summary is printed at the end. Sound goes to the sound
# card, or to the headless sound server when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh demo ledsim
eval "$(scripts/headless-sound.sh start)"

if [ -n "${OPC:-}" ]; then
  exec build/src/demo
fi

view=()
[ -t 1 ] && view=(--view)
build/tools/ledsim/ledsim --listen 127.0.0.1:7890 "${view[@]}" --summary build/ledsim-summary.txt \
  2>build/ledsim.log &
simulator=$!
trap 'kill -TERM $simulator 2>/dev/null || true' EXIT INT TERM
for _ in $(seq 50); do
  grep -q 'listening on' build/ledsim.log 2>/dev/null && break
  if ! kill -0 $simulator 2>/dev/null; then
    cat build/ledsim.log >&2
    exit 1
  fi
  sleep 0.1
done

status=0
OPC=127.0.0.1:7890 build/src/demo >build/demo.log 2>&1 || status=$?
kill -TERM $simulator
wait $simulator || true
trap - EXIT INT TERM
echo "demo exited with status $status (its messages: build/demo.log)"
echo "what the simulator received:"
cat build/ledsim-summary.txt
exit $status
