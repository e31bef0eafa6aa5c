#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and integration tests
# on the normal build, then the sanitizer builds. SKIP_SANITIZERS=1 skips the latter.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
export CORVEL_WERROR=ON

echo "== build"
scripts/build.sh -DCORVEL_WERROR=ON
echo "== unit and integration tests"
(cd build && ctest --output-on-failure -j2 --timeout 900 -LE slow)
