#!/usr/bin/env bash
# What the 180-degree VR marking costs beside the encoding it follows, in the
# same run. The encoder makes a 1920x1920 movie as the .mp4 row does
# (libx264 at its default quality, AAC sound) from a noisy test picture, so
# its output grows fast and the comparison is on the encoder's side; the
# movie is then copied in a loop up to SIZE_MB, and that movie is marked.
# The encoding time of the large movie is the measured seconds per byte of
# the encoder times its size.
#
#   bench/compare-vr-remux.sh BUILD_DIR [SIZE_MB]
# Last line: "remux / encoding time: X.XXX".
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"

build=${1:?usage: compare-vr-remux.sh BUILD_DIR [SIZE_MB]}
size_mb=${2:-1024}
bin="$build/bench/video/video_mark_vr"
[[ -x $bin ]] || { echo "compare-vr-remux: $bin not built" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-vr-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

t0=$(date +%s.%N)
ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1920:rate=30:duration=10" \
  -f lavfi -i "sine=duration=10" -ac 2 -ar 44100 \
  -vf "noise=alls=12:allf=t" -pix_fmt yuv420p -c:v libx264 -c:a aac -f mp4 "$work/piece.mp4"
t1=$(date +%s.%N)
piece=$(stat -c %s "$work/piece.mp4")
encode_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}')
loops=$(( (size_mb * 1048576 + piece - 1) / piece ))
ffmpeg -v error -y -stream_loop $(( loops - 1 )) -i "$work/piece.mp4" -c copy -f mp4 "$work/large.mp4"
rm -f "$work/piece.mp4"
large=$(stat -c %s "$work/large.mp4")
sync
out=$("$bin" "$work/large.mp4")
remux_s=$(awk '{print $(NF-1)}' <<<"$out")
echo "encoder: $piece bytes in ${encode_s} s ($(awk -v p="$piece" -v s="$encode_s" 'BEGIN {printf "%.1f", p / s / 1048576}') MB/s of output)"
echo "large movie: $large bytes; $out"
estimate=$(awk -v s="$encode_s" -v p="$piece" -v l="$large" 'BEGIN {printf "%.1f", s / p * l}')
echo "encoding it would take about $estimate s"
awk -v r="$remux_s" -v e="$estimate" 'BEGIN {printf "remux / encoding time: %.3f\n", r / e}'
