#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what a user gets:
# the desktop entry, the AppStream metainfo and the man pages pass their
# validators, the completion script parses, and the installed tessaly-convert
# converts a clip with its program folder read-only, keeping its files in the
# XDG folders of a temporary HOME; so does a portable copy in a folder its
# user cannot write.
#   install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=${1:?source dir} build=${2:?build dir}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-install.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

dest="$work/dest"
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
bin="$dest/usr/bin"
share="$dest/usr/share"
[[ -x $bin/tessaly-convert ]] || fail "no bin/tessaly-convert"
[[ -L $dest/usr/lib/tessaly/PLUG-IN/ffmpeg_III ]] || fail "no encoder link"
[[ -f $share/bash-completion/completions/tessaly-convert ]] || fail "no bash completion"
bash -n "$share/bash-completion/completions/tessaly-convert" || fail "completion does not parse"
bash -n "$share/bash-completion/completions/tessaly-slurm" || fail "tessaly-slurm's completion is missing or does not parse"

# The desktop program's files are installed with it; without it, check the
# sources that would be installed.
if [[ -x $bin/tessaly ]]; then
  for f in icons/hicolor/48x48/apps/tessaly.png icons/hicolor/256x256/apps/tessaly.png \
           icons/hicolor/scalable/apps/tessaly.svg doc/tessaly/Tessaly.pdf doc/tessaly/Tessaly.html; do
    [[ -s $share/$f ]] || fail "the desktop program is installed without $f"
  done
  head -c 5 "$share/doc/tessaly/Tessaly.pdf" | grep -q '%PDF-' || fail "the installed guide is no PDF"
