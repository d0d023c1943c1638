#!/usr/bin/env bash
# Encoding speed of our JPEG encoder against libjpeg-turbo's cjpeg with the
# same settings (quality 98, 4:4:4, optimal Huffman tables, float DCT) on the
# same 1104 x 1104 frame: a frame of a synthetic fisheye clip.
#
#   bench/compare-jpeg.sh BUILD_DIR [RUNS]
#
# Ours: one process encodes the frame RUNS times (file written each time).
# cjpeg: RUNS processes on the frame minus RUNS processes on an 8 x 8 picture,
# which leaves out process start-up. Last line: our time divided by cjpeg's.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"

build=${1:?usage: compare-jpeg.sh BUILD_DIR [RUNS]}
runs=${2:-40}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
loop="$build/bench/output/jpeg_encode_loop"
[[ -x "$loop" ]] || { echo "compare-jpeg: $loop not built (ninja -C $build jpeg_encode_loop)" >&2; exit 2; }
command -v cjpeg >/dev/null || { echo "compare-jpeg: cjpeg missing (libjpeg-turbo-progs)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$root/tools/make-fisheye-clip" "$work/clip.mp4" --size 1104x1104 --fps 25 --duration 1 --vcodec libx264 \
  --extra "-crf 12"
ffmpeg -hide_banner -loglevel error -y -i "$work/clip.mp4" -vf "select=eq(n\,12),scale=1104:1104" \
  -frames:v 1 -pix_fmt rgb24 "$work/frame.ppm"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "color=gray:size=8x8" -frames:v 1 -pix_fmt rgb24 \
  "$work/tiny.ppm"

cjpeg_args=(-quality 98 -sample 1x1 -optimize -dct float)

now() { date +%s.%N; }

# Ours.
read -r ours_s ours_bytes < <("$loop" "$work/frame.ppm" "$work/ours.jpg" "$runs")

# cjpeg, start-up subtracted.
cjpeg "${cjpeg_args[@]}" -outfile "$work/cjpeg.jpg" "$work/frame.ppm"  # warm the page cache
t0=$(now)
for ((i = 0; i < runs; i++)); do cjpeg "${cjpeg_args[@]}" -outfile "$work/cjpeg.jpg" "$work/frame.ppm"; done
t1=$(now)
for ((i = 0; i < runs; i++)); do cjpeg "${cjpeg_args[@]}" -outfile "$work/tiny.jpg" "$work/tiny.ppm"; done
t2=$(now)
cjpeg_bytes=$(stat -c %s "$work/cjpeg.jpg")

# Both files must decode; report how close each is to the frame.
psnr() {
  djpeg -ppm -outfile "$work/decoded.ppm" "$1"
  ffmpeg -hide_banner -nostats -i "$work/frame.ppm" -i "$work/decoded.ppm" -lavfi psnr -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.inf]*\).*/\1/p'
}
ours_psnr=$(psnr "$work/ours.jpg")
cjpeg_psnr=$(psnr "$work/cjpeg.jpg")

awk -v runs="$runs" -v ours="$ours_s" -v t0="$t0" -v t1="$t1" -v t2="$t2" \
    -v ob="$ours_bytes" -v cb="$cjpeg_bytes" -v op="$ours_psnr" -v cp="$cjpeg_psnr" 'BEGIN {
  cj = ((t1 - t0) - (t2 - t1)) / runs
  mb = 1104 * 1104 * 3 / 1e6
  printf "frame: 1104x1104 RGB (%.2f MB), quality 98, 4:4:4, optimal tables, float DCT, %d runs each\n", mb, runs
  printf "ours : %7.2f ms per frame, %7.1f MB/s, %d bytes, PSNR %s dB\n", ours * 1000, mb / ours, ob, op
  printf "cjpeg: %7.2f ms per frame, %7.1f MB/s, %d bytes, PSNR %s dB\n", cj * 1000, mb / cj, cb, cp
  printf "jpeg time ratio vs cjpeg: %.2f\n", ours / cj
}'
