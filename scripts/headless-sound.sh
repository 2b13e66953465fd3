#!/usr/bin/env bash
# Headless sound for machines without a sound card.
#
#   eval "$(scripts/headless-sound.sh start)"     # then ALSA's "default" plays
#   scripts/headless-sound.sh stop
#
# Without a sound card ALSA has no "default" playback device at all. This
# starts a private sound server with a null sink that consumes audio at the
# real rate (so a blocking ALSA write paces the demo as a card would), waits
# until it answers and prints the line that points ALSA's "default" at it. On
# a machine with a sound card it does nothing and prints nothing.
#
#   start [DIR] [--private]   DIR holds the server's socket (default: a folder
#                             in $TMPDIR); --private, before or after DIR,
#                             starts one even when a sound card exists (tests
#                             that kill the server)
#   stop [DIR]                stops the server of DIR
set -euo pipefail

usage() {
  echo "usage: $0 start [DIR] [--private] | stop [DIR]" >&2
  exit 2
}

command=${1:-}
[ $# -gt 0 ] && shift
dir=
private=
for arg in "$@"; do
  case $arg in
  --private) [ "$command" = start ] || usage; private=--private ;;
  -*) echo "headless-sound: unknown option: $arg" >&2; usage ;;
  *) [ -z "$dir" ] || usage; dir=$arg ;;
  esac
done
dir=${dir:-${TMPDIR:-/tmp}/ledwall-sound-$(id -u)}
socket=$dir/pulse/native

has_sound_card() {
  [ -r /proc/asound/cards ] && ! grep -q 'no soundcards' /proc/asound/cards
}

answers() {
  PULSE_SERVER=unix:$socket timeout 5 pactl info >/dev/null 2>&1
}

case $command in
start)
  if [ "$private" != --private ] && has_sound_card; then
    exit 0
  fi
  mkdir -p "$dir"
  if ! answers; then
    # It warns when started as root; for a private server that is harmless.
    XDG_RUNTIME_DIR=$dir HOME=$dir pulseaudio -n --daemonize=yes --exit-idle-time=-1 \
      --use-pid-file=yes --log-target=file:"$dir/server.log" \
      --load=module-native-protocol-unix --load=module-null-sink 2>>"$dir/server.log"
    for _ in $(seq 100); do
      answers && break
      sleep 0.1
    done
    if ! answers; then
      echo "headless-sound: the sound server did not answer; see $dir/server.log" >&2
      exit 1
    fi
  fi
  echo "export PULSE_SERVER=unix:$socket"
  ;;
stop)
  if [ -r "$dir/pulse/pid" ]; then
    pid=$(cat "$dir/pulse/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  ;;
*)
  usage
  ;;
esac
