#!/usr/bin/env bash
# The test-clip maker gives the requested size, rate, length and sound, and a
# picture that is black outside a centred circle of the frame's height.
set -euo pipefail
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$tool" "$dir/clip with blank.avi" --size 320x240 --fps 10 --duration 1.5 --audio --vcodec mjpeg
probe() { ffprobe -v error -select_streams "$1" -count_frames -show_entries "$2" -of csv=p=0 "$dir/clip with blank.avi"; }
[[ $(probe v:0 stream=width,height) == "320,240" ]] || fail "size"
[[ $(probe v:0 stream=codec_name) == "mjpeg" ]] || fail "codec"
[[ $(probe v:0 stream=nb_read_frames) == "15" ]] || fail "frame count $(probe v:0 stream=nb_read_frames)"
[[ $(probe a:0 stream=sample_rate,channels) == "44100,2" ]] || fail "sound"

# First frame as 8-bit grey: corners black, a point near the centre and one
# just inside its left edge lit.
ffmpeg -v error -i "$dir/clip with blank.avi" -frames:v 1 -f rawvideo -pix_fmt gray "$dir/f.gray"
pixel() { od -An -tu1 -j $(( $2 * 320 + $1 )) -N1 "$dir/f.gray" | tr -d ' '; }
for xy in "0 0" "319 0" "0 239" "319 239" "45 5"; do
  (( $(pixel $xy) < 20 )) || fail "not black outside the circle at $xy: $(pixel $xy)"
done
(( $(pixel 130 120) > 40 )) || fail "inner part is dark"
(( $(pixel 45 120) > 40 )) || fail "left edge of the circle is dark"

"$tool" "$dir/silent.mp4" --size 64x48 --duration 0.4
[[ -z $(ffprobe -v error -select_streams a -show_entries stream=index -of csv=p=0 "$dir/silent.mp4") ]] || fail "unexpected sound"
if "$tool" "$dir/x.mp4" --size nonsense 2>/dev/null; then fail "bad size accepted"; fi
echo "make-fisheye-clip: ok"
