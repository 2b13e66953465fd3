#!/usr/bin/env bash
# Instruction counts under callgrind, which machine load does not change:
# each scene per frame (drawing and sending), the audio thread per block, and
# the whole show. Prints one table; the callgrind files stay in
# build/bench/instructions/ for callgrind_annotate.
#
# Two runs, side by side on two cores (under three minutes on an idle
# two-core machine; longer while other work shares it):
#  - scene_instructions: the show's sequence in virtual time, each part
#    dumped on its own with the frames it sent. The virtual player decodes
#    the soundtrack inside the scenes' position reads; in the show that is the
#    audio thread's work, so each part's figure is its dump total less the
#    inclusive cost of every call of ov_read and of the spectrum tap
#    (visualize) in that dump. Those two sums, over the whole soundtrack,
#    give the audio block's figure.
#  - demo_virtual: the demo's own driver over the whole show (one thread)
#    into the simulator.
#
# The frame-time column is an estimate for a 1.2 GHz Cortex-A53-class core.
# That core issues in order, two instructions at best per cycle; on this kind
# of code (libgd's double-precision resampling loops, calls per pixel,
# integer pixel loops with loads and stores) such cores sustain roughly 0.5 to
# 0.8 instructions per cycle, and the column assumes 0.6 (IPC below). The
# counts are x86-64 instructions; an AArch64 build executes a similar number,
# not the same.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/simulator.sh

IPC=${IPC:-0.6}
CLOCK_HZ=1200000000
FRAME_BUDGET=2000000
BLOCK_BUDGET=1000000

scripts/build.sh scene_instructions demo_virtual ledsim >/dev/null
out=build/bench/instructions
rm -rf "$out"
mkdir -p "$out"
callgrind=(valgrind --tool=callgrind --compress-strings=no --compress-pos=no)

simulator=
cleanup() { if [ -n "$simulator" ]; then kill "$simulator" 2>/dev/null || true; fi; }
trap cleanup EXIT

start=$(date +%s)
"${callgrind[@]}" --collect-atstart=no --callgrind-out-file="$out/scenes.%p" \
  build/bench/scene_instructions >"$out/scenes.log" 2>&1 &
scenes_pid=$!

start_simulator "$out/ledsim.log" 127.0.0.1:0 --summary "$out/ledsim_summary.txt" >/dev/null
OPC=$simulator_opc "${callgrind[@]}" --callgrind-out-file="$out/show.%p" \
  build/tests/demo_virtual >"$out/show.log" 2>&1
kill "$simulator"
wait "$simulator" || true
simulator=
wait "$scenes_pid"
show_frames=$(sed -n 's/^frames: //p' "$out/ledsim_summary.txt")
elapsed=$(($(date +%s) - start))

# One line per dump: trigger, total, then the inclusive costs of decoding,
# of the tap (and its calls), of PNG decoding and of libgd's resampling.
summarise() {
  awk '
    FNR == 1 { if (file) emit(); file = FILENAME; trigger = "part=whole show;frames=0;blocks=0";
               total = decode = tap = taps = png = resample = 0 }
    /^desc: Trigger: Client Request: / { trigger = substr($0, length("desc: Trigger: Client Request: ") + 1) }
    /^summary:/ { total = $2 }
    /^cfn=/ { callee = substr($0, 5) }
    /^calls=/ {
      split(substr($0, 7), c, " ")
      getline
      if (callee == "ov_read") decode += $2
      else if (callee ~ /^visualize\(/) { tap += $2; taps += c[1] }
      else if (callee == "gdImageCreateFromPngPtr") png += $2
      else if (callee == "gdImageCopyResampled") resample += $2
    }
    function emit() {
      if (total > 0)
        printf "%s;total=%.0f;decode=%.0f;tap=%.0f;taps=%.0f;png=%.0f;resample=%.0f\n", trigger, total, decode, tap, taps,
               png, resample
    }
    END { emit() }
  ' "$@"
}

scene_dumps=$(ls "$out"/scenes.*.* | sort -t. -k3 -n)
{
  summarise $scene_dumps | sed 's/^/scene;/'
  summarise "$out"/show.* | sed "s/^/show;frames_sent=$show_frames;/"
} >"$out/summary.txt"

awk -v ipc="$IPC" -v hz="$CLOCK_HZ" -v frame_budget="$FRAME_BUDGET" -v block_budget="$BLOCK_BUDGET" \
    -v elapsed="$elapsed" -F';' '
  function commas(n,   s, neg) {
    n = sprintf("%.0f", n); neg = n < 0; if (neg) n = -n
    s = ""
    while (length(n) > 3) { s = "," substr(n, length(n) - 2) s; n = substr(n, 1, length(n) - 3) }
    return (neg ? "-" : "") n s
  }
  function ms(instructions) { return sprintf("%.2f", instructions / ipc / hz * 1000) }
  {
    delete v
    for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
    own = v["total"] - v["decode"] - v["tap"]
    if ($1 == "show") {
      show_total = v["total"]; show_audio = v["decode"] + v["tap"]; show_frames = v["frames_sent"]
      next
    }
    rows[++n] = v["part"]; frames[n] = v["frames"]; own_of[n] = own
    png_of[n] = v["png"]; resample_of[n] = v["resample"]
    blocks += v["blocks"]; decode += v["decode"]; tap += v["tap"]; taps += v["taps"]
  }
  END {
    printf "%-30s %6s %14s %14s %12s %9s\n", "part", "frames", "instr/frame", "resampling", "PNG decode", "A53 ms"
    printf "%-30s %6s %14s %14s %12s %9s\n", "", "", "(draw + send)", "(per frame)", "(per call)", "per frame"
    for (i = 1; i <= n; ++i) {
      if (frames[i] == 0) {
        printf "%-30s %6s %14s %14s %12s %9s  once: %s instructions\n", rows[i], "-", "-", "-", commas(png_of[i]), "-",
               commas(own_of[i])
        continue
      }
      per_frame = own_of[i] / frames[i]
      printf "%-30s %6d %14s %14s %12s %9s%s\n", rows[i], frames[i], commas(per_frame),
             commas(resample_of[i] / frames[i]), commas(png_of[i]), ms(per_frame),
             (per_frame > frame_budget ? "  OVER" : "")
    }
    block = decode / blocks; tap_call = taps ? tap / taps : 0; average = (decode + tap) / blocks
    printf "\naudio block (8192 bytes): decode %s + tap %s = %s instructions, %s ms (a block of the analyser)\n",
           commas(block), commas(tap_call), commas(block + tap_call), ms(block + tap_call)
    printf "  on average over the show: %s instructions, %s ms%s\n", commas(average), ms(average),
           (average > block_budget ? "  OVER" : "")
    printf "  (decode averaged over %d blocks, the whole soundtrack; tap over its %d calls in the analyser)\n",
           blocks, taps
    printf "whole show (demo_virtual, %d frames): %s instructions, %s per frame\n", show_frames, commas(show_total),
           commas(show_total / show_frames)
    printf "  of which the virtual player'"'"'s decoding and tap %s; without them %s per frame, %s ms\n",
           commas(show_audio), commas((show_total - show_audio) / show_frames),
           ms((show_total - show_audio) / show_frames)
    printf "budgets: %s per frame, %s per audio block; A53 ms at %s instructions per cycle, 1.2 GHz\n",
           commas(frame_budget), commas(block_budget), ipc
    printf "callgrind runs took %d s\n", elapsed
  }
' "$out/summary.txt" | tee "$out/table.txt"
