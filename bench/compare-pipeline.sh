#!/usr/bin/env bash
# Times the whole conversion of a 10-second 1920x1080 fisheye clip with sound:
#   (a) tessaly-convert to MP4 at the default cut and settings, streaming
#       (its default: frames piped into the encoder, no stills);
#   (b) the same with --stills bmp (stills on disk, then the encoder);
#   (c) ffmpeg's one-command equivalent: crop to the fisheye circle, v360
#       fisheye -> 1104x1104 equirect (interp=cubic), libx264 at the same
#       quality (CRF 22, as the MP4 row), sound re-encoded as the row does.
# All run in this same invocation on the same machine. Prints wall time and
# peak resident memory of each, the temporary disk the streaming run used,
# and a second figure on a 3840x2160 source (streaming vs ffmpeg) to show
# how the cost grows with the work; the last line is
#   pipeline time ratio vs ffmpeg v360: X.XX   (streaming / ffmpeg; target <= 0.85)
# preceded by
#   still-path time ratio vs ffmpeg v360: X.XX
# TESSALY_BENCH_4K=0 skips the 4K figure.
#
#   bench/compare-pipeline.sh [BUILD_DIR]     (default: build)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
convert=$build/cli/tessaly-convert
[[ -x $convert ]] || { echo "compare-pipeline: $convert not built" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "compare-pipeline: ffmpeg not found" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo), $(ffmpeg -version | head -1 | cut -d' ' -f1-3)"
echo "making the 10 s 1920x1080 30 fps test clip with sound ..."
"$here/tools/make-fisheye-clip" "$work/clip.mp4" --size 1920x1080 --fps 30 --duration 10 --audio

# Our converter in a program folder of its own, so it reads no parameter file
# of anyone and writes its log there.
mkdir -p "$work/prog" "$work/temp"
cp "$convert" "$work/prog/"

hwm_kb() { awk '/^VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || true; }

# Bytes of stills and sound in the temporary folder, and of everything there.
# The run changes the folder while find walks it: a file or folder that goes
# away under find makes it fail, which only means that file no longer counts.
frame_bytes() { { find "$work/temp" -type f \( -name 'mono*' -o -name '*.wav' \) -printf '%s\n' 2>/dev/null || true; } | awk '{s += $1} END {print s + 0}'; }
all_bytes() { { find "$work/temp" -type f -printf '%s\n' 2>/dev/null || true; } | awk '{s += $1} END {print s + 0}'; }

# measure NAME COMMAND...: wall seconds, the peak resident memory of the
# command's own process and the largest peak of the processes it starts
# (tessaly-convert's encoder and sound extraction), sampled every 50 ms.
measure() {
  local name=$1; shift
  local start end pid self=0 child=0 v c
  temp_frames=0 temp_all=0
  start=$(date +%s.%N)
  "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    v=$(hwm_kb "$pid"); [[ -n $v && $v -gt $self ]] && self=$v
    for c in $(pgrep -P "$pid" || true); do
      v=$(hwm_kb "$c"); [[ -n $v && $v -gt $child ]] && child=$v
    done
    v=$(frame_bytes); [[ $v -gt $temp_frames ]] && temp_frames=$v
    v=$(all_bytes); [[ $v -gt $temp_all ]] && temp_all=$v
    sleep 0.05
  done
  wait "$pid" || { echo "compare-pipeline: $name failed:" >&2; tail -5 "$work/$name.log" >&2; exit 1; }
  end=$(date +%s.%N)
  local secs
  secs=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}')
  if [[ $child -gt 0 ]]; then
    printf '%-16s %8.2f s   peak RSS %5d MB (its encoder child processes: %d MB)\n' \
      "$name" "$secs" $((self / 1024)) $((child / 1024))
  else
    printf '%-16s %8.2f s   peak RSS %5d MB\n' "$name" "$secs" $((self / 1024))
  fi
  eval "${name//-/_}_secs=$secs"
  eval "${name//-/_}_rss=$((self / 1024))"
}

# The start cut, given: the same job as ffmpeg's below (no lens circle search).
measure streaming "$work/prog/tessaly-convert" --temp "$work/temp" --cut -8,-8,616,606 \
  "$work/clip.mp4" "$work/ours.mp4"
echo "temporary disk used by the streaming run: $temp_frames bytes of stills and sound ($temp_all bytes in all: its run log)"
echo "peak RSS of tessaly-convert streaming: $streaming_rss MB (target < 200 MB)"

measure still-path "$work/prog/tessaly-convert" --stills bmp --temp "$work/temp" --cut -8,-8,616,606 \
  "$work/clip.mp4" "$work/ours-stills.mp4"
echo "temporary disk used by the still-path run: $temp_frames bytes of stills and sound"

# The fisheye circle is centred with the frame height as its diameter.
# v360_args IN OUT DIAMETER X WIDTH: ffmpeg's arguments (ffmpeg itself is
# measured, not a shell around it).
v360_args() {
  echo -hide_banner -loglevel error -y -i "$1" \
    -vf "crop=$3:$3:$4:0,v360=input=fisheye:output=e:ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:w=$5:h=$5:interp=cubic" \
    -c:v libx264 -crf 22 -pix_fmt yuv420p -c:a aac -ac 2 -ar 44100 "$2"
}
# shellcheck disable=SC2046  # the work folder has no blanks (mktemp)
measure ffmpeg-v360 ffmpeg $(v360_args "$work/clip.mp4" "$work/ffmpeg.mp4" 1080 420 1104)

echo "tessaly-convert says: $(grep 'frames converted' "$work/streaming.log" | tail -1)"
for f in ours ours-stills ffmpeg; do
  echo "$f.mp4: $(ffprobe -v error -count_frames -show_entries stream=codec_type,width,height,nb_read_frames -of csv=p=0 "$work/$f.mp4" | tr '\n' ' ')"
done

if [[ ${TESSALY_BENCH_4K:-1} != 0 ]]; then
  echo "making a 3 s 3840x2160 30 fps clip with sound ..."
  "$here/tools/make-fisheye-clip" "$work/clip4k.mp4" --size 3840x2160 --fps 30 --duration 3 --audio
  measure streaming-4k "$work/prog/tessaly-convert" --temp "$work/temp" --cut -8,-8,616,606 \
    "$work/clip4k.mp4" "$work/ours4k.mp4"
  echo "4K: $(grep 'frames converted' "$work/streaming-4k.log" | tail -1)"
  # shellcheck disable=SC2046
  measure ffmpeg-v360-4k ffmpeg $(v360_args "$work/clip4k.mp4" "$work/ffmpeg4k.mp4" 2160 840 2208)
  awk -v a="$streaming_4k_secs" -v b="$ffmpeg_v360_4k_secs" \
    'BEGIN {printf "4K streaming time ratio vs ffmpeg v360: %.2f\n", a / b}'
fi

awk -v a="$still_path_secs" -v b="$ffmpeg_v360_secs" \
  'BEGIN {printf "still-path time ratio vs ffmpeg v360: %.2f\n", a / b}'
awk -v a="$streaming_secs" -v b="$ffmpeg_v360_secs" \
  'BEGIN {printf "pipeline time ratio vs ffmpeg v360: %.2f\n", a / b}'
