#!/usr/bin/env bash
# Headless sound for machines without a sound card.
#
#   eval "$(scripts/headless-sound.sh start)"     # then ALSA's "default" plays
#   scripts/headless-sound.sh stop                # in the same shell
#
# Without a sound card ALSA has no "default" playback device at all. This
# starts a private sound server with a null sink that consumes audio at the
# real rate (so a blocking ALSA write paces the demo as a card would), waits
# until it answers and prints the line that points ALSA's "default" at it. On
# a machine with a sound card it does nothing and prints nothing.
#
#   start [DIR] [--private]   DIR holds the server's socket (default: a new
#                             folder only this user may enter, in
#                             $XDG_RUNTIME_DIR when that is this user's own,
#                             else in $TMPDIR); --private, before or after
#                             DIR, starts one even when a sound card exists
#                             (tests that kill the server)
#   stop [DIR]                stops the server of DIR (default: the one
#                             $PULSE_SERVER names), and removes a default
#                             folder
#
# A server this script started and that still answers is used again: by
# start with the same DIR, or without DIR where $PULSE_SERVER names it. A DIR
# that is not this user's own folder (another owner, a symbolic link, others
# may write in it) is refused: whoever could plant it could plant the server's
# log or the process that stop ends. stop ends only a sound server that runs
# as this user for DIR.
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

# This user's own folder, a real one, which nobody else may write in.
own_folder() {
  [ -d "$1" ] && [ ! -L "$1" ] && [ -O "$1" ] && [ -z "$(find "$1" -maxdepth 0 -perm /022)" ]
}

# The folder of the server $PULSE_SERVER names, when this script made it.
folder_of_environment() {
  local server=${PULSE_SERVER:-}
  case $server in
  unix:*/ledwall-sound.*/pulse/native) ;;
  *) return 1 ;;
  esac
  server=${server#unix:}
  server=${server%/pulse/native}
  own_folder "$server" && echo "$server"
}

has_sound_card() {
  [ -r /proc/asound/cards ] && ! grep -q 'no soundcards' /proc/asound/cards
}

answers() { # folder
  PULSE_SERVER=unix:$1/pulse/native timeout 5 pactl info >/dev/null 2>&1
}

# The server running for a folder: its PID file names a process of this user
# that is a sound server and was started for that folder.
server_pid() { # folder
  local pid
  pid=$(cat "$1/pulse/pid" 2>/dev/null) || return 1
  [[ $pid =~ ^[1-9][0-9]*$ ]] && [ -O "/proc/$pid" ] &&
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = pulseaudio ] &&
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$1" &&
    echo "$pid"
}

case $command in
start)
  if [ "$private" != --private ] && has_sound_card; then
    exit 0
  fi
  if [ -z "$dir" ] && dir=$(folder_of_environment) && answers "$dir"; then
    echo "export PULSE_SERVER=unix:$dir/pulse/native"
    exit 0
  fi
  if [ -z "$dir" ]; then
    base=${TMPDIR:-/tmp}
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && own_folder "$XDG_RUNTIME_DIR"; then base=$XDG_RUNTIME_DIR; fi
    dir=$(mktemp -d "$base/ledwall-sound.XXXXXX")
  else
    [ -e "$dir" ] || [ -L "$dir" ] || mkdir -p -m 700 "$dir"
    if ! own_folder "$dir"; then
      echo "headless-sound: $dir is not a folder of this user's own that only this user may write in" >&2
      exit 1
    fi
    dir=$(realpath "$dir")
  fi
  if ! answers "$dir"; then
    # It warns when started as root; for a private server that is harmless.
    XDG_RUNTIME_DIR=$dir HOME=$dir pulseaudio -n --daemonize=yes --exit-idle-time=-1 \
      --use-pid-file=yes --log-target=file:"$dir/server.log" \
      --load=module-native-protocol-unix --load=module-null-sink 2>>"$dir/server.log"
    for _ in $(seq 100); do
      answers "$dir" && break
      sleep 0.1
    done
    if ! answers "$dir"; then
      echo "headless-sound: the sound server did not answer; see $dir/server.log" >&2
      exit 1
    fi
  fi
  echo "export PULSE_SERVER=unix:$dir/pulse/native"
  ;;
stop)
  made_here=
  if [ -z "$dir" ]; then
    dir=$(folder_of_environment) || exit 0
    made_here=yes
  fi
  own_folder "$dir" || exit 0
  dir=$(realpath "$dir")
  if pid=$(server_pid "$dir"); then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  # The folder start made goes too; a folder given is the caller's.
  if [ -n "$made_here" ] && ! server_pid "$dir" >/dev/null; then
    rm -rf "$dir"
  fi
  ;;
*)
  usage
  ;;
esac
