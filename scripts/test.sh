#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the normal build (warnings as errors): unit, integration and console tests;
#   2. an AddressSanitizer+UndefinedBehaviorSanitizer build: unit and integration tests;
#   3. a ThreadSanitizer build of the server: unit and integration tests;
#   4. every fuzz target for a short, bounded time.
# QUICK=1 runs stage 1 only. FUZZ_SECONDS sets the time per fuzz target (10).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
if [ ! -d tests/browser/node_modules/playwright-core ]; then
  (cd tests/browser && npm install --no-audit --no-fund --loglevel=error)
fi
jobs=$(nproc)
# Most integration tests wait on sockets and the one-second login pause, not on the
# CPU, so twice as many run at once as there are cores (at least four).
test_jobs=$((jobs * 2 > 4 ? jobs * 2 : 4))

# Each stage line carries the seconds since the start, so a slow stage shows in the log.
stage() { echo; echo "== $* (at ${SECONDS} s)"; }

stage "normal build"
BUILD_DIR=build scripts/build.sh -DCORVEL_WERROR=ON -DCORVEL_BUILD_CONSOLE=ON
stage "unit, integration and console tests (normal build)"
(cd build && ctest --output-on-failure -j"$test_jobs" -LE slow)
[ "${QUICK:-0}" = 1 ] && exit 0

# The sanitizer builds carry line tables only (-g1) and compile their sources in
# batches (a unity build): their reports still name file and line, and the builds,
# most of this script's time, take a third of what they took one source at a time
# with -g. The normal build above stays one source at a time.
line_tables=-g1
unity=-DCMAKE_UNITY_BUILD=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# No sleep at exit: ThreadSanitizer sleeps a second when other threads are still
# alive, and a server that stops leaves its parked connection threads just ending.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:atexit_sleep_ms=0

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
BUILD_DIR=build-asan BUILD_TYPE=Debug scripts/build.sh -DCORVEL_WERROR=ON -DCORVEL_SANITIZE=address,undefined \
  -DCORVEL_BUILD_CONSOLE=OFF -DCMAKE_CXX_FLAGS_DEBUG="$line_tables" -DCMAKE_C_FLAGS_DEBUG="$line_tables" "$unity"
stage "unit and integration tests (address,undefined)"
(cd build-asan && ctest --output-on-failure -j"$test_jobs" -LE slow -E "integration.test_(browser|console|deadlines|systemd_unit)")

stage "ThreadSanitizer build"
BUILD_DIR=build-tsan BUILD_TYPE=RelWithDebInfo scripts/build.sh -DCORVEL_WERROR=ON -DCORVEL_SANITIZE=thread \
  -DCORVEL_BUILD_CONSOLE=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 $line_tables -DNDEBUG" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 $line_tables -DNDEBUG" "$unity"
stage "unit and integration tests (thread)"
(cd build-tsan && ctest --output-on-failure -j"$test_jobs" -LE slow -E "integration.test_(browser|console|deadlines|systemd_unit)")

# A fixed seed makes the short run repeat the exploration that was checked before
# landing; longer runs (scripts/fuzz.sh alone) take a random seed.
stage "fuzzing, ${FUZZ_SECONDS:-10} s per target"
FUZZ_SEED=${FUZZ_SEED:-1} scripts/fuzz.sh "${FUZZ_SECONDS:-10}"
stage "all passed"
