#!/usr/bin/env bash
# Builds and runs every benchmark (not part of the test suite).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
for b in "$BUILD_DIR"/bench/bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
