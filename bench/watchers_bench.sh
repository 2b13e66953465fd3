#!/usr/bin/env bash
# The browser view's cost to the wall: the wiring test sends frames at 25 per
# second into the simulator for 15 s, once with nobody watching and once with
# ten browsers' worth of event streams read by curl, and the simulator's
# frame timing (bench's framestats on its frame log) is printed for both.
# Writes build/watchers_bench.txt; takes about 40 s.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh
scripts/build.sh ledsim wiring_test >/dev/null
out=build/watchers_bench
mkdir -p "$out"
simulator=
watchers=()
trap 'kill ${watchers[@]+"${watchers[@]}"} ${simulator:+"$simulator"} 2>/dev/null || true' EXIT

phase() { # number of watchers
  local n=$1 http_port
  start_simulator "$out/ledsim-$n.err" 127.0.0.1:0 --http 127.0.0.1:0 --log "$out/frames-$n.log"
  http_port=$(sed -n 's|^ledsim: browser view on http://127.0.0.1:\([0-9]*\)/$|\1|p' "$out/ledsim-$n.err")
  watchers=()
  for _ in $(seq "$n"); do
    curl -sN "http://127.0.0.1:$http_port/events" >/dev/null &
    watchers+=($!)
  done
  OPC=$simulator_opc timeout 15 build/tools/wiring_test/wiring_test --step-ms 1000 --loop >/dev/null 2>&1 || true
  kill ${watchers[@]+"${watchers[@]}"} 2>/dev/null || true
  kill -TERM "$simulator"
  wait "$simulator" 2>/dev/null || true
  simulator=
  echo "== $n watchers"
  build/tools/ledsim/framestats "$out/frames-$n.log"
}

{
  phase 0
  phase 10
} | tee build/watchers_bench.txt
