#!/usr/bin/env bash
# Tessaly's one entry point.
#   ./tessaly.sh test              install what is missing, build, run every test
#   ./tessaly.sh run [IN OUT...]   build and convert a fisheye movie (a demo without arguments)
#   ./tessaly.sh sanitize          the tests again under AddressSanitizer + UBSan
#   ./tessaly.sh tsan              the threads tests again under ThreadSanitizer (TESSALY_TSAN_ALL=1: all)
#   ./tessaly.sh fuzz [SECONDS]    build the fuzz targets with clang and run each briefly
#   ./tessaly.sh bench             the comparison benchmarks against ffmpeg and cjpeg
#   ./tessaly.sh package           the Debian package (build/package/tessaly_*.deb), then clean-install
#   ./tessaly.sh clean-install [DIR] the package on a fresh minimal Debian 12 (root; screenshots into DIR)
#   ./tessaly.sh desktop [ARGS]    build and start the desktop program
#   ./tessaly.sh screenshots [DIR] PNG pictures of the windows (default out/screenshots)
#   ./tessaly.sh deps              only install the Debian packages
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
JOBS="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libbenchmark-dev
  ffmpeg libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libjpeg-turbo-progs libjpeg62-turbo-dev
  locales valgrind
  qt6-base-dev qt6-multimedia-dev xvfb xauth fonts-dejavu-core fonts-dejavu-extra
  clang libclang-rt-14-dev lld
  desktop-file-utils appstream man-db groff-base dpkg-dev file
  slurmctld slurmd slurm-client munge
  debootstrap
  liblensfun-dev liblensfun-data-v1 python3-lensfun
)

log() { printf '\033[1m== %s\033[0m\n' "$*" >&2; }

install_deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  log "installing: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "tessaly.sh: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # The Slurm test starts a cluster of its own; daemons that the packages'
  # installation may have started (where init scripts run) are stopped by
  # the pids in their Debian pid files, so none outlives the installation.
  local service pidfile pid
  for service in slurmctld:/run/slurmctld.pid slurmd:/run/slurmd.pid munge:/run/munge/munged.pid; do
    pidfile=${service#*:}
    [[ " ${missing[*]} " == *" ${service%%:*} "* && -f $pidfile ]] || continue
    pid=$(cat "$pidfile" 2>/dev/null || true)
    [[ $pid =~ ^[0-9]+$ ]] && "${sudo[@]}" kill "$pid" 2>/dev/null || true
  done
}

# configure_build DIR [cmake options...]: configures DIR and builds all of
# it, or only the target named in $BUILD_TARGET.
configure_build() {
  local dir="$1"; shift
  # Warnings fail every build (CI included); TESSALY_WERROR=OFF lifts that.
  cmake -S "$ROOT" -B "$dir" -G Ninja -DTESSALY_WERROR="${TESSALY_WERROR:-ON}" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS" ${BUILD_TARGET:+--target "$BUILD_TARGET"}
}

run_ctest() {
  local dir="$1"; shift
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" "$@"
}