fi
desktop=$(ls "$share"/applications/*.desktop 2>/dev/null || echo "$src/packaging/org.tessaly.Tessaly.desktop")
desktop-file-validate $desktop || fail "desktop-file-validate"
metainfo=$(ls "$share"/metainfo/*.metainfo.xml 2>/dev/null || true)
if [[ -z $metainfo ]]; then
  metainfo="$work/org.tessaly.Tessaly.metainfo.xml"
  sed -e 's|@TESSALY_HOMEPAGE@|https://tessaly.org|' \
      -e 's|@TESSALY_SCREENSHOT_URL@|https://tessaly.org/screenshots/main-window.png|' \
      -e 's|@PROJECT_VERSION@|0.1.0|' "$src/packaging/org.tessaly.Tessaly.metainfo.xml.in" > "$metainfo"
fi
appstreamcli validate --no-net $metainfo >/dev/null || fail "appstreamcli validate"
grep -q "<screenshot" $metainfo || fail "no screenshot in the metainfo"
grep -q "^Exec=tessaly %f$" $desktop || fail "Exec"
grep -q "^Categories=AudioVideo;Video;$" $desktop || fail "Categories"

[[ -x $bin/tessaly-slurm && -f $share/man/man1/tessaly-slurm.1 ]] || fail "tessaly-slurm or its man page not installed"
for page in "$share"/man/man1/tessaly-convert.1 "$share"/man/man1/tessaly-slurm.1 "$src"/packaging/tessaly.1; do
  warnings=$( { LC_ALL=C.UTF-8 man --warnings -l "$page" >/dev/null; } 2>&1; groff -ww -z -man "$page" 2>&1)
  [[ -z $warnings ]] || fail "man page $page: $warnings"
done

# The installed converter, its folder read-only, a fresh HOME.
chmod -R a-w "$dest"
home="$work/home"
mkdir -p "$home" "$work/out"
"$src/tools/make-fisheye-clip" "$work/clip.mp4" --size 160x120 --fps 10 --duration 1 --audio
run() { env -u XDG_CONFIG_HOME -u XDG_STATE_HOME -u XDG_CACHE_HOME HOME="$home" "$bin/tessaly-convert" "$@"; }
version=$(run --version)
grep -q "^tessaly-convert " <<<"$version" || fail "--version: $version"
grep -q "^FFmpeg libraries: libavformat " <<<"$version" || fail "--version libraries: $version"
grep -q "^Encoder program: $dest/usr/lib/tessaly/PLUG-IN/ffmpeg_III (ffmpeg version" <<<"$version" \
  || fail "--version encoder: $version"
run --help | grep -q "This program uses: $home/.config/tessaly/Tessaly.ini, $home/.local/state/tessaly/Tessaly_mono.log, $home/.cache/tessaly/TEMP" \
  || fail "--help does not name the folders in use"

run "$work/clip.mp4" "$work/out/pano.mp4" || fail "the installed tessaly-convert failed"
[[ -s $work/out/pano.mp4 ]] || fail "no output"
ffprobe -v error -select_streams v:0 -show_streams "$work/out/pano.mp4" | grep -q "projection=tiled equirectangular" \
  || fail "output not marked as 180-degree video"
log="$home/.local/state/tessaly/Tessaly_mono.log"
[[ -f $log ]] || fail "no log in the XDG state folder"
grep -q "^Parameter file: $home/.config/tessaly/Tessaly.ini"$'\r'"$" "$log" || fail "log header lacks the folders"
grep -qE "^$home/.cache/tessaly/TEMP(/tessaly-convert-[^/]+)?"$'\r'"$" "$log" || fail "temporary folder not in the XDG cache folder"
[[ -d $home/.cache/tessaly/TEMP ]] || fail "no XDG temporary folder"
[[ $(ls -A "$bin" | sort | tr '\n' ' ') == "tessaly-convert tessaly-slurm " ||
   $(ls -A "$bin" | sort | tr '\n' ' ') == "tessaly tessaly-convert tessaly-slurm " ]] \
  || fail "files written beside the installed program: $(ls -A "$bin")"
# The installed tessaly-slurm finds the installed converter beside it: with
# bash and the core tools but no Slurm on the PATH it writes the movie's job
# with that converter and gets as far as looking for sbatch.
nopath="$work/no-slurm-path"
mkdir -p "$nopath"
for tool in bash dirname mktemp chmod rm; do ln -s "$(command -v "$tool")" "$nopath/$tool"; done
slurm_rc=0
slurm_out=$(cd "$work" && env -u TESSALY_CONVERT PATH="$nopath" "$bin/tessaly-slurm" "$work/clip.mp4" "$work/out/parts.mp4" 2>&1) \
  || slurm_rc=$?
[[ $slurm_rc == 3 && $slurm_out == *"sbatch not found"* ]] \
  || fail "installed tessaly-slurm without Slurm: exit $slurm_rc: $slurm_out"

# Settings are read from the XDG config folder: a temporary folder chosen there is used.
cat > "$home/.config/tessaly/Tessaly.ini" <<INI
Generated by Tessaly fisheye publisher, d'not edit!
<XL1>-8</XL1>
<YL1>-8</YL1>
<XL2>616</XL2>
<YL2>606</YL2>
<FPS>1</FPS>
<M_X>0</M_X>
<M_Y>0</M_Y>
<V_X>0</V_X>
<V_Y>0</V_Y>
<SHARPEN_CH>1</SHARPEN_CH>
<BRIGHTNESS_CH>0</BRIGHTNESS_CH>
<CONTRAST_CH>0</CONTRAST_CH>
<CPU_CH>0</CPU_CH>
<NOISE_CH>0</NOISE_CH>
<ASPECT>0</ASPECT>
<SHARPEN>1</SHARPEN>
<RADIUS>0</RADIUS>
<BRIGHTNESS>127</BRIGHTNESS>
<CONTRAST>127</CONTRAST>
<CPU>100</CPU>
<NOISE>1</NOISE>
<APATH>$work/mytemp</APATH>
<OPATH>$work</OPATH>
<DSSETUP>0</DSSETUP>
<BITRATE>0</BITRATE>
<CODECMODE>0</CODECMODE>
<AUTOSAVE>1</AUTOSAVE>
INI
mkdir -p "$work/mytemp"
run --no-vr-metadata "$work/clip.mp4" "$work/out/flat.avi" || fail "second run failed"
grep -qE "^$work/mytemp(/tessaly-convert-[^/]+)?"$'\r'"$" "$log" || fail "the XDG parameter file was not read"
[[ -s $work/out/flat.avi ]] || fail "no second output"
# A portable folder the user cannot write (a real restriction: root runs it
# as the user nobody) moves the files to the same XDG folders.
portable="$work/portable"
mkdir -p "$portable" "$work/home2" "$work/out2"
cp "$build/cli/tessaly-convert" "$portable/"
chmod 555 "$portable"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown 65534:65534 "$work/home2" "$work/out2"
  chmod 755 "$work"
fi
env -u XDG_CONFIG_HOME -u XDG_STATE_HOME -u XDG_CACHE_HOME HOME="$work/home2" "${as_user[@]}" \
  "$portable/tessaly-convert" "$work/clip.mp4" "$work/out2/pano.webm" || fail "read-only portable run failed"
[[ -s $work/out2/pano.webm ]] || fail "no output from the read-only portable folder"
[[ -f $work/home2/.local/state/tessaly/Tessaly_mono.log ]] || fail "read-only portable folder: no XDG log"
[[ $(ls -A "$portable") == tessaly-convert ]] || fail "files written into the read-only folder: $(ls -A "$portable")"
echo "install test passed"
