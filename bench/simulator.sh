# Sourced by the benchmark scripts. start_simulator LOG [LEDSIM OPTIONS...]
# starts the simulator on a free loopback port with its messages in LOG and
# sets `simulator` (its process id) and `port`; it fails if the simulator ends
# or does not listen within five seconds.
start_simulator() {
  local log=$1
  shift
  build/tools/ledsim/ledsim --listen 127.0.0.1:0 "$@" 2>"$log" &
  simulator=$!
  port=
  for _ in $(seq 50); do
    port=$(sed -n 's/^ledsim: listening on port \([0-9][0-9]*\)$/\1/p' "$log")
    [ -n "$port" ] && return 0
    if ! kill -0 $simulator 2>/dev/null; then
      cat "$log" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "$(basename "$0"): the simulator did not start listening" >&2
  return 1
}
