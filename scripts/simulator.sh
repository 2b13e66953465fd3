# Sourced by the scripts that run the LED wall simulator:
#
#   start_simulator LOG LISTEN [LEDSIM OPTIONS...]
#
# starts the simulator (LEDSIM, or build/tools/ledsim/ledsim) listening on
# LISTEN (HOST:PORT, :PORT or PORT as `--listen` takes it; port 0: a free one) with its
# messages in LOG, waits until it says where it listens and sets `simulator`
# (its process id), `port` (the port it listens on) and `simulator_opc` (the
# `OPC` value that reaches it). It fails, showing LOG, if the simulator ends
# or does not listen within five seconds.
start_simulator() {
  local log=$1 listen=$2
  shift 2
  "${LEDSIM:-build/tools/ledsim/ledsim}" --listen "$listen" "$@" 2>"$log" &
  simulator=$!
  port=
  for _ in $(seq 50); do
    port=$(sed -n 's/^ledsim: listening on port \([0-9][0-9]*\)$/\1/p' "$log")
    if [ -n "$port" ]; then
      local host=$listen
      case $listen in *:*) host=${listen%:*} ;; *) host= ;; esac
      simulator_opc=$host:$port
      return 0
    fi
    if ! kill -0 "$simulator" 2>/dev/null; then
      cat "$log" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "$(basename "$0"): the simulator did not start listening" >&2
  cat "$log" >&2
  return 1
}
