#!/usr/bin/env bash
# Peak resident memory of tessaly-convert itself (its own VmHWM, not the
# ffmpeg processes it runs) converting with JPEG stills and writer threads,
# against the bounds it is built to keep:
#   1920 x 1080 source -> 1104 x 1104: 120 MB
#   3840 x 2160 source -> 2210 x 2210: 400 MB
#   3840 x 2160 source cut to a 6000 x 6000 output: 1.5 GB
#
#   bench/compare-memory.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build beside this folder and must hold
# cli/tessaly-convert.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"
. "$(dirname "${BASH_SOURCE[0]}")/measure-run.sh"

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
exe="$build/cli/tessaly-convert"
[[ -x "$exe" ]] || { echo "compare-memory: $exe is missing (./tessaly.sh test builds it)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/compare-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

# peak_kb ARGS...: tessaly-convert's highest VmHWM in kB for a run.
peak_kb() {
  local seconds peak cpu
  read -r seconds peak cpu <<<"$(measure_run "$exe" "$work/run.log" "$@")"
  echo "$peak"
}

"$root/tools/make-fisheye-clip" "$work/hd.mp4" --size 1920x1080 --duration 2 --audio
"$root/tools/make-fisheye-clip" "$work/uhd.mp4" --size 3840x2160 --duration 1 --audio

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo "machine: $cpu, $(nproc) cores; JPEG stills, $(nproc) writer threads"
report() {  # label peak_kb bound_mb
  awk -v l="$1" -v k="$2" -v b="$3" 'BEGIN {
    printf "%-34s peak %7.1f MB (bound %d MB): %s\n", l, k * 1024 / 1e6, b, (k * 1024 <= b * 1e6) ? "within" : "ABOVE" }'
}
mkdir -p "$work/t1" "$work/t2" "$work/t3"
start=--cut=-8,-8,616,606  # the start cut, given: no lens circle search
report "1920x1080 -> 1104x1104" "$(peak_kb --temp "$work/t1" --stills jpg "$start" "$work/hd.mp4" "$work/hd-out.mp4")" 120
report "3840x2160 -> 2210x2210" "$(peak_kb --temp "$work/t2" --stills jpg "$start" "$work/uhd.mp4" "$work/uhd-out.mp4")" 400
report "3840x2160 cut -> 6000x6000" \
  "$(peak_kb --temp "$work/t3" --stills jpg --cut 0,0,1667,1667 "$work/uhd.mp4" "$work/big-out.mp4")" 1500
