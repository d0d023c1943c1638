#!/usr/bin/env bash
# A one-node Slurm cluster of the test's own (munge with a generated key,
# slurmctld and slurmd on free localhost ports, every state, spool, log and
# pid file in a temporary folder) runs tessaly-slurm:
#   1. a 20 s movie with sound in 4 parts with --wait: the output has the
#      source's frame count and duration, its frames agree with a single run
#      of tessaly-convert (PSNR), its sound is there without a gap, it is
#      marked as 180-degree video, and nothing else is left beside it; the
#      parts ask for the sbatch resources given, the join and report for
#      their own;
#   2. the same with one part failing for real (a file size limit on that
#      task only): a clear failure naming the part and its kept log, the
#      parts not yet run cancelled, no output, no parts; and a join that
#      fails the same way after its parts succeeded;
#   3. one part cancelled with scancel while it runs: the others are
#      cancelled too; and every job of a submission cancelled: --wait
#      removes what the report would;
#   4. a folder of three movies in one call, two parts each, the parts and
#      each movie's job file kept;
#   5. the parameter file changed between submission and the parts' run:
#      the job file in the work folder holds the submitting settings, and
#      the output's picture and sound are identical to those of parts run
#      and joined here with the submitting file;
#   6. a stereo movie (two eyes side by side) in 2 parts: the joined
#      output's frames agree with a single stereo run's (PSNR) and it is
#      marked as side-by-side 180-degree stereo; and a pair of movies (one
#      per eye, the right 3 frames ahead) in 2 parts agrees with a single
#      pair run the same way.
# The daemons are stopped by their pids at the end, on failure too.
#
#   slurm-cluster.sh TESSALY_SLURM SOURCE_DIR
# Needs root (munged, slurmctld and slurmd run as root); a user with sudo
# runs it through sudo. Exit 77 (skipped) only without either.
set -u
# Numbers from ffprobe and awk with a decimal point, whatever the caller's locale.
export LC_ALL=C

slurm_cmd=$1 source_dir=$2
test_start=$(date +%s%N)

if [[ $(id -u) != 0 ]]; then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        exec sudo -n --preserve-env=PATH,TMPDIR "$0" "$@"
    fi
    echo "skipped: the Slurm cluster test starts munged, slurmctld and slurmd as root: run it as root or with sudo"
    exit 77
fi
for tool in munged slurmctld slurmd sbatch squeue scontrol scancel sinfo ffmpeg ffprobe setpriv; do
    command -v "$tool" >/dev/null ||
        { echo "FAIL: $tool is missing (./tessaly.sh deps installs slurmctld, slurmd, slurm-client and munge)"; exit 1; }
done

# The cluster's files in a short path (a munge socket path has at most 107
# bytes); the movies in the current folder (ctest: the build tree).
cluster=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-slurm.XXXXXX")
work=$(mktemp -d "$PWD/slurm-cluster.XXXXXX")
# munged wants every folder up to its socket searchable by all.
chmod 755 "$cluster" "$work"
pids=()
waiter=""  # a tessaly-slurm --wait in the background

