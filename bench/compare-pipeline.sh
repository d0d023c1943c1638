#!/usr/bin/env bash
# Times the whole conversion of a 10-second 1920x1080 fisheye clip with sound:
#   (a) tessaly-convert to MP4 at the default cut and settings;
#   (b) ffmpeg's one-command equivalent: crop to the fisheye circle, v360
#       fisheye -> 1104x1104 equirect (interp=cubic), libx264 at the same
#       quality (its default CRF, as the MP4 row leaves it), sound copied.
# Both run in this same invocation on the same machine. Prints wall time and
# peak resident memory of each; the last line is
#   pipeline time ratio vs ffmpeg v360: X.XX   (ours / ffmpeg's; target <= 1.50)
#
#   bench/compare-pipeline.sh [BUILD_DIR]     (default: build)
set -euo pipefail

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

# measure NAME COMMAND...: wall seconds, the peak resident memory of the
# command's own process and the largest peak of the processes it starts
# (tessaly-convert's encoder and sound extraction), sampled every 50 ms.
measure() {
  local name=$1; shift
  local start end pid self=0 child=0 v c
  start=$(date +%s.%N)
  "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    v=$(hwm_kb "$pid"); [[ -n $v && $v -gt $self ]] && self=$v
    for c in $(pgrep -P "$pid" || true); do
      v=$(hwm_kb "$c"); [[ -n $v && $v -gt $child ]] && child=$v
    done
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
}

measure tessaly-convert "$work/prog/tessaly-convert" --temp "$work/temp" \
  "$work/clip.mp4" "$work/ours.mp4"

# The fisheye circle is centred with the frame height as its diameter.
measure ffmpeg-v360 ffmpeg -hide_banner -loglevel error -y -i "$work/clip.mp4" \
  -vf "crop=1080:1080:420:0,v360=input=fisheye:output=e:ih_fov=180:iv_fov=180:h_fov=180:v_fov=180:w=1104:h=1104:interp=cubic" \
  -c:v libx264 -pix_fmt yuv420p -c:a copy "$work/ffmpeg.mp4"

echo "tessaly-convert says: $(grep 'frames converted' "$work/tessaly-convert.log" | tail -1)"
for f in ours ffmpeg; do
  echo "$f.mp4: $(ffprobe -v error -show_entries stream=codec_type,width,height -of csv=p=0 "$work/$f.mp4" | tr '\n' ' ')"
done
awk -v a="$tessaly_convert_secs" -v b="$ffmpeg_v360_secs" \
  'BEGIN {printf "pipeline time ratio vs ffmpeg v360: %.2f\n", a / b}'
