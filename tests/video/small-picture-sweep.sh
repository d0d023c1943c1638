#!/usr/bin/env bash
# Small and odd picture sizes through tessaly-convert: the circle search with
# the streaming conversion, and --circle with the still path. With
# "valgrind" as the second argument every run is under valgrind memcheck,
# which sees the stores made inside libswscale; otherwise the program runs
# as built (the sanitizer build's own checks). Fails on the first memory
# error or crash, naming the size.
#   small-picture-sweep.sh TESSALY-CONVERT valgrind|plain rgb24|yuv420p
set -euo pipefail
converter=$1 mode=$2 format=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-sweep-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/prog"
ln "$converter" "$work/prog/tessaly-convert" 2>/dev/null || cp "$converter" "$work/prog/tessaly-convert"

run=("$work/prog/tessaly-convert")
if [[ $mode == valgrind ]]; then
  run=(valgrind -q --error-exitcode=99 "${run[@]}")
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=99"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:exitcode=99"

if [[ $format == rgb24 ]]; then
  sizes=(1x1 5x7 1x300 17x9 299x5 64x3)
  codec=(-c:v rawvideo) ext=nut
else
  sizes=(3x3 2x128 33x17 161x7 1x2 256x2)
  codec=(-c:v ffv1) ext=mkv
fi

# Runs one conversion; a memory error (99) or a signal fails the sweep, any
# other ending (a picture too small to cut) is the program's own answer.
convert() {
  local size=$1; shift
  local status=0
  "${run[@]}" "$@" >"$work/said" 2>&1 || status=$?
  if ((status == 99 || status >= 128)); then
    echo "FAILED: $size $format: tessaly-convert $* ended with $status" >&2
    cat "$work/said" >&2
    exit 1
  fi
  echo "$size $format: $* -> $status"
}

for size in "${sizes[@]}"; do
  w=${size%x*} h=${size#*x}
  movie="$work/in-$size.$ext"
  ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "testsrc2=size=64x64:rate=25:duration=0.12" \
    -vf "scale=$w:$h,format=$format" "${codec[@]}" "$movie"
  convert "$size" "$movie" "$work/out-$size.mp4"
  r=$(( (w > h ? w : h) / 2 + 1 ))
  convert "$size" --stills bmp --circle "$((w / 2)),$((h / 2)),$r" "$movie" "$work/circle-$size.mp4"
done
echo "small-picture sweep ($format, $mode): no memory error"
