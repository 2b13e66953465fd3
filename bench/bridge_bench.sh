#!/usr/bin/env bash
# The bridge's cost (figures in docs/performance.md):
#   1. latency added per frame and CPU per frame, with one and four outputs
#      (build/bench/bridge_bench latency);
#   2. the demo's frame gaps for SECONDS (default 60) of the show in real
#      time, at the simulator directly and at an E1.31 receiver through the
#      bridge, one after the other.
# Everything runs on loopback; the sound plays into the headless sound server.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh
seconds=${1:-60}

scripts/setup.sh
scripts/build.sh demo ledsim ledwall-bridge bridge_bench

out=build/bridge_bench
mkdir -p "$out"
sound_dir=$PWD/$out/sound
eval "$(scripts/headless-sound.sh start "$sound_dir")"
simulator= bridge= receiver=
cleanup() {
  for p in $simulator $bridge $receiver; do kill -TERM "$p" 2>/dev/null || true; done
  scripts/headless-sound.sh stop "$sound_dir"
}
trap cleanup EXIT

echo "== latency added per frame and CPU per frame"
build/bench/bridge_bench latency build/tools/bridge/ledwall-bridge 2000 | tee "$out/latency.txt"

# The first SECONDS of the show, then SIGINT (the demo's own stop).
play() { OPC=$1 timeout -s INT "$seconds" build/src/demo >"$out/demo-$2.log" 2>&1 || true; }

echo "== the demo's frame gaps at the simulator, directly ($seconds s of the show)"
start_simulator "$out/ledsim.log" 127.0.0.1:0 --summary "$out/direct.txt"
play "$simulator_opc" direct
kill -TERM "$simulator"
wait "$simulator" || true
simulator=
grep -i -E "frames|median|percentile|gap" "$out/direct.txt" | tee "$out/direct-gaps.txt"

echo "== the same through the bridge, at an E1.31 receiver"
port=$((20000 + RANDOM % 20000))
build/bench/bridge_bench receive "$port" "$((seconds - 5))" >"$out/through.txt" &
receiver=$!
build/tools/bridge/ledwall-bridge --listen 127.0.0.1:0 --to "e131://127.0.0.1:$port" 2>"$out/bridge.log" &
bridge=$!
for _ in $(seq 50); do grep -q "listening on" "$out/bridge.log" && break; sleep 0.1; done
bridge_opc=$(sed -n 's/.*listening on \([^,]*\),.*/\1/p' "$out/bridge.log")
play "$bridge_opc" bridge
wait "$receiver" || true
receiver=
kill -TERM "$bridge"
wait "$bridge" || true
bridge=
cat "$out/through.txt"
