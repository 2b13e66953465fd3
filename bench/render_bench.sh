#!/usr/bin/env bash
# The video renderer, measured: the whole show and a 30 s part (1:00 to
# 1:30) rendered at the default size (1280x720) under GNU time, each once.
# Prints one table and writes it to build/render_bench.txt; the videos are
# left in build/render_bench/. Takes about two minutes on two cores.
#
# The figures, per render:
#   show time   the length of the range rendered
#   elapsed     wall-clock seconds, and show time over them (the speed
#               against real time)
#   CPU         user + system seconds of all the renderer's threads, and
#               their share of one core over the elapsed time
#   memory      the largest resident set
#   file        the MP4's size, and its bit rate over the show time
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh ledwall-render >/dev/null
out=build/render_bench
mkdir -p "$out"

measure() { # name, show seconds, renderer arguments...
  local name=$1 seconds=$2
  shift 2
  /usr/bin/time -v -o "$out/$name.time" build/tools/render/ledwall-render "$out/$name.mp4" "$@" --quiet
  local elapsed cpu memory bytes
  elapsed=$(sed -n 's/^\tElapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out/$name.time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; print s }')
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$out/$name.time")
  memory=$(sed -n 's/^\tMaximum resident set size (kbytes): //p' "$out/$name.time")
  bytes=$(stat -c %s "$out/$name.mp4")
  awk -v n="$name" -v s="$seconds" -v e="$elapsed" -v c="$cpu" -v m="$memory" -v b="$bytes" 'BEGIN {
    printf "%-11s %8.1f s %8.1f s %6.1fx %8.1f s %5.0f %% %7.0f MB %8.1f MB %6.2f Mbit/s\n",
      n, s, e, s / e, c, 100 * c / e, m / 1024, b / 1e6, 8 * b / s / 1e6 }'
}

{
  printf "%-11s %10s %10s %7s %10s %7s %10s %11s %13s\n" render "show time" elapsed speed CPU "" memory file "bit rate"
  measure whole 421.9 # the show: the title fades in for 1.0 s, then the soundtrack plays 420.9 s
  measure part-30s 30 --from 1:00 --to 1:30
} | tee build/render_bench.txt