stop_cluster() {
    trap - EXIT INT TERM
    if [[ -n $waiter ]]; then
        kill "$waiter" 2>/dev/null
        wait "$waiter" 2>/dev/null
    fi
    if [[ -n ${SLURM_CONF:-} && -f $SLURM_CONF ]] && ((${#pids[@]} > 1)); then
        # Jobs first, so no slurmstepd outlives its slurmd.
        # shellcheck disable=SC2046  # one id a word
        scancel --quiet --full $(squeue -h -o %A 2>/dev/null) 2>/dev/null
        for ((i = 0; i < 100; i++)); do
            [[ -z $(squeue -h -o %A 2>/dev/null) ]] && break
            sleep 0.1
        done
    fi
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -TERM "$pid" 2>/dev/null || continue
        for ((t = 0; t < 100; t++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$cluster" "$work"
}
trap stop_cluster EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

failures=0 checks=0
fail() { failures=$((failures + 1)); echo "FAIL: $*"; }
check() { checks=$((checks + 1)); }
seconds_since() { local ns=$(($(date +%s%N) - $1)); printf '%d.%01d' $((ns / 1000000000)) $((ns % 1000000000 / 100000000)); }
dump_logs() {
    for f in "$cluster"/*.log; do echo "--- $f"; tail -n 20 "$f"; done
}

# ---------------------------------------------------------------------------
# The cluster.

# A port nothing listens on (and that is not already taken here).
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        [[ " $* " == *" $port "* ]] && continue
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}
ctld_port=$(free_port)
slurmd_port=$(free_port "$ctld_port")

mkdir -m 755 "$cluster/munge"
mkdir -p "$cluster/state" "$cluster/spool"
head -c 1024 /dev/urandom >"$cluster/munge/munge.key"
chmod 400 "$cluster/munge/munge.key"
munged --foreground --socket="$cluster/munge/socket" --key-file="$cluster/munge/munge.key" \
    --pid-file="$cluster/munge/munged.pid" --log-file="$cluster/munged.log" \
    --seed-file="$cluster/munge/seed" 2>>"$cluster/munged.log" &
pids+=($!)
for ((i = 0; i < 50; i++)); do [[ -S $cluster/munge/socket ]] && break; sleep 0.1; done
[[ -S $cluster/munge/socket ]] || { echo "FAIL: munged did not start"; dump_logs; exit 1; }

memory_mb=$(awk '/^MemTotal:/ { printf "%d", $2 / 1024 * 0.9 }' /proc/meminfo)
export SLURM_CONF=$cluster/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=tessaly-test
SlurmctldHost=localhost
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$cluster/munge/socket
CredType=cred/munge
MpiDefault=none
MailProg=/bin/true
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SwitchType=switch/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
KillWait=5
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/slurmctld.log
SlurmdLogFile=$cluster/slurmd.log
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$memory_mb State=UNKNOWN
PartitionName=tessaly Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -D -i -f "$SLURM_CONF" >>"$cluster/slurmctld.log" 2>&1 &
pids+=($!)
slurmd -D -N localhost -f "$SLURM_CONF" >>"$cluster/slurmd.log" 2>&1 &
pids+=($!)
state=""
for ((i = 0; i < 300; i++)); do
    state=$(sinfo -h -n localhost -o %T 2>/dev/null)
    [[ $state == idle ]] && break
    sleep 0.1
done
[[ $state == idle ]] || { echo "FAIL: the node did not come up (state '$state')"; dump_logs; exit 1; }
echo "cluster up in $(seconds_since "$test_start") s: slurmctld on port $ctld_port, slurmd on $slurmd_port, $(nproc) CPUs"

# ---------------------------------------------------------------------------
# Movie checks (ffprobe and ffmpeg, not our own reading).

probe() {  # probe FILE ENTRIES -> key=value lines of the first video stream
    ffprobe -v error -select_streams v:0 -count_frames -show_entries "$2" -of default=nw=1 "$1"
}
frames_of() { probe "$1" stream=nb_read_frames | cut -d= -f2; }
video_duration() {
    # The last frame's end: its time plus its duration.
    ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,duration_time -of csv=p=0 "$1" |
        awk -F, '$1 != "N/A" { end = $1 + $2; if (end > last) last = end } END { printf "%.4f", last }'
}
audio_duration() {
    ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time -of csv=p=0 "$1" |
        awk -F, '$1 != "N/A" { end = $1 + $2; if (end > last) last = end } END { printf "%.4f", last }'
}
rate_of() { ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$1"; }

# check_movie OUT SOURCE: frames, duration, sound and marking of a converted movie.
check_movie() {
    local out=$1 src=$2 name=${1##*/}
    check
    [[ -f $out ]] || { fail "$name: no output"; return; }
    local want got rate
    want=$(frames_of "$src") got=$(frames_of "$out")
    [[ -n $want && $got == "$want" ]] || fail "$name: $got frames, the source has $want"
    rate=$(rate_of "$src")
    local vd_src vd_out
    vd_src=$(video_duration "$src") vd_out=$(video_duration "$out")
    awk -v a="$vd_src" -v b="$vd_out" -v r="$rate" 'BEGIN { split(r, q, "/"); exit !((a - b) ^ 2 < (0.5 * q[2] / q[1]) ^ 2) }' ||
        fail "$name: video lasts $vd_out s, the source $vd_src s"
    local ad
    ad=$(audio_duration "$out")
    [[ -n $ad && $ad != 0.0000 ]] || { fail "$name: no sound"; return; }
    awk -v a="$ad" -v v="$vd_src" 'BEGIN { exit !((a - v) ^ 2 < 0.1 ^ 2) }' ||
        fail "$name: sound lasts $ad s, the source's picture $vd_src s"
    # The source's sound is an unbroken tone: any silence is a gap.
    local silence
    silence=$(ffmpeg -hide_banner -nostats -i "$out" -map 0:a:0 -af silencedetect=noise=-40dB:duration=0.05 -f null - 2>&1 |
        grep -c 'silence_start')
    [[ $silence == 0 ]] || fail "$name: $silence gaps in the sound"
    ffprobe -v error -select_streams v:0 -show_streams "$out" | grep -q "projection=" ||
        fail "$name: not marked as 180-degree video"
}

# psnr_min A B: the lowest per-frame PSNR of B against A ("inf" for equal frames).
psnr_min() {
    local stats=$work/psnr.txt
    ffmpeg -hide_banner -nostats -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr=stats_file=$stats" -f null - >/dev/null 2>&1 ||
        { echo "error"; return; }
    awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^psnr_avg:/) { v = substr($i, 10); n++;
           if (v != "inf" && (min == "" || v + 0 < min)) min = v + 0 } }
         END { if (n == 0) print "error"; else if (min == "") print "inf"; else print min }' "$stats"
}

# Nothing but the listed names in a folder (hidden files included).
only_left() {
    local dir=$1 what=$2
    shift 2
    local left
    left=$(cd "$dir" && ls -A | sort | tr '\n' ' ')
    [[ $left == "$*${*:+ }" ]] || fail "$what: left in ${dir##*/}: '${left% }' (expected '$*')"
}

report_of() { sed -n 's/^Submitted report: [0-9]* (\(.*\))$/\1/p' "$1"; }

# ---------------------------------------------------------------------------
# 1. One movie in 4 parts.

mkdir -p "$work/in" "$work/out" "$work/ref" "$work/temp" "$work/logs" "$work/bin"
clip=$work/in/take.mp4
"$source_dir/tools/make-fisheye-clip" "$clip" --size 640x360 --fps 25 --duration 20 --audio ||
    { echo "FAIL: cannot make the test clip"; exit 1; }
convert_opts=(--quality 8 --temp "$work/temp")
converter=$(dirname "$slurm_cmd")/tessaly-convert
t0=$(date +%s%N)
"$converter" "${convert_opts[@]}" "$clip" "$work/ref/take.mp4" >"$work/logs/ref.txt" 2>&1 ||
    { echo "FAIL: the single run failed"; cat "$work/logs/ref.txt"; exit 1; }
single_time=$(seconds_since "$t0")

cd "$work/logs" || exit 1
t0=$(date +%s%N)
rc=0
timeout 300 "$slurm_cmd" --wait --parts 4 -p tessaly -t 30 -c 1 --mem 2G "$clip" "$work/out/take.mp4" -- "${convert_opts[@]}" \
    >"$work/logs/run1.txt" 2>&1 || rc=$?
parts_time=$(seconds_since "$t0")
check
if [[ $rc != 0 ]]; then
    fail "4 parts: exit $rc"
    cat "$work/logs/run1.txt"
    dump_logs
fi
grep -q '^Submitted parts: [0-9]*_\[1-4\]$' "$work/logs/run1.txt" || fail "4 parts: no job array id printed"
grep -q '^Submitted join: [0-9]* (' "$work/logs/run1.txt" || fail "4 parts: no join job id printed"
grep -q "^tessaly-slurm: done: $work/out/take.mp4$" "$work/logs/run1.txt" || fail "4 parts: the report does not say done"
check_movie "$work/out/take.mp4" "$clip"
psnr=$(psnr_min "$work/ref/take.mp4" "$work/out/take.mp4")
check
[[ $psnr == inf ]] || awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' ||
    fail "4 parts: a frame differs from the single run's (lowest PSNR $psnr dB)"
only_left "$work/out" "4 parts" take.mp4
# The parts ask for what was given; the join and the report for their own.
job_field() { scontrol -o show job "$1" 2>/dev/null | grep -o " $2=[^ ]*" | head -n 1 | cut -d= -f2; }
# task_state ARRAY TASK: the state of one task. A task that started has a
# record of its own; those that never did share the array's own record.
task_state() {
    local records
    records=$(scontrol -o show job "$1" 2>/dev/null | sed -n 's/^JobId=\([0-9]*\) .*ArrayTaskId=\([0-9]*\) .*JobState=\([A-Z_]*\).*/\1 \2 \3/p')
    awk -v a="$1" -v t="$2" '$2 == t { own = $3 } $1 == a { rest = $3 } END { print (own != "" ? own : rest) }' <<<"$records"
}
array1=$(sed -n 's/^Submitted parts: \([0-9]*\)_.*/\1/p' "$work/logs/run1.txt")
join1=$(sed -n 's/^Submitted join: \([0-9]*\) .*/\1/p' "$work/logs/run1.txt")
report1=$(sed -n 's/^Submitted report: \([0-9]*\).*/\1/p' "$work/logs/run1.txt")
for want in "${array1}_1 MinMemoryNode 2G" "${array1}_1 TimeLimit 00:30:00" "$join1 MinMemoryNode 1G" "$join1 NumCPUs 1" \
    "$report1 MinMemoryNode 100M" "$report1 TimeLimit 00:10:00"; do
    read -r job field value <<<"$want"
    check
    got=$(job_field "$job" "$field")
    [[ $got == "$value" ]] || fail "4 parts: job $job has $field=$got, not $value"
done
echo "4 parts: $(frames_of "$work/out/take.mp4") frames; lowest PSNR against the single run $psnr dB;" \
    "submit to finished $parts_time s (the single run on the same node: $single_time s)"
# Where the time went, by the controller's clock (whole seconds).
for id in $(sed -n 's/^Submitted [a-z]*: \([0-9]*\).*/\1/p' "$work/logs/run1.txt"); do
    scontrol -o show job "$id" 2>/dev/null |
        sed -n 's/.*JobId=\([0-9]*\) .*ArrayTaskId=\([0-9]*\).*StartTime=[^ ]*T\([^ ]*\) EndTime=[^ ]*T\([^ ]*\) .*/  part \2 (job \1): \3 to \4/p
                s/^JobId=\([0-9]*\) JobName=\([^ ]*\) .*StartTime=[^ ]*T\([^ ]*\) EndTime=[^ ]*T\([^ ]*\) .*/  \2 (job \1): \3 to \4/p' |
        sort
done

# ---------------------------------------------------------------------------
# 2. One part fails for real: its task writes under a file size limit.

cat >"$work/bin/tessaly-convert" <<EOF
#!/bin/bash
# Task 2 of a job array, or with LIMIT_JOIN=1 the join, runs under a file
# size limit of 16 KiB.
if [[ \${SLURM_ARRAY_TASK_ID:-} == 2 && \${LIMIT_JOIN:-0} == 0 ]] ||
   [[ \${LIMIT_JOIN:-0} == 1 && " \$* " == *" --join "* ]]; then
    ulimit -f 16
fi
exec $(printf '%q' "$converter") "\$@"
EOF
chmod 755 "$work/bin/tessaly-convert"
rc=0
TESSALY_CONVERT=$work/bin/tessaly-convert timeout 300 "$slurm_cmd" --wait --parts 4 "$clip" "$work/out/failed.mp4" -- "${convert_opts[@]}" \
    >"$work/logs/run2.txt" 2>&1 || rc=$?
check
[[ $rc == 1 ]] || fail "a failed part: exit $rc, not 1"
grep -q "^tessaly-slurm: failed: $work/out/failed.mp4 (from $clip): part 2 of 4 failed: .*file too large.*; its log: .*; parts .*4 were cancelled" \
    "$work/logs/run2.txt" || { fail "a failed part: the report does not name part 2, its error, its log and the cancelled parts"; cat "$work/logs/run2.txt"; }
# The parts not yet run when part 2 failed were cancelled, not run; part 2's log is kept.
array2=$(sed -n 's/^Submitted parts: \([0-9]*\)_.*/\1/p' "$work/logs/run2.txt")
for task in 3 4; do
    check
    state=$(task_state "$array2" "$task")
    [[ $state == CANCELLED ]] || { fail "a failed part: part $task ended '$state', not CANCELLED";
        scontrol -o show job "$array2" | grep -o 'JobId=[^ ]* .*ArrayTaskId=[^ ]*\|JobState=[^ ]*'; }
done
kept_log=$(sed -n 's/.*; its log: \(.*task-2\.log\); .*/\1/p' "$work/logs/run2.txt")
check
if [[ -n $kept_log && -f $kept_log ]] && grep -q "file too large" "$kept_log"; then
    [[ $(ls -A "${kept_log%/*}") == task-2.log ]] || fail "a failed part: more than its log kept: $(ls -A "${kept_log%/*}")"
    rm -rf "${kept_log%/*}"
else
    fail "a failed part: its log '$kept_log' is not kept"
fi
only_left "$work/out" "a failed part" take.mp4
[[ -z $(ls -A "$work/temp") ]] || fail "a failed part left $(ls -A "$work/temp") in the temporary folder"

# The parts succeed and the join fails (a short movie, the join's writes
# limited; sbatch hands the submitting environment to the jobs).
"$source_dir/tools/make-fisheye-clip" "$work/in/short.mp4" --size 320x240 --fps 25 --duration 3 --audio ||
    { echo "FAIL: cannot make the short clip"; exit 1; }
rc=0
LIMIT_JOIN=1 TESSALY_CONVERT=$work/bin/tessaly-convert timeout 300 "$slurm_cmd" --wait --parts 2 "$work/in/short.mp4" \
    "$work/out/unjoined.mp4" -- "${convert_opts[@]}" >"$work/logs/run2b.txt" 2>&1 || rc=$?
check
[[ $rc == 1 ]] || fail "a failed join: exit $rc, not 1"
grep -q "^tessaly-slurm: failed: $work/out/unjoined.mp4 (from $work/in/short.mp4): the join failed: tessaly-convert: .*unjoined.mp4.*; its log: " \
    "$work/logs/run2b.txt" || { fail "a failed join: the report does not say the join failed and why"; cat "$work/logs/run2b.txt"; }
rm -rf "$work/out"/.unjoined.tessaly-slurm.*
only_left "$work/out" "a failed join" take.mp4
[[ -z $(ls -A "$work/temp") ]] || fail "a failed join left $(ls -A "$work/temp") in the temporary folder"

# Slurm refuses the jobs (a partition it does not have): exit 3 with
# sbatch's reason, and no work folder is left.
rc=0
timeout 60 "$slurm_cmd" --wait -p no-such-partition "$clip" "$work/out/refused.mp4" >"$work/logs/refused.txt" 2>&1 || rc=$?
check
[[ $rc == 3 ]] || fail "a refused submission: exit $rc, not 3"
grep -q "^tessaly-slurm: sbatch refused the job: .*[Pp]artition" "$work/logs/refused.txt" ||
    { fail "a refused submission: no clear message"; cat "$work/logs/refused.txt"; }
only_left "$work/out" "a refused submission" take.mp4

# ---------------------------------------------------------------------------
# 3. scancel while the parts run.

# wait_running ARRAY: until a task of the array runs and has begun its part.
wait_running() {
    for ((i = 0; i < 300; i++)); do
        squeue -h -j "$1" -t R -o %i 2>/dev/null | grep -q . && return 0
        sleep 0.1
    done
    return 1
}
cancel_run() {  # cancel_run NAME WHICH: WHICH = parts or all
    local name=$1 which=$2 log=$work/logs/$1.txt
    timeout 300 "$slurm_cmd" --wait --parts 4 "$clip" "$work/out/$name.mp4" -- "${convert_opts[@]}" >"$log" 2>&1 &
    waiter=$!
    local array=""
    for ((i = 0; i < 100; i++)); do
        array=$(sed -n 's/^Submitted parts: \([0-9]*\)_.*/\1/p' "$log" 2>/dev/null)
        [[ -z $array ]] || break
        sleep 0.1
    done
    check
    if [[ -z $array ]] || ! wait_running "$array"; then
        fail "$name: the parts did not start"
        cat "$log"
    fi
    sleep 1
    if [[ $which == all ]]; then
        # Every job the submission printed, the report included.
        # shellcheck disable=SC2046  # one id a word
        scancel $(sed -n 's/^Submitted [a-z]*: \([0-9]*\).*/\1/p' "$log")
    else
        # One running part: the others go with it.
        scancel "${array}_$(squeue -h -j "$array" -t R -o %K | head -n 1)"
    fi
    rc=0
    wait "$waiter" || rc=$?
    waiter=""
    [[ $rc == 1 ]] || fail "$name: exit $rc, not 1"
    if [[ $which == parts ]]; then
        grep -q "^tessaly-slurm: failed: $work/out/$name.mp4 (from $clip): part [1-4] of 4 failed: it was cancelled" "$log" ||
            { fail "$name: the report does not say a part was cancelled"; cat "$log"; }
        [[ $(task_state "$array" 4) == CANCELLED ]] ||
            fail "$name: part 4 ended '$(task_state "$array" 4)', not CANCELLED with the cancelled part"
    else
        grep -q "the report job ended CANCELLED: the conversion did not finish" "$log" ||
            { fail "$name: --wait does not say the jobs were cancelled"; cat "$log"; }
    fi
    only_left "$work/out" "$name" take.mp4
    [[ -z $(ls -A "$work/temp") ]] || fail "$name left $(ls -A "$work/temp") in the temporary folder"
}
cancel_run cancelled-parts parts
cancel_run cancelled-all all

# ---------------------------------------------------------------------------
# 4. A folder of three movies in one call, two parts each.

# An output folder whose name has a space and a per cent sign (which sbatch's
# file name patterns would read as theirs).
batch="batch 100%"
mkdir -p "$work/shoot" "$work/$batch"
"$source_dir/tools/make-fisheye-clip" "$work/shoot/one.mp4" --size 320x240 --fps 25 --duration 3 --audio &&
    "$source_dir/tools/make-fisheye-clip" "$work/shoot/two.mov" --size 480x270 --fps 30 --duration 3 --audio &&
    "$source_dir/tools/make-fisheye-clip" "$work/shoot/three.mkv" --size 640x360 --fps 24 --duration 2 --audio ||
    { echo "FAIL: cannot make the batch clips"; exit 1; }
rc=0
timeout 300 "$slurm_cmd" --wait --keep-parts --parts 2 "$work/shoot" "$work/$batch" -- "${convert_opts[@]}" >"$work/logs/batch.txt" 2>&1 || rc=$?
check
[[ $rc == 0 ]] || { fail "a batch of three: exit $rc"; cat "$work/logs/batch.txt"; }
[[ $(grep -c '^Submitted join: ' "$work/logs/batch.txt") == 3 ]] || fail "a batch of three: not three joins"
grep -q '^Submitted parts: [0-9]*_\[1-6\]$' "$work/logs/batch.txt" || fail "a batch of three: not one array of six parts"
for name in one two three; do
    src=$(ls "$work/shoot/$name".*)
    check_movie "$work/$batch/$name.mp4" "$src"
done
# --keep-parts: the six parts, every job's log and the three job files stay
# in the work folder the report names.
kept=$(sed -n 's/^tessaly-slurm: parts and logs kept in \(.*\)$/\1/p' "$work/logs/batch.txt")
check
if [[ -z $kept || ! -d $kept ]]; then
    fail "--keep-parts: no work folder named or kept"
else
    [[ $(ls "$kept"/movie*-part*.mkv | wc -l) == 6 ]] || fail "--keep-parts: not six parts kept: $(ls "$kept")"
    [[ $(ls "$kept"/*.log | wc -l) == 9 ]] || fail "--keep-parts: not nine job logs kept: $(ls "$kept")"
    for m in 0 1 2; do
        [[ $(head -n 1 "$kept/movie-$m.job" 2>/dev/null) == "TESSALY-JOB 1" ]] ||
            fail "--keep-parts: no job file movie-$m.job kept: $(ls "$kept")"
    done
    [[ ${kept%/*} == "$work/$batch" ]] || fail "--keep-parts: the work folder $kept is not in the output folder"
    rm -rf "$kept"
fi
only_left "$work/$batch" "a batch of three" one.mp4 three.mp4 two.mp4

# ---------------------------------------------------------------------------
# 5. The settings are those of submission: the parameter file of the
#    converter (a portable copy, whose file is beside it) changes while the
#    jobs are held.

mkdir -p "$work/prog" "$work/ref/parts"
cp -a "$converter" "$(dirname "$converter")/PLUG-IN" "$work/prog/"
write_params() {  # write_params BRIGHTNESS: the start values, brightness on
    local name value
    {
        echo "Generated by Tessaly fisheye publisher, d'not edit!"
        for name in XL1=-8 YL1=-8 XL2=616 YL2=606 FPS=1 M_X=0 M_Y=0 V_X=0 V_Y=0 SHARPEN_CH=1 BRIGHTNESS_CH=1 \
            CONTRAST_CH=0 CPU_CH=0 NOISE_CH=0 ASPECT=0 SHARPEN=1 RADIUS=0 BRIGHTNESS="$1" CONTRAST=127 CPU=100 \
            NOISE=1 APATH="$work/temp" OPATH="$work" DSSETUP=0 BITRATE=0 CODECMODE=0 AUTOSAVE=1; do
            value=${name#*=} name=${name%%=*}
            echo "<$name>$value</$name>"
        done
    } >"$work/prog/Tessaly.ini"
}
# The references: with the node's later file a whole run; with the
# submitting file the same two parts and join as the jobs, run here.
write_params 60
"$work/prog/tessaly-convert" --quality 8 "$work/in/short.mp4" "$work/ref/bright60.mp4" >"$work/logs/ref60.txt" 2>&1 ||
    { echo "FAIL: the single run with brightness 60 failed"; cat "$work/logs/ref60.txt"; exit 1; }
write_params 200
for i in 1 2; do
    "$work/prog/tessaly-convert" --quality 8 --part "$i/2" "$work/in/short.mp4" "$work/ref/parts/$i.mkv" ||
        { echo "FAIL: part $i with brightness 200 failed"; exit 1; }
done >"$work/logs/ref200.txt" 2>&1
"$work/prog/tessaly-convert" --quality 8 --join "$work/in/short.mp4" "$work/ref/bright200.mp4" "$work/ref/parts/"{1,2}.mkv \
    >>"$work/logs/ref200.txt" 2>&1 || { echo "FAIL: the join with brightness 200 failed"; cat "$work/logs/ref200.txt"; exit 1; }
log=$work/logs/frozen.txt
TESSALY_CONVERT=$work/prog/tessaly-convert timeout 300 "$slurm_cmd" --wait --hold --parts 2 "$work/in/short.mp4" \
    "$work/out/frozen.mp4" -- --quality 8 >"$log" 2>&1 &
waiter=$!
for ((i = 0; i < 100; i++)); do grep -q '^Submitted report' "$log" 2>/dev/null && break; sleep 0.1; done
write_params 60
# While the jobs wait, the work folder holds the movie's job with the
# submitting brightness, and no parameter file.
held=$(ls -d "$work/out"/.frozen.tessaly-slurm.*)
check
[[ $(head -n 1 "$held/movie-0.job" 2>/dev/null) == "TESSALY-JOB 1" ]] && grep -qx 'BRIGHTNESS 200' "$held/movie-0.job" ||
    fail "frozen settings: no job file with the submitting brightness in the work folder: $(ls -A "$held")"
[[ -z $(ls "$held"/*.ini 2>/dev/null) ]] || fail "frozen settings: a parameter file in the work folder: $(ls -A "$held")"
# shellcheck disable=SC2046  # one id a word
scontrol release $(sed -n 's/^Submitted [a-z]*: \([0-9]*\).*/\1/p' "$log")
rc=0
wait "$waiter" || rc=$?
waiter=""
check
[[ $rc == 0 ]] || { fail "frozen settings: exit $rc"; cat "$log"; }
# Every decoded picture and sound frame, by ffmpeg's digests.
frame_digests() { ffmpeg -v error -i "$1" -f framemd5 - | grep -v '^#'; }
check
if cmp -s <(frame_digests "$work/ref/bright200.mp4") <(frame_digests "$work/out/frozen.mp4"); then
    same="identical"
else
    same="different"
    fail "frozen settings: the output's frames differ from those of the parts run with the submitting file"
fi
psnr_node=$(psnr_min "$work/ref/bright60.mp4" "$work/out/frozen.mp4")
# The node's changed file would have made another picture (PSNR below 25 dB).
awk -v q="$psnr_node" 'BEGIN { exit !(q != "inf" && q < 25) }' ||
    fail "frozen settings: the node's changed file makes the same picture (lowest PSNR $psnr_node dB)"
echo "frozen settings: picture and sound $same to the parts run with the submitting file;" \
    "lowest PSNR against a run with the node's changed file $psnr_node dB"
rm -f "$work/out/frozen.mp4"

# ---------------------------------------------------------------------------
# 6. A stereo movie: one eye's clip beside itself, each eye's circle found
#    once at submission (at this size its centre lies 0.4 pixels off whole
#    ones: the parts convert with the job file's centre shifts).

t0=$(date +%s%N)
"$source_dir/tools/make-fisheye-clip" "$work/in/eye.mp4" --size 230x176 --fps 25 --duration 2 --audio &&
    ffmpeg -v error -nostdin -i "$work/in/eye.mp4" -filter_complex "[0:v]split[l][r];[l][r]hstack" -c:a copy \
        "$work/in/dual.mp4" || { echo "FAIL: cannot make the stereo clip"; exit 1; }
"$converter" "${convert_opts[@]}" --stereo sbs "$work/in/dual.mp4" "$work/ref/dual.mp4" >"$work/logs/refdual.txt" 2>&1 ||
    { echo "FAIL: the single stereo run failed"; cat "$work/logs/refdual.txt"; exit 1; }
rc=0
timeout 300 "$slurm_cmd" --wait --parts 2 "$work/in/dual.mp4" "$work/out/dual.mp4" -- "${convert_opts[@]}" --stereo sbs \
    >"$work/logs/dual.txt" 2>&1 || rc=$?
check
[[ $rc == 0 ]] || { fail "stereo in 2 parts: exit $rc"; cat "$work/logs/dual.txt"; }
psnr=$(psnr_min "$work/ref/dual.mp4" "$work/out/dual.mp4")
check
[[ $psnr == inf ]] || awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' ||
    fail "stereo in 2 parts: a frame differs from the single run's (lowest PSNR $psnr dB)"
marking=$(ffprobe -v error -select_streams v:0 -show_streams "$work/out/dual.mp4" | grep -E '^(width|height|type|projection)=' | tr '\n' ' ')
check
[[ $marking == "width=388 height=194 type=side by side projection=tiled equirectangular " ]] ||
    fail "stereo in 2 parts: not marked as side-by-side 180-degree video: $marking"
echo "stereo in 2 parts: $(frames_of "$work/out/dual.mp4") frames; lowest PSNR against the single run $psnr dB; $marking;" \
    "$(seconds_since "$t0") s with the clip and the single run"

# The pair: the left movie starts 3 frames into the right one (the clip's
# steady tone cannot place them, so the offset is given).
t0=$(date +%s%N)
ffmpeg -v error -nostdin -i "$work/in/eye.mp4" -vf trim=start_frame=3,setpts=PTS-STARTPTS -af atrim=start=0.12 \
    "$work/in/left.mp4" || { echo "FAIL: cannot make the left movie"; exit 1; }
pair=(--stereo pair "$work/in/left.mp4" "$work/in/eye.mp4")
"$converter" "${convert_opts[@]}" --right-offset 3 "${pair[@]}" "$work/ref/pair.mp4" >"$work/logs/refpair.txt" 2>&1 ||
    { echo "FAIL: the single pair run failed"; cat "$work/logs/refpair.txt"; exit 1; }
rc=0
timeout 300 "$slurm_cmd" --wait --parts 2 "${pair[@]}" "$work/out/pair.mp4" -- "${convert_opts[@]}" --right-offset 3 \
    >"$work/logs/pair.txt" 2>&1 || rc=$?
check
[[ $rc == 0 ]] || { fail "pair in 2 parts: exit $rc"; cat "$work/logs/pair.txt"; }
psnr=$(psnr_min "$work/ref/pair.mp4" "$work/out/pair.mp4")
check
[[ $psnr == inf ]] || awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' ||
    fail "pair in 2 parts: a frame differs from the single run's (lowest PSNR $psnr dB)"
check
[[ $(frames_of "$work/out/pair.mp4") == "$(frames_of "$work/ref/pair.mp4")" ]] ||
    fail "pair in 2 parts: $(frames_of "$work/out/pair.mp4") frames, the single run $(frames_of "$work/ref/pair.mp4")"
echo "pair in 2 parts: $(frames_of "$work/out/pair.mp4") frames; lowest PSNR against the single run $psnr dB;" \
    "$(seconds_since "$t0") s with the clip and the single run"

# The reports, one per submission, in the folder tessaly-slurm was run from.
check
[[ $(ls "$work/logs"/tessaly-slurm-*.out 2>/dev/null | wc -l) == 8 ]] ||
    fail "not one report per finished submission: $(ls "$work/logs")"

echo "$((checks - failures)) passed, $failures failed; the cluster test took $(seconds_since "$test_start") s"
((failures == 0))
