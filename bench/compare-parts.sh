#!/usr/bin/env bash
# A movie converted whole against the same movie converted as two parts at
# once (one per core) and joined: wall time of each, the join's time per
# minute of output, and frames per second of a part, for the model of N
# machines. The source is a fisheye clip made by tools/make-fisheye-clip
# (SIZE, SECONDS, 25 fps, sound, a key frame every 10 s) unless one is given.
#
#   bench/compare-parts.sh BUILD_DIR [SIZE] [SECONDS] [SOURCE]
# Last line: "two parts / whole: X.XXX".
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"

build=${1:?usage: compare-parts.sh BUILD_DIR [SIZE] [SECONDS] [SOURCE]}
size=${2:-1920x1080}
seconds=${3:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$build/cli/tessaly-convert"
[[ -x $bin ]] || { echo "compare-parts: $bin not built" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-parts-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/temp"
src=${4:-}
if [[ -z $src ]]; then
  src="$work/src.mp4"
  "$root/tools/make-fisheye-clip" "$src" --size "$size" --fps 25 --duration "$seconds" --audio --extra "-g 250"
fi

now() { date +%s.%N; }
span() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b - a}'; }
# The same cut for every run: the circle search is not what is compared.
run() { "$bin" --temp "$work/temp" --cut 0,0,600,600 "$@" 2>&1 | tail -1; }

t0=$(now); run "$src" "$work/whole.mp4"; t1=$(now)
whole=$(span "$t0" "$t1")
t2=$(now)
run --part 1/2 "$src" "$work/part1.mkv" > "$work/p1.txt" & p1=$!
run --part 2/2 "$src" "$work/part2.mkv" > "$work/p2.txt" & p2=$!
wait "$p1" "$p2"
t3=$(now)
cat "$work/p1.txt" "$work/p2.txt"
run --join "$src" "$work/joined.mp4" "$work/part1.mkv" "$work/part2.mkv"
t4=$(now)
parts=$(span "$t2" "$t3")
join=$(span "$t3" "$t4")
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 "$work/joined.mp4")
movie_min=$(awk -v f="$frames" 'BEGIN {print f / 25 / 60}')
echo "whole run: $whole s; two parts at once: $parts s, join: $join s (both: $(span 0 "$(awk -v a="$parts" -v b="$join" 'BEGIN {print a + b}')") s)"
echo "join: $(awk -v j="$join" -v m="$movie_min" 'BEGIN {printf "%.2f", j / m}') s per minute of output; $frames frames"
awk -v p="$parts" -v j="$join" -v w="$whole" 'BEGIN {printf "two parts / whole: %.3f\n", (p + j) / w}'
