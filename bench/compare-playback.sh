#!/usr/bin/env bash
# Playback of a 1920 x 1080, 25 fps fisheye clip in the desktop program with
# both previews shown: preview passes per second (target: the file's 25),
# CPU used, and the main thread's longest stall while playing and while a
# slider is dragged (target: under 50 ms).
#   bench/compare-playback.sh BUILD_DIR
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/failure-report.sh"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$ROOT/build}"
clip="$build/bench-clips/fisheye-1080p25.mp4"
mkdir -p "$(dirname "$clip")"
[[ -f "$clip" ]] || "$ROOT/tools/make-fisheye-clip" "$clip" --size 1920x1080 --fps 25 --duration 20 --audio >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bench/ui/tessaly-playback-bench" "$clip" "${PLAYBACK_SECONDS:-6}" 2>/dev/null
