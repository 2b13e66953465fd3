#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz/ and runs each for FUZZ_SECONDS
# seconds (default 60), both at once, one per core. The kept corpus in
# tests/fuzz/corpus is only read: what a run adds goes to a scratch folder.
# Exits non-zero when a target crashes or breaks a check; the input that did
# it is kept under build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
# The compiler is chosen when build-fuzz is first configured: naming another
# one later would make CMake drop the whole cache.
compiler=()
# The release's own clang (scripts/setup.sh): 14 on Debian 12, 19 on 13.
if [ ! -f build-fuzz/CMakeCache.txt ]; then
  for clang in clang++-14 clang++-19 clang++; do
    if command -v "$clang" >/dev/null; then compiler=(-DCMAKE_CXX_COMPILER="$clang"); break; fi
  done
fi
cmake -S . -B build-fuzz ${compiler[@]+"${compiler[@]}"} -DLEDWALL_FUZZ=ON -DLEDWALL_BENCHMARKS=OFF \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_opc_stream fuzz_opc_resolve

mkdir -p build-fuzz/crashes build-fuzz/logs
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The resolver's target keeps to loopback names and numeric addresses; a
# network namespace without interfaces makes sure no lookup leaves the machine
# even so.
isolated=()
if unshare -n true 2>/dev/null; then
  isolated=(unshare -n)
else
  echo "fuzz: no network namespace available; the resolver target keeps its lookups local by itself"
fi

# run_target NAME CORPUS [WRAPPER...] -- [LIBFUZZER OPTIONS...]
run_target() {
  local name=$1 corpus=$2
  shift 2
  local wrapper=()
  while [ "$1" != -- ]; do wrapper+=("$1"); shift; done
  shift
  mkdir -p "$scratch/$name"
  "${wrapper[@]}" build-fuzz/tests/fuzz/"$name" "$scratch/$name" "tests/fuzz/corpus/$corpus" \
    -dict="tests/fuzz/$corpus.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$name-" "$@" \
    >"build-fuzz/logs/$name.log" 2>&1
}

report() {
  local name=$1 status=$2 log=build-fuzz/logs/$1.log
  local runs rate cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' || true)
  echo "fuzz: $name: ${runs:-?} runs, ${rate:-?}/s, ${cov:-no coverage line}"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $name FAILED (exit $status), see $log:"
    grep -E '^(==[0-9]+==|SUMMARY|artifact_prefix|Test unit written)|runtime error|^ +#[0-9]+ ' "$log" | head -30 || true
  fi
}

echo "fuzz: running fuzz_opc_stream and fuzz_opc_resolve for $seconds s each"
run_target fuzz_opc_stream opc_stream -- -max_len=8192 &
stream_pid=$!
# The resolver reports refused ports on stderr; its own output is dropped.
run_target fuzz_opc_resolve opc_resolve ${isolated[@]+"${isolated[@]}"} -- -max_len=256 -close_fd_mask=2 &
resolve_pid=$!

stream_status=0
resolve_status=0
wait "$stream_pid" || stream_status=$?
wait "$resolve_pid" || resolve_status=$?
report fuzz_opc_stream "$stream_status"
report fuzz_opc_resolve "$resolve_status"
[ "$stream_status" -eq 0 ] && [ "$resolve_status" -eq 0 ]
