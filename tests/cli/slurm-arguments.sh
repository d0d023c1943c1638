#!/usr/bin/env bash
# tessaly-slurm's checks before anything is submitted, without a cluster:
# the commands run with bash, ffprobe and a few core tools but no Slurm on
# the PATH, so a command line that passes every check (each movie's job
# written by the converter and a part's command line checked on it) ends at
# "sbatch not found" (exit 3), leaving nothing behind, and one that fails a
# check ends before it (exit 2) with its own message.
#
#   slurm-arguments.sh TESSALY_SLURM TESSALY_CONVERT SOURCE_DIR
set -u
slurm=$1 converter=$2 source_dir=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-slurm-args.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"

nopath="$work/bin"
mkdir -p "$nopath"
for tool in bash dirname cat ffprobe mktemp chmod rm; do ln -s "$(command -v "$tool")" "$nopath/$tool"; done

failures=0 count=0
out="" rc=0 use_converter=$converter as_user=()
run() {
    rc=0
    out=$(cd "$work" && PATH="$nopath" TESSALY_CONVERT="$use_converter" "${as_user[@]}" "$slurm" "$@" 2>&1) || rc=$?
}
# expect STATUS TEXT ARGS...: the run ends with STATUS and says TEXT
expect() {
    local want=$1 text=$2
    shift 2
    count=$((count + 1))
    run "$@"
    if [[ $rc != "$want" || $out != *"$text"* ]]; then
        failures=$((failures + 1))
        echo "FAIL: tessaly-slurm $*"
        echo "  wanted exit $want and \"$text\", got exit $rc:"
        sed 's/^/    /' <<<"$out"
    fi
}

mkdir -p "$work/in" "$work/out" "$work/shoot" "$work/empty" "$work/other"
for f in shoot/notes.txt other/a.mkv; do : >"$work/$f"; done
# Real movies, since the converter checks them: 60 frames each.
for f in in/clip.mp4 shoot/a.mp4 shoot/b.MOV; do
    "$source_dir/tools/make-fisheye-clip" "$work/$f" --size 160x120 --fps 25 --duration 2.4 >/dev/null 2>&1 ||
        { echo "FAIL: cannot make $f"; exit 1; }
done

# Two eyes side by side, for a stereo job.
ffmpeg -v error -nostdin -i "$work/in/clip.mp4" -filter_complex "[0:v]split[l][r];[l][r]hstack" "$work/in/dual.mp4" ||
    { echo "FAIL: cannot make in/dual.mp4"; exit 1; }

# Complete command lines reach the search for sbatch.
expect 3 "sbatch not found" "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 3 "slurm-client" --parts 8 --wait --keep-parts "$work/in/clip.mp4" "$work/out/pano.webm" -- --quality 5 --cut 1,2,3,4
# sbatch options with a value as the next argument are not taken for paths
# (three paths would be the folder form, whose last one is no folder here).
expect 3 "sbatch not found" -p video -t 10:00 -c 2 --mem 2G -A lab --qos=high --mail-type END \
    "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 3 "sbatch not found" -pvideo -t10 --partition=video --account lab --cpus-per-task 4 --time 1:00:00 \
    "$work/in/clip.mp4" "$work/out/pano.mp4"
# Relative paths are made absolute and said.
expect 3 "in/clip.mp4 taken as $work/in/clip.mp4" in/clip.mp4 "$work/out/pano.mp4"
expect 3 "out/pano.mp4 taken as $work/out/pano.mp4" "$work/in/clip.mp4" out/pano.mp4
expect 3 "./in/clip.mp4 taken as $work/in/clip.mp4" ./in/clip.mp4 "$work/out/pano.mp4"
# The folder forms: several movies, a folder of them, an existing folder as the output.
expect 3 "sbatch not found" "$work/in/clip.mp4" "$work/shoot/a.mp4" "$work/out"
expect 3 "sbatch not found" "$work/shoot" "$work/out/"
expect 3 "sbatch not found" --format webm "$work/in/clip.mp4" "$work/out"
# The work folder with the job files went with the refused submission.
count=$((count + 1))
[[ -z $(ls -A "$work/out") ]] || { failures=$((failures + 1)); echo "FAIL: left in out: $(ls -A "$work/out")"; }

