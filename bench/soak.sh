#!/usr/bin/env bash
# Soak test: 200 concurrent clients mixing every file command and web downloads
# against one corveld for a while; every byte is checked and memory is watched.
# Usage: bench/soak.sh [seconds=60]   (loopback only; bounded in clients and time)
# Uses $CORVEL_BUILD_DIR/corveld, else build/corveld. Exits non-zero on any error or
# when the server's resident memory grew more than 10% after the warm-up.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
export CORVEL_BUILD_DIR=${CORVEL_BUILD_DIR:-$PWD/build}
[ -x "$CORVEL_BUILD_DIR/corveld" ] || { echo "soak: no corveld in $CORVEL_BUILD_DIR" >&2; exit 2; }
ulimit -n 65536 2>/dev/null || ulimit -n "$(ulimit -Hn)"
exec timeout --kill-after=30 $((seconds + 600)) python3 bench/soak_client.py "$seconds" 200
