#!/usr/bin/env bash
# Remapping speed of our fisheye projection against FFmpeg's own v360 filter,
# both turning the same fisheye circle of a 1920 x 1080 clip into a
# 1104 x 1104 equirectangular picture (180 x 180 degrees) with cubic
# interpolation, on all cores.
#
#   bench/compare-remap.sh [BUILD_DIR] [SECONDS] [ROUNDS]
#
# v360: ffmpeg decoding the clip through crop + v360 into the null muxer, minus
# ffmpeg decoding the same clip alone, per frame.
# Ours: the same frames, decoded by ffmpeg to raw BGRA first, projected at the
# default cut through the remap table (timed per frame; the table build, once
# per geometry, reported apart), with the row-split pool and on one
# thread. Several rounds (5) time all of them in turn; the best of each
# counts, which keeps other work on the machine out of the figures.
# BUILD_DIR defaults to build-bench-remap beside this folder and is
# configured and built when needed. Last line: v360's time divided by ours.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-bench-remap}
seconds=${2:-6}
rounds=${3:-5}

for tool in ffmpeg ffprobe cmake ninja; do
  command -v "$tool" >/dev/null || { echo "compare-remap: '$tool' is missing (apt-get install ffmpeg cmake ninja-build)" >&2; exit 2; }
done
filters=$(ffmpeg -hide_banner -filters 2>/dev/null || true)
if ! grep -q ' v360 ' <<<"$filters"; then
  echo "compare-remap: this ffmpeg has no v360 filter" >&2
  exit 2
fi

exe="$build/bench/transform/remap_frames"
if [[ ! -x "$exe" ]] || [[ ! -f "$build/build.ninja" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DTESSALY_MEDIA=OFF >/dev/null
fi
ninja -C "$build" remap_frames >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-remap.XXXXXX")
trap 'rm -rf "$work"' EXIT

clip="$work/clip.mp4"
"$root/tools/make-fisheye-clip" "$clip" --size 1920x1080 --fps 25 --duration "$seconds"

# The default cut on 1920 x 1080: crop column -26, top row -18 (the crop's row
# y shows picture row -19 + y), 1997 x 1105, so the circle's centre is
# picture column 972, row 533, and its 90-degree rim lies 502.3 pixels out:
# v360 gets the bounding square of that circle.
v360="crop=1004:1004:470:31,v360=input=fisheye:output=equirect:ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:w=1104:h=1104:interp=cubic"

now() { date +%s.%N; }
seconds_of() {  # command... -> wall seconds
  local t0 t1
  t0=$(now)
  "$@"
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }'
}
# Waits (up to 30 s) until nothing else is running, so that each timed run
# starts on an idle machine.
wait_idle() {
  local i
  for ((i = 0; i < 60; i++)); do
    [[ $(awk '/^procs_running/ { print $2 }' /proc/stat 2>/dev/null || echo 1) -le 1 ]] && return 0
    sleep 0.5
  done
}
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

ff=(ffmpeg -hide_banner -loglevel error -nostdin -y)
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$clip")
"${ff[@]}" -i "$clip" -pix_fmt bgra -f rawvideo "$work/frames.bgra"

# Rounds, each timing all three in turn, so that a change of the machine's
# load hits both sides alike; the best of each is kept.
decode_s="" v360_s="" ours="" ours_st="" best_mt="" best_st=""
faster() { [[ -z "$2" ]] || awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
for ((round = 0; round < rounds; round++)); do
  wait_idle
  decode_s=$(min "$decode_s" "$(seconds_of "${ff[@]}" -i "$clip" -f null -)")
  wait_idle
  v360_s=$(min "$v360_s" "$(seconds_of "${ff[@]}" -i "$clip" -vf "$v360" -f null -)")
  wait_idle
  run=$("$exe" 1920 1080 "$work/frames.bgra") ||
    { echo "compare-remap: remap_frames failed (threaded and single-thread outputs differ?)" >&2; exit 1; }
  mt=$(sed -n 's/^frame_ms_mt=//p' <<<"$run")
  st=$(sed -n 's/^frame_ms_st=//p' <<<"$run")
  if faster "$mt" "$best_mt"; then best_mt=$mt; ours=$run; fi
  if faster "$st" "$best_st"; then best_st=$st; ours_st=$run; fi
done
val() { sed -n "s/^$1=//p" <<<"$ours"; }
val_st() { sed -n "s/^$1=//p" <<<"$ours_st"; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
awk -v frames="$frames" -v rounds="$rounds" -v dec="$decode_s" -v v="$v360_s" -v nproc="$(nproc)" -v cpu="$cpu" \
    -v of="$(val frames)" -v out="$(val output)" -v thr="$(val threads)" -v kern="$(val kernel)" \
    -v same="$(val identical)" -v fmt="$(val fill_ms_mt)" -v fst="$(val_st fill_ms_st)" \
    -v mt="$(val frame_ms_mt)" -v st="$(val_st frame_ms_st)" -v mdmt="$(val median_ms_mt)" -v mdst="$(val_st median_ms_st)" \
    -v nmt="$(val ns_per_px_mt)" -v nst="$(val_st ns_per_px_st)" -v tb="$(val table_bytes)" 'BEGIN {
  vf = (v - dec) * 1000 / frames
  printf "machine: %s, %d cores\n", cpu, nproc
  printf "clip: 1920x1080, %d frames; output %s, cubic\n", frames, out
  printf "ffmpeg decode only: %.3f s; decode + crop + v360: %.3f s (best of %d rounds)\n", dec, v, rounds
  printf "v360 remap: %.3f ms/frame\n", vf
  printf "ours (%s kernel, %d threads, %d frames, best of %d rounds): %.3f ms/frame (median %.3f), %.3f ns/output pixel\n", kern, thr, of, rounds, mt, mdmt, nmt
  printf "ours single-thread: %.3f ms/frame (median %.3f), %.3f ns/output pixel\n", st, mdst, nst
  printf "table build (once per geometry): %.1f ms with %d threads, %.1f ms on one thread; table %.1f MB\n", fmt, thr, fst, tb / 1e6
  printf "threaded and single-thread outputs identical on every frame: %s\n", same == 1 ? "yes" : "NO"
  printf "single-thread speedup vs v360 (all cores): %.2f\n", vf / st
  printf "remap speedup vs v360: %.2f\n", vf / mt
}'