# Refused before anything is submitted.
expect 2 "no such input movie: $work/in/gone.mp4" "$work/in/gone.mp4" "$work/out/pano.mp4"
mkfifo "$work/in/pipe.mp4"
expect 2 "not a file: $work/in/pipe.mp4" "$work/in/pipe.mp4" "$work/out/pano.mp4"
expect 2 "no such output folder: $work/nowhere" "$work/in/clip.mp4" "$work/nowhere/pano.mp4"
expect 2 "the converter cannot write 'pano.mkv'" "$work/in/clip.mp4" "$work/out/pano.mkv"
expect 2 "the converter cannot write 'pano'" "$work/in/clip.mp4" "$work/out/pano"
expect 2 "the output is the input movie" "$work/in/clip.mp4" "$work/in/../in/clip.mp4"
expect 2 "--parts must be a whole number from 1 to 999, not '0'" --parts 0 "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "not 'many'" --parts many "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "not '1000'" --parts=1000 "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "--parts needs a number" "$work/in/clip.mp4" "$work/out/pano.mp4" --parts
for own in --array=1-4 "--dependency afterok:1" --wrap=true -W --parsable --test-only \
    --kill-on-invalid-dep=no "-e err.txt" --error=err.txt; do
    # shellcheck disable=SC2086
    expect 2 "is set by tessaly-slurm itself" $own "$work/in/clip.mp4" "$work/out/pano.mp4"
done
expect 2 "an MPEG-2 program stream cannot be joined from parts: $work/out/pano.mpg" "$work/in/clip.mp4" "$work/out/pano.mpg"
expect 2 "an MPEG-2 program stream cannot be joined from parts: $work/out/a.mpeg" --parts 3 --format mpeg "$work/shoot" "$work/out"
expect 3 "sbatch not found" --parts 1 "$work/in/clip.mp4" "$work/out/pano.mpg"
expect 3 "sbatch not found" --format MPG "$work/shoot" "$work/out"
expect 2 "--format: the converter writes none of 'mkv'" --format mkv "$work/shoot" "$work/out"
expect 2 "no movies in the folder $work/empty" "$work/empty" "$work/out"
expect 2 "two inputs would both be written to $work/out/a.mp4" "$work/shoot/a.mp4" "$work/other/a.mkv" "$work/out"
expect 2 "no such output folder: $work/nowhere" "$work/shoot/a.mp4" "$work/other/a.mkv" "$work/nowhere"
# The converter writes each movie's job and checks a part's command line on
# it, with its own error line; a movie with fewer frames than parts is
# refused.
expect 2 "refuses the conversion of $work/in/clip.mp4: unknown option --bogus" "$work/in/clip.mp4" "$work/out/pano.mp4" -- --bogus
expect 2 "refuses the conversion of $work/shoot/a.mp4: unknown option --bogus" "$work/shoot" "$work/out" -- --bogus
expect 2 "--stills and --keep-stills cannot be used with it" "$work/in/clip.mp4" "$work/out/pano.mp4" -- --stills jpg
expect 3 "sbatch not found" --parts 1 "$work/in/clip.mp4" "$work/out/pano.mp4" -- --stills jpg
expect 2 "cannot read the parameter file $work/none.ini" "$work/in/clip.mp4" "$work/out/pano.mp4" -- --params "$work/none.ini"
expect 2 "refuses the conversion of $work/in/clip.mp4: --cut needs four whole numbers" "$work/in/clip.mp4" "$work/out/pano.mp4" -- --cut 1,2
for own in --part=1/2 --join --job=a.job --save-job; do
    expect 2 "the converter option $own is set by tessaly-slurm itself" "$work/in/clip.mp4" "$work/out/pano.mp4" -- $own
