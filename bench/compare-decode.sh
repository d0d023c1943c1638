#!/usr/bin/env bash
# Decoding speed of VideoStream against ffmpeg on the same 1080p H.264 clip,
# in the same run. VideoStream delivers every frame as bottom-up BGRX to a
# callback (conversion mode); the peer is
#   ffmpeg -i clip -pix_fmt bgra -f rawvideo -   (to /dev/null)
# Each side runs three times alternately; the best run of each counts.
#
#   bench/compare-decode.sh BUILD_DIR [SECONDS]
# Last line: "decode ratio vs ffmpeg: X.XX" (ours / ffmpeg's frames per second).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"

build=${1:?usage: compare-decode.sh BUILD_DIR [SECONDS]}
seconds=${2:-8}
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/bench/video/video_decode_rate"
[[ -x $bin ]] || { echo "compare-decode: $bin not built" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$build/bench/video/fisheye-1080p-${seconds}s.mp4"
if [[ ! -f $clip ]]; then
  echo "making $clip ..." >&2
  "$here/../tools/make-fisheye-clip" "$work/clip.mp4" --size 1920x1080 --fps 25 \
    --duration "$seconds" --vcodec libx264 --extra "-preset veryfast -crf 20"
  mv "$work/clip.mp4" "$clip"
fi
frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
         -of default=nw=1:nk=1 "$clip")

best_ours=0 best_peer=0 memory="" growth=""
for run in 1 2 3; do
  out=$("$bin" "$clip")
  fps=$(awk '/^frames/ {print $6}' <<<"$out")
  memory=$(awk '/^memory/ {print $5}' <<<"$out")
  growth=$(awk '/^heap growth/ {print $7}' <<<"$out")
  ours_frames=$(awk '/^frames/ {print $2}' <<<"$out")
  [[ $ours_frames == "$frames" ]] || { echo "VideoStream delivered $ours_frames of $frames frames" >&2; exit 1; }
  best_ours=$(awk -v a="$best_ours" -v b="$fps" 'BEGIN {print (b > a) ? b : a}')

  t0=$(date +%s.%N)
  ffmpeg -hide_banner -loglevel error -nostdin -i "$clip" -pix_fmt bgra -f rawvideo - >/dev/null
  t1=$(date +%s.%N)
  peer=$(awk -v f="$frames" -v a="$t0" -v b="$t1" 'BEGIN {printf "%.2f", f / (b - a)}')
  best_peer=$(awk -v a="$best_peer" -v b="$peer" 'BEGIN {print (b > a) ? b : a}')
  echo "run $run: VideoStream $fps fps, ffmpeg $peer fps" >&2
done

echo "clip: 1920x1080 H.264, $frames frames; machine: $(nproc) cores, $(uname -m)"
echo "VideoStream: $best_ours fps; memory above base: $memory MB; heap growth in steady state: $growth bytes"
echo "ffmpeg bgra rawvideo: $best_peer fps"
awk -v a="$best_ours" -v b="$best_peer" 'BEGIN {printf "decode ratio vs ffmpeg: %.2f\n", a / b}'
