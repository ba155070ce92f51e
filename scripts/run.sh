#!/usr/bin/env bash
# Sets up, builds and starts Signetrix.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
exec "${BUILD_DIR:-$ROOT/build}/src/app/Signetrix"