done
expect 2 "$work/in/clip.mp4 has 60 frames: it cannot be split into 100 parts" --parts 100 "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "$work/shoot/a.mp4 has 60 frames: it cannot be split into 61 parts (give --parts 60 or fewer)" --parts 61 "$work/shoot" "$work/out"
expect 3 "sbatch not found" --parts 60 "$work/in/clip.mp4" "$work/out/pano.mp4"
# A stereo job: each eye's circle found and the eyes aligned once, at submission.
expect 3 "sbatch not found" --parts 3 "$work/in/dual.mp4" "$work/out/dual.mp4" -- --stereo sbs --stereo-out tb
expect 2 "--flip would swap the eyes' sides" "$work/in/dual.mp4" "$work/out/dual.mp4" -- --stereo sbs --flip
# A pair of movies: its job resolved once like one movie's (these have no sound to sync by).
pair=("$work/in/clip.mp4" "$work/shoot/a.mp4")
expect 3 "sbatch not found" --parts 3 --stereo pair "${pair[@]}" "$work/out/pair.mp4" -- --right-offset 2
expect 2 "refuses the conversion of ${pair[0]} and ${pair[1]}: the left movie ${pair[0]} has no sound: give --right-offset" --stereo=pair "${pair[@]}" "$work/out/pair.mp4"
expect 2 "--stereo pair needs LEFT RIGHT OUT" --stereo pair "$work/in/clip.mp4" "$work/out/pair.mp4"
expect 2 "the right movie is the left movie" --stereo pair "$work/in/clip.mp4" "$work/in/../in/clip.mp4" "$work/out/pair.mp4"
expect 2 "give it before the movies, as tessaly-slurm --stereo pair LEFT RIGHT OUT" "${pair[@]}" "$work/out" -- --stereo pair
expect 2 "a movie with both eyes takes the converter's --stereo sbs after --" --stereo sbs "$work/in/dual.mp4" "$work/out/dual.mp4"
# The join's resources are its own, and checked.
expect 3 "sbatch not found" --join-cpus 2 --join-mem=3G --join-time 1:00:00 -c 4 --mem 8G "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "--join-cpus must be a whole number of CPUs, not '0'" --join-cpus 0 "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "--join-mem must be a size such as 800M or 2G, not 'lots'" --join-mem lots "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "--join-time must be a time such as 30, 1:30:00 or 1-12, not 'soon'" --join-time=soon "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "--join-time needs a value" "$work/in/clip.mp4" "$work/out/pano.mp4" --join-time
# sbatch options whose value is optional take it only after "=".
expect 2 "--nice 10: the value of --nice is optional in sbatch, so it is taken only in the = form: --nice=10" \
    --nice 10 "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 2 "taken only in the = form: --exclusive=user" --exclusive user "$work/in/clip.mp4" "$work/out/pano.mp4"
expect 3 "sbatch not found" --nice=10 --exclusive "$work/in/clip.mp4" "$work/out/pano.mp4"

use_converter="$work/none"
expect 2 "cannot run the converter $work/none" "$work/in/clip.mp4" "$work/out/pano.mp4"
use_converter=$converter
expect 2 "Usage: tessaly-slurm" "$work/in/clip.mp4"
expect 0 "Usage: tessaly-slurm" --help

# A file its user cannot read, a folder its user cannot write (root is
# checked as the user nobody, for whom the permissions hold).
chmod 555 "$work/out"
if [[ $(id -u) == 0 ]]; then
    as_user=("$(command -v setpriv)" --reuid=65534 --regid=65534 --clear-groups)
    chmod 600 "$work/in/clip.mp4"
else
    chmod 000 "$work/in/clip.mp4"
fi
expect 2 "cannot read the input movie: $work/in/clip.mp4" "$work/in/clip.mp4" "$work/other/pano.mp4"
expect 2 "cannot write into the output folder: $work/out" "$work/other/a.mkv" "$work/out/pano.mp4"
as_user=()

echo "$((count - failures)) passed, $failures failed"
((failures == 0))
