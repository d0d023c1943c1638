#!/usr/bin/env bash
# Builds and runs the JPEG encoder fuzz target for a short while.
#   fuzz/output/run-short.sh BUILD_DIR [SECONDS]
# BUILD_DIR must be configured with clang and the fuzz targets, e.g.
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSALY_FUZZ=ON -DTESSALY_SANITIZE=ON
# Exits non-zero when the fuzzer finds a crash, a sanitizer report or a
# decoding failure.
set -euo pipefail
build=${1:?usage: run-short.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
ninja -C "$build" fuzz_jpeg_encoder
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
# A few seeds: 1x1, 8x8 at 98, 13x7 at 24 bits, 100x3 at quality 101.
printf '\x00\x00\x00\x00\x00\x26' > "$corpus/one-pixel"
printf '\x07\x00\x07\x00\x00\x26\x10\x20\x30' > "$corpus/block"
printf '\x0c\x00\x06\x00\x01\x26\xff\x00\x80' > "$corpus/odd-24bit"
printf '\x63\x00\x02\x00\x00\x29\x01\x02\x03\x04' > "$corpus/wide"
exec "$build/fuzz/output/fuzz_jpeg_encoder" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus"
