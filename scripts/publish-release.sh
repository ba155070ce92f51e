#!/usr/bin/env bash
# Publishes the current build on the loopback server as a newer release, so
# that "Télécharger la dernière version du logiciel" in the program started by
# scripts/run.sh installs it and restarts. The release holds a copy of the
# built program stamped with the current time: later than the running
# executable's, which is what the program compares.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
DATA="${XDG_STATE_HOME:-$HOME/.local/state}/signetrix-server"
program="$BUILD_DIR/src/app/Signetrix"
server="$BUILD_DIR/server/signetrix_server"
[ -x "$program" ] && [ -x "$server" ] || { echo "Build first: scripts/run.sh" >&2; exit 1; }
mkdir -p "$DATA"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$program" "$stage/Signetrix"
touch "$stage/Signetrix"
"$server" publish --data "$DATA" --key "$ROOT/server/keys/loopback.key" "$stage/Signetrix"
echo "Published $DATA/download/Signetrix.zip ($(date -r "$stage/Signetrix" '+%F %T'))"
