#!/usr/bin/env bash
# The whole show in real time, measured. The shipped demo plays into the LED
# wall simulator (a free port on this machine, every frame logged) with sound
# on the headless sound server, or on the sound card where there is one, under
# GNU time; the soundtrack is also decoded once on its own, without a device,
# for comparison. Prints one table, writes it to build/show_bench.txt, and
# draws the frame timing chart into docs/frame_times.png. Takes as long as the
# show (about 7 minutes) plus the build. Everything else it leaves in
# build/show_bench/: the frame log, the simulator's summary, both programs'
# output and GNU time's reports.
#
# The figures:
#   CPU          user + system seconds of the demo process (all its threads),
#                and their share of one core over its elapsed time
#   decode alone the same for bench/decode_only, which decodes the linked-in
#                soundtrack to the end in the player's block size; the demo's
#                CPU is given as a multiple of it
#   gaps         between consecutive frames as the simulator received them
#                (its monotonic receive times): mean, median, 99th percentile
#                (nearest rank) and the largest
#   drift        (t_last - t_first) - 40 ms x (frames - 1): how much later the
#                last frame came than a perfect 40 ms grid from the first one
#                would put it. Each gap adds its excess over 40 ms, so it is
#                split into the gaps over 60 ms (the pauses: every frame loop,
#                a scene's or a fade's or a move's, sends its first frame two
#                periods after it starts; the panorama rests at its far end
#                without sending; frames that came too late) and the rest. The
#                long gaps are counted by scene: the ones in front of a scene's
#                first frame, then the ones inside each scene (scene starts
#                found from the show's timeline, src/show_timeline.h, see
#                tools/ledsim/scene_marks.h).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh
started=$SECONDS

scripts/setup.sh
scripts/build.sh demo ledsim decode_only framestats frameplot

out=build/show_bench
table=build/show_bench.txt
chart=docs/frame_times.png
mkdir -p "$out"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# A sound server of this run's own, stopped at the end; nothing on a machine
# with a sound card.
sound_dir=$PWD/$out/sound
eval "$(scripts/headless-sound.sh start "$sound_dir")"

simulator=
trap 'if [ -n "$simulator" ]; then kill -TERM $simulator 2>/dev/null || true; fi; scripts/headless-sound.sh stop "$sound_dir"' EXIT
start_simulator "$out/ledsim.log" 127.0.0.1:0 --log "$out/frames.log" --summary "$out/summary.txt"

# Decoding alone first, so that it does not compete with the show.
/usr/bin/time -v -o "$out/decode.time" build/bench/decode_only >"$out/decode.log"