# Builds the Debian package and checks what it holds.
make_package() {
  log "build (release)"
  configure_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  log "Debian package"
  rm -f "$ROOT"/build/package/*.deb
  (cd "$ROOT/build" && cpack -G DEB -B "$ROOT/build/package" >/dev/null)
  deb=$(ls "$ROOT"/build/package/*.deb)
  dpkg-deb -I "$deb"
  # The fonts the windows are laid out for come with the package.
  dpkg-deb -f "$deb" Depends | grep -q "fonts-dejavu-extra" || { echo "package: fonts-dejavu-extra missing from Depends" >&2; exit 1; }
  dpkg-deb -c "$deb"
  # The packed program runs: unpacked into a scratch folder, it names its
  # libraries and the encoder it found.
  unpacked=$(mktemp -d)
  dpkg-deb -x "$deb" "$unpacked"
  "$unpacked/usr/bin/tessaly-convert" --version
  rm -rf "$unpacked"
  echo "$deb: $(stat -c %s "$deb") bytes"
}

# Installs the package on a fresh minimal Debian 12 and tries it there as a
# user (tools/clean-install); screenshots of its windows go into $1.
clean_install() {
  log "the package on a clean Debian 12 (screenshots into $1)"
  "$ROOT/tools/clean-install" "$(ls "$ROOT"/build/package/*.deb)" "$1" "$ROOT/build/clean-install"
}

cmd="${1:-test}"
[[ $# -gt 0 ]] && shift
case "$cmd" in
  deps)
    install_deps ;;
  test)
    install_deps
    log "build (release)"
    # The benchmarks build with `bench`; no test runs them.
    configure_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_BENCH=OFF
    log "tests"
    run_ctest "$ROOT/build" ;;
  sanitize)
    install_deps
    log "build (AddressSanitizer + UBSan)"
    configure_build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON -DTESSALY_BENCH=OFF
    log "tests under AddressSanitizer + UBSan"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      LSAN_OPTIONS=suppressions="$ROOT/tests/lsan-suppressions.txt" \
      run_ctest "$ROOT/build-asan" -E "${TESSALY_SANITIZE_EXCLUDE:-^$}" ;;
  tsan)
    install_deps
    # Only the tests labelled "threads" (tests/CMakeLists.txt: the ones that
    # exercise the program's own threads) and what they need are built and
    # run; the single-threaded rest runs in the other two builds.
    # TESSALY_TSAN_ALL=1 builds and runs everything.
    target=thread_tests only=(-L '^threads$')
    [[ -z ${TESSALY_TSAN_ALL:-} ]] || { target="" only=(); }
    log "build (ThreadSanitizer)"
    BUILD_TARGET=$target configure_build "$ROOT/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DTESSALY_TSAN=ON -DTESSALY_BENCH=OFF
    log "tests under ThreadSanitizer"
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
      run_ctest "$ROOT/build-tsan" "${only[@]}" ;;
  fuzz)
    install_deps
    seconds="${1:-20}"
    log "build fuzz targets (clang)"
    CC=clang CXX=clang++ configure_build "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTESSALY_FUZZ=ON -DTESSALY_BENCH=OFF -DTESSALY_TESTS=OFF -DTESSALY_MEDIA=OFF
    for target in "$ROOT"/build-fuzz/fuzz/*/fuzz_*; do
      [[ -x "$target" ]] || continue
      log "fuzz $(basename "$target") for ${seconds}s"
      corpus="$ROOT/build-fuzz/corpus-$(basename "$target")"
      mkdir -p "$corpus"
      seeds="$ROOT/fuzz/seeds/$(basename "$target")"
      [[ -d "$seeds" ]] || seeds=""
      "$target" -seed=1 -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=30 "$corpus" ${seeds:+"$seeds"} 2>&1 | tail -n 3
    done ;;
  run)
    install_deps
    log "build"
    configure_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    if [[ $# -eq 0 ]]; then
      demo="$ROOT/out/demo"
      mkdir -p "$demo"
      log "making a 5-second demo fisheye clip with sound"
      "$ROOT/tools/make-fisheye-clip" "$demo/fisheye-demo.mp4" --size 1280x720 --fps 25 --duration 5 --audio
      "$ROOT/build/cli/tessaly-convert" "$demo/fisheye-demo.mp4" "$demo/panorama-demo.mp4"
      echo "Input:  $demo/fisheye-demo.mp4"
      echo "Output: $demo/panorama-demo.mp4"
    else
      "$ROOT/build/cli/tessaly-convert" "$@"
    fi ;;
  bench)
    install_deps
    configure_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_BENCH=ON >/dev/null
    for script in "$ROOT"/bench/compare-*.sh; do
      [[ -x "$script" ]] || continue
      log "$(basename "$script")"
      "$script" "$ROOT/build"
    done ;;
  package)
    install_deps
    make_package
    # On a clean system too (about two minutes the first time, one and a
    # half with the root kept in build/clean-install); it needs root.
    if [[ $(id -u) -eq 0 ]]; then
      clean_install "$ROOT/out/clean-install"
    else
      log "clean-install skipped: it needs root (sudo ./tessaly.sh clean-install)"
    fi ;;
  clean-install)
    install_deps
    make_package
    clean_install "${1:-$ROOT/out/clean-install}" ;;
  desktop)
    install_deps
    log "build"
    configure_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    exec "$ROOT/build/ui/tessaly" "$@" ;;
  screenshots)
    install_deps
    configure_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    dir="${1:-$ROOT/out/screenshots}"
    log "screenshots into $dir"
    "$ROOT/tools/screenshot" "$dir" "$ROOT/build" ;;
  -h|--help|help)
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' ;;
  *)
    echo "tessaly.sh: unknown command '$cmd' (try --help)" >&2; exit 2 ;;
esac
