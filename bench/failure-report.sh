# Sourced by every bench/compare-*.sh after `set -euo pipefail`: a step that
# fails ends the script with a line that names it (script, line, command,
# status) instead of a silent exit, so a run always ends with its figures or
# says why there are none. Steps that fail inside functions and command
# substitutions are named too (errtrace): the innermost step once, then the
# script's own step that ran it. Command substitutions stop at a failing
# step as the script does (inherit_errexit), so a named step never goes on.
set -E
shopt -s inherit_errexit
bench_failed() {
  local status=$1 line=$2 command=$3 where=""
  [[ -z ${bench_failure_named:-} ]] || return 0
  bench_failure_named=1
  [[ ${#FUNCNAME[@]} -gt 2 ]] && where=" in ${FUNCNAME[1]}()"
  printf '%s: no figures: line %s%s: "%s" failed with status %s\n' \
    "$(basename "$0" .sh)" "$line" "$where" "$command" "$status" >&2
}
trap 'bench_failed "$?" "$LINENO" "$BASH_COMMAND"' ERR
