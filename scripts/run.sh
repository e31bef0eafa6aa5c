#!/usr/bin/env bash
# Installs what is missing, builds, and runs the server on its defaults in the
# terminal (FTP on port 21, web browser on 8080) from build/. Ctrl+C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
scripts/build.sh -DCORVEL_BUILD_TESTS=OFF
echo "CorvelFtp: FTP on port 21, web browser on port 8080 (files in $(pwd)/build/). Ctrl+C stops."
exec build/corveld /nontservice