# CPU by thread: the demo's threads' /proc figures, sampled twice a second
# while it runs (a thread's last sample counts, so up to half a second short).
demo_status=0
OPC=$simulator_opc /usr/bin/time -v -o "$out/demo.time" build/src/demo >"$out/demo.log" 2>&1 &
timer=$!
demo_pid=
: >"$out/threads.samples"
while kill -0 $timer 2>/dev/null; do
  [ -n "$demo_pid" ] || demo_pid=$(pgrep -P $timer -x demo || true)
  [ -z "$demo_pid" ] || cat /proc/"$demo_pid"/task/*/stat >>"$out/threads.samples" 2>/dev/null || true
  sleep 0.5
done
wait $timer || demo_status=$?

kill -TERM $simulator
wait $simulator || echo "show_bench: the simulator ended with an error; see $out/ledsim.log" >&2
trap - EXIT
scripts/headless-sound.sh stop "$sound_dir"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

build/tools/ledsim/framestats "$out/frames.log" >"$out/framestats.txt"
build/tools/ledsim/frameplot "$out/frames.log" "$chart"

# value FILE NAME: what follows "NAME: " on its line (leading blanks ignored),
# without a trailing " ms".
value() {
  awk -v name="$2" '{ line = $0; sub(/^[ \t]+/, "", line) }
    index(line, name ": ") == 1 { v = substr(line, length(name) + 3); sub(/ ms$/, "", v); print v; exit }' "$1"
}
# calc EXPRESSION: awk's arithmetic, for the figures with decimals.
calc() { awk "BEGIN { print $1 }"; }
# seconds H:MM:SS.ss or M:SS.ss (GNU time's elapsed time) in seconds.
seconds() { awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }' <<<"$1"; }

elapsed_field="Elapsed (wall clock) time (h:mm:ss or m:ss)"
user=$(value "$out/demo.time" "User time (seconds)")
system=$(value "$out/demo.time" "System time (seconds)")
elapsed=$(seconds "$(value "$out/demo.time" "$elapsed_field")")
rss_kb=$(value "$out/demo.time" "Maximum resident set size (kbytes)")
cpu=$(calc "$user + $system")
decode_cpu=$(calc "$(value "$out/decode.time" "User time (seconds)") + $(value "$out/decode.time" "System time (seconds)")")
decode_rss_kb=$(value "$out/decode.time" "Maximum resident set size (kbytes)")
sound_s=$(sed -n 's/.*: \([0-9.]*\) s of sound$/\1/p' "$out/decode.log")
too_late=$(grep -c 'too late' "$out/demo.log" || true)

stats=$out/framestats.txt
frames=$(value "$stats" frames)
if [ "$frames" != "$(value "$out/summary.txt" frames)" ]; then
  echo "show_bench: the frame log and the simulator's summary count different frames" >&2
fi
long_gaps=$(value "$stats" "long gaps")
long_excess=$(value "$stats" "long gaps excess")
start_gaps=$(value "$stats" "long gaps opening a scene")
start_excess=$(value "$stats" "scene starts excess")
largest=$(value "$stats" "largest gap")
inside=$(sed -n 's/^long gaps inside \(.*\): \([0-9]*\), \(.*\) ms$/\1 \2 (\3 ms)/p' "$stats" | paste -sd ';' | sed 's/;/; /g')
# thread_cpu: "main audio client" CPU seconds. The thread whose id is the
# process id draws and sends; the sound server's client library runs its own
# thread ("threaded-ml"), which a board playing on its sound card does not
# have; the other one decodes, feeds the tap and writes to the device.
thread_cpu() {
  awk -v pid="$demo_pid" -v hz="$(getconf CLK_TCK)" '
    { comm = $0; sub(/^[^(]*\(/, "", comm); sub(/\).*$/, "", comm)
      rest = $0; sub(/^.*\) /, "", rest); split(rest, f, " ")
      ticks[$1] = f[12] + f[13]; name[$1] = comm }
    END { for (t in ticks) {
            if (t == pid) main += ticks[t]
            else if (name[t] == "threaded-ml") client += ticks[t]
            else audio += ticks[t]
          }
          printf "%.2f %.2f %.2f\n", main / hz, audio / hz, client / hz }' "$out/threads.samples"
}
read -r main_cpu audio_cpu client_cpu <<<"$(thread_cpu)"
run_s=$((SECONDS - started))

{
  echo "| whole show, real time | |"
  echo "|---|---|"
  echo "| machine | $(nproc) cores; load average (1, 5, 15 min) $load_before before, $load_after after |"
  echo "| demo exit status | $demo_status |"
  echo "| elapsed | $elapsed s for $sound_s s of soundtrack |"
  echo "| CPU, user + system | $user + $system = $cpu s |"
  echo "| share of one core | $(calc "sprintf(\"%.2f\", 100 * $cpu / $elapsed)") % |"
  echo "| CPU by thread: drawing and sending; decoding, tap and device writes; the sound server's client | $main_cpu s; $audio_cpu s; $client_cpu s |"
  echo "| share of one core without the sound server's client thread | $(calc "sprintf(\"%.2f\", 100 * ($cpu - $client_cpu) / $elapsed)") % |"
  echo "| peak resident memory | $(calc "sprintf(\"%.1f\", $rss_kb / 1024)") MiB ($rss_kb kB) |"
  echo "| soundtrack decoded alone | $decode_cpu s CPU, peak resident memory $(calc "sprintf(\"%.1f\", $decode_rss_kb / 1024)") MiB |"
  echo "| demo CPU / decoding alone | $(calc "sprintf(\"%.1f\", $cpu / ($decode_cpu > 0 ? $decode_cpu : 0.01))") x |"
  echo "| frames delivered | $frames on $(value "$stats" connections) connection(s) |"
  echo "| \"too late\" lines | $too_late |"
  echo "| gap between frames, mean | $(value "$stats" "mean frame period") ms |"
  echo "| median | $(value "$stats" median) ms |"
  echo "| 99th percentile | $(value "$stats" "99th percentile") ms |"
  echo "| largest gap | $largest ms |"
  echo "| drift: (t_last - t_first) - 40 ms x (frames - 1) | $(value "$stats" drift) ms |"
  echo "| of it, the $long_gaps gaps over 60 ms (their excess over 40 ms, summed) | $long_excess ms |"
  echo "| of those, the $start_gaps in front of a scene's first frame | $start_excess ms |"
  echo "| of those, the ones inside scenes: scene, gaps (excess) | $inside |"
  echo "| among them the largest, $largest ms at $(value "$stats" "largest gap at") (in the $(value "$stats" "largest gap in")) | $(calc "sprintf(\"%.2f\", $largest - 40)") ms |"
  echo "| of it, all other gaps (their excess, summed) | $(value "$stats" "regular gaps excess") ms |"
  echo "| frame timing chart | $chart |"
  echo "| script run time | $((run_s / 60)) min $((run_s % 60)) s |"
} | tee "$table"
