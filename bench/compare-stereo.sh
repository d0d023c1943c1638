#!/usr/bin/env bash
# Stereo against mono in the same run: a dual-fisheye source (two circles
# side by side) converted with --stereo sbs against its left half converted
# as one eye, at 1920x1080 and at 8192x4320 (two circles of 3700 px). For
# each: the wall time and tessaly-convert's own CPU time (user + system, its
# encoder not counted; on a loaded machine the steadier figure) per frame and
# its peak memory (VmHWM), with the bounds it keeps: two eyes within 2.1x one
# eye's time per frame and within 2x its memory. The stereo run's CPU time
# includes its circle search, which the mono run (given --circle) skips.
# Two stereo runs: --no-align-eyes (both eyes one lens: one remap table),
# and the eyes aligned (the default) with the right one rolled by a degree
# (each eye its own angles: a table each, the most a stereo run holds).
#
#   bench/compare-stereo.sh [BUILD_DIR] [FRAMES]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/measure-run.sh"

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
frames=${2:-6}
exe="$build/cli/tessaly-convert"
[[ -x "$exe" ]] || { echo "compare-stereo: $exe is missing (./tessaly.sh test builds it)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/compare-stereo.XXXXXX")
trap 'rm -rf "$work"' EXIT

# clip OUT W H D LX LY RX RY: one blurred test pattern as two masked fisheye
# circles of diameter D on black.
clip() {
  local out=$1 w=$2 h=$3 d=$4 lx=$5 ly=$6 rx=$7 ry=$8 half=$(($4 / 2))
  local secs
  secs=$(awk -v f="$frames" 'BEGIN { printf "%.2f", f / 5 }')
  ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=size=$((2 * d))x$d:rate=5:duration=$secs" \
    -f lavfi -i "color=black:size=${w}x$h:rate=5:duration=$secs" \
    -filter_complex "color=black:size=${d}x$d:rate=5:duration=$secs,format=gray,geq=lum='if(lte(hypot(X-$half+0.5,Y-$half+0.5),$half),255,0)',split[m1][m2];[0:v]gblur=sigma=3,split[a][b];[a]v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=$d:h=$d,format=rgba[l0];[l0][m1]alphamerge[l];[b]v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=$d:h=$d:yaw=8,format=rgba[r0];[r0][m2]alphamerge[r];[1:v][l]overlay=$lx:$ly[t];[t][r]overlay=$rx:$ry,format=yuv420p[v]" \
    -map "[v]" -c:v libx264 -preset ultrafast -crf 12 "$out"
}

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "machine: $cpu, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $frames frames, streaming to .mp4"
# layout W H D LX LY RX RY
for layout in "1920 1080 900 30 90 990 90" "8192 4320 3700 248 310 4344 310"; do
  read -r w h d lx ly rx ry <<<"$layout"
  clip "$work/sbs.mp4" "$w" "$h" "$d" "$lx" "$ly" "$rx" "$ry"
  ffmpeg -hide_banner -loglevel error -nostdin -y -i "$work/sbs.mp4" -vf "crop=$((w / 2)):$h:0:0" \
    -c:v libx264 -preset ultrafast -crf 12 "$work/mono.mp4"
  cx=$(awk -v a="$lx" -v d="$d" 'BEGIN { print a + d / 2 - 0.5 }')
  cy=$(awk -v a="$ly" -v d="$d" 'BEGIN { print a + d / 2 - 0.5 }')
  read -r ms mk mc <<<"$(measure_run "$exe" "$work/mono.log" --circle "$cx,$cy,$((d / 2))" "$work/mono.mp4" "$work/mono-out.mp4")"
  for eyes in --no-align-eyes "--right-roll 1"; do
    # shellcheck disable=SC2086 # the options' words
    read -r ss sk sc <<<"$(measure_run "$exe" "$work/stereo.log" --stereo sbs $eyes "$work/sbs.mp4" "$work/stereo-out.mp4")"
    awk -v l="${w}x$h" -v a="$eyes" -v f="$frames" -v ms="$ms" -v mk="$mk" -v mc="$mc" -v ss="$ss" -v sk="$sk" -v sc="$sc" 'BEGIN {
      printf "%-10s %-15s one eye %7.3f s/frame (CPU %6.3f) %7.1f MB | two eyes %7.3f s/frame (CPU %6.3f) %7.1f MB | time x%.2f, CPU x%.2f (bound 2.1) memory x%.2f (bound 2.0)\n",
        l, a, ms / f, mc / f, mk * 1024 / 1e6, ss / f, sc / f, sk * 1024 / 1e6, ss / ms, sc / mc, sk / mk }'
  done
done
