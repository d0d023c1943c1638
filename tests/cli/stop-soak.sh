#!/bin/bash
# Many starts of tessaly-convert, each sent SIGTERM at a random moment of its
# first 0.3 s (option checks, the movie opening, the first frames): every run
# must end within 2 s of the signal with exit status 143 and leave nothing,
# neither an output nor anything in its temporary folder.
#
#   stop-soak.sh TESSALY_CONVERT SOURCE_DIR [RUNS]
set -u

program=$1
source_dir=$2
runs=${3:-200}
limit_ms=2000

# Its own folder in the current one (ctest runs it in the build tree), away
# from the clean-ups other programs make in /tmp.
work=$(mktemp -d "$PWD/stop-soak.XXXXXX")
# Only this shell removes it: a job's shell that a signal ends before it has
# started the program would run an inherited EXIT trap too.
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT
mkdir -p "$work/prog" "$work/temp" "$work/out"
# A program folder of its own: the shared log lives beside the program.
ln "$program" "$work/prog/tessaly-convert" 2>/dev/null || cp "$program" "$work/prog/tessaly-convert"
clip=$work/clip.mp4
"$source_dir/tools/make-fisheye-clip" "$clip" --size 640x480 --fps 30 --duration 4 --audio >/dev/null 2>&1 ||
    { echo "cannot make the test clip"; exit 1; }

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

failures=0
slowest=0
for ((i = 1; i <= runs; i++)); do
    out=$work/out/run$i.mp4
    delay_ms=$((RANDOM % 301))
    # Started as a job of a script, whose background jobs ignore SIGINT; the
    # program must see SIGTERM as usual.
    "$work/prog/tessaly-convert" --temp "$work/temp" "$clip" "$out" >"$work/log.txt" 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -TERM "$pid" 2>/dev/null
    sent=$(now_ms)
    # A run that hangs is killed after 10 s and counted as a failure.
    (trap - EXIT; for ((t = 0; t < 100; t++)); do sleep 0.1; kill -0 "$pid" || exit; done; kill -KILL "$pid") >/dev/null 2>&1 &
    guard=$!
    wait "$pid"
    rc=$?
    took=$(( $(now_ms) - sent ))
    kill "$guard" 2>/dev/null
    wait "$guard" 2>/dev/null
    ((took > slowest)) && slowest=$took
    problem=""
    if ((rc != 143)); then
        problem="exit status $rc"
    elif ((took > limit_ms)); then
        problem="ended ${took} ms after the signal"
    elif [ -e "$out" ]; then
        problem="left its output"
    elif [ -n "$(ls -A "$work/temp")" ]; then
        problem="left $(ls -A "$work/temp" | head -3 | tr '\n' ' ')in the temporary folder"
    fi
    if [ -n "$problem" ]; then
        failures=$((failures + 1))
        echo "run $i (signal after ${delay_ms} ms): $problem"
        [ -f "$work/log.txt" ] && sed 's/^/    /' "$work/log.txt"
        rm -rf "$work/temp"/* "$out"
    fi
done
echo "$runs runs, $failures failed; the slowest ended ${slowest} ms after its signal"
((failures == 0))
