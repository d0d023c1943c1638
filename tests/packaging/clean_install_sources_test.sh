#!/usr/bin/env bash
# The clean-system check builds its Debian 12 root from the machine's own apt
# sources: the release, its updates and its security suite, from one-line
# and deb822 files alike; disabled entries, source-only entries, comments and
# other suites are left out, and a machine without a Debian 12 source gets
# Debian's own mirror.
#   clean_install_sources_test.sh SOURCE_DIR
set -euo pipefail
src=${1:?source dir}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-sources.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
check() {  # check NAME APT_DIR EXPECTED
  local got
  got=$("$src/tools/clean-install" --sources "$2") || fail "$1: --sources failed"
  [[ $got == "$3" ]] || fail "$1: got"$'\n'"$got"$'\n'"expected"$'\n'"$3"
}

apt="$work/mixed"
mkdir -p "$apt/sources.list.d"
cat >"$apt/sources.list" <<'LIST'
# deb http://commented.example/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://one.example/debian bookworm main contrib
deb-src http://one.example/debian bookworm main
deb http://one.example/debian bookworm-backports main
LIST
cat >"$apt/sources.list.d/debian.sources" <<'DEB822'
Types: deb deb-src
# a comment inside the stanza
URIs: http://two.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://off.example/debian
Suites: bookworm
Components: main
Enabled: no

types: deb
uris: http://two.example/debian-security
suites: bookworm-security
components: main
DEB822
cat >"$apt/sources.list.d/vendor.list" <<'LIST'
deb https://vendor.example/apt stable main
LIST
cat >"$apt/sources.list.d/vendor.sources" <<'DEB822'
Types: deb-src
URIs: http://src-only.example/debian
Suites: bookworm-updates
Components: main
DEB822
check "mixed files" "$apt" "deb http://one.example/debian bookworm main
deb http://two.example/debian bookworm main
deb http://two.example/debian bookworm-updates main
deb http://two.example/debian-security bookworm-security main"

apt="$work/other-release"
mkdir -p "$apt/sources.list.d"
echo "deb http://three.example/debian trixie main" >"$apt/sources.list"
check "no Debian 12 source" "$apt" "deb http://deb.debian.org/debian bookworm main"

apt="$work/empty"
mkdir -p "$apt"
check "no sources at all" "$apt" "deb http://deb.debian.org/debian bookworm main"
echo "clean-install sources test passed"
