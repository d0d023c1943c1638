#!/usr/bin/env bash
# The layer check passes a tree whose includes point down, and names every
# include that points up or sideways.
set -euo pipefail
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

put() { mkdir -p "$dir/$(dirname "$1")"; printf '%s\n' "${@:2}" >"$dir/$1"; }
put transform/cut.h '#pragma once' '#include <vector>'
put app/state.h '#include "transform/cut.h"' '#include "app/other.h"'
put output/file.cpp '#include "app/state.h"' '#include "file.h"'
put video/stream.cpp '#include "output/file.h"' '#include "transform/cut.h"'
put convert/run.cpp '#include "video/stream.h"' '  #  include "app/state.h"'
put playback/source.cpp '#include "video/stream.h"'
put cli/main.cpp '#include "convert/run.h"'
put ui/window.cpp '#include "playback/source.h"' '#include "convert/run.h"'
put output/near.cpp '#include "../app/state.h"' '#include <QtCore/QString>' '#include <sys/uio.h>'

out=$("$tool" "$dir") || fail "a tree that keeps the order was refused: $out"

# Up, sideways and into the test tree, also in angle brackets or through
# "../"; a comment or a system header is no include.
put video/mark.cpp '#include "convert/encoder_command.h"' '// #include "ui/window.h"'
put convert/run2.cpp '#include "playback/source.h"'
put transform/lens.h '# include "app/state.h"' '#include <app/state.h>'
put ui/dialog.cpp '#include "cli/options.h"'
put output/fixture.cpp '#include "tests/clips.h"'
put playback/up.cpp '#include "../ui/window.h"' '#include "./source.h"'
status=0
out=$("$tool" "$dir" 2>&1) || status=$?
[[ $status -eq 1 ]] || fail "exit status $status for a tree against the order: $out"
for want in "video/mark.cpp:1: video/ includes convert/encoder_command.h" \
            "convert/run2.cpp:1: convert/ includes playback/source.h" \
            "transform/lens.h:1: transform/ includes app/state.h" \
            "ui/dialog.cpp:1: ui/ includes cli/options.h" \
            "output/fixture.cpp:1: output/ includes tests/clips.h" \
            "transform/lens.h:2: transform/ includes app/state.h" \
            "playback/up.cpp:1: playback/ includes ui/window.h" \
            "7 include(s) against the layer order"; do
  grep -qF "$want" <<<"$out" || fail "not reported: $want in: $out"
done
[[ $(grep -c "includes" <<<"$out") -eq 7 ]] || fail "more than the seven reported: $out"

# An empty tree is not a pass.
status=0
"$tool" "$dir/none" >/dev/null 2>&1 || status=$?
[[ $status -eq 2 ]] || fail "exit status $status for a missing tree"
echo "ok"
