# Sourced by the bench/compare-*.sh scripts that time tessaly-convert and
# take its own peak memory (its VmHWM, not that of the ffmpeg processes it
# runs).
#
# measure_run EXE LOG ARGS...: runs EXE ARGS with its output in LOG and
# prints "SECONDS PEAK_KB CPU_SECONDS"; a failed run ends the script with
# LOG's last lines. The peak and the CPU time (user + system) are read from
# /proc while the process lives (both are gone once it has ended), every
# peak_sample_seconds, so the CPU time misses that much of its end at most.
peak_sample_seconds=0.02
measure_run() {
  local exe=$1 log=$2
  shift 2
  local start end pid peak=0 v ticks=0 t hz
  hz=$(getconf CLK_TCK)
  start=$(date +%s.%N)
  "$exe" "$@" >"$log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    v=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [[ -n "$v" && "$v" -gt "$peak" ]] && peak=$v
    t=$(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || true)
    [[ -n "$t" && "$t" -gt "$ticks" ]] && ticks=$t
    sleep "$peak_sample_seconds"
  done
  wait "$pid" || { echo "$(basename "$0" .sh): $(basename "$exe") failed:" >&2; tail -n 3 "$log" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $peak $(awk -v t="$ticks" -v hz="$hz" 'BEGIN { print t / hz }')"
}
