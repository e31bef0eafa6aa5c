#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each one for the
# given number of seconds (default 60) on a scratch copy of its seed corpus, as many
# at once as there are cores. Prints one line per target; exits non-zero when any
# target crashed, hung, or could not run. Crash inputs and logs are kept in the
# folder it names.
#   scripts/fuzz.sh [seconds]      FUZZ_BUILD_DIR (build-fuzz)   FUZZ_TARGETS ("fuzz_http fuzz_url")   FUZZ_SEED (0: random)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
case "$seconds" in '' | *[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;; esac

if ! command -v clang++ >/dev/null || ! command -v clang >/dev/null; then
  echo "clang missing: installing it" >&2
  sudo_cmd=""
  [ "$(id -u)" = 0 ] || sudo_cmd=sudo
  $sudo_cmd apt-get update -qq >/dev/null
  $sudo_cmd apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi

# -O1 with line tables only, the libraries compiled in batches (a unity build, as
# the sanitizer stages of scripts/test.sh): inputs run nearly as fast as at -O2,
# reports still name file and line, and the build, most of a short run's time, is quicker.
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCORVEL_FUZZ=ON -DCORVEL_BUILD_CONSOLE=OFF \
  -DCORVEL_BUILD_TESTS=OFF -DCORVEL_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" >/dev/null
if [ -n "${FUZZ_TARGETS:-}" ]; then
  targets=$FUZZ_TARGETS
else
  targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi
# Only the targets and the libraries they need; the programs are not run here.
# shellcheck disable=SC2086
cmake --build "$build_dir" -j"$(nproc)" --target $targets >/dev/null

# Scratch space on a memory file system when there is one: the targets create and
# remove small trees for every input.
scratch_base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
work=$(mktemp -d "$scratch_base/corvel-fuzz-run-XXXXXX")
results=$(mktemp -d "${TMPDIR:-/tmp}/corvel-fuzz-results-XXXXXX")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# One target's run; its summary line goes to $results/$target.line.
run_target() {
  local target=$1 binary="$build_dir/$1" corpus="$work/$1/corpus" artifacts="$results/$1/"
  mkdir -p "$corpus" "$artifacts" "$work/$target/tmp"
  if [ -d "fuzz/corpus/$target" ]; then cp -R "fuzz/corpus/$target/." "$corpus/"; fi
  local log="$results/$target.log" status=0 runs crash
  # The wall-clock bound covers start-up and a last slow input beyond -max_total_time.
  TMPDIR="$work/$target/tmp" timeout --kill-after=10 $((seconds + 120)) \
    "$binary" -max_total_time="$seconds" -seed="${FUZZ_SEED:-0}" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$corpus" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" = 0 ]; then
    echo "$target: ok, ${runs:-?} runs in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs" >"$results/$target.line"
  else
    crash=$(ls "$artifacts" 2>/dev/null | head -n 1)
    {
      echo "$target: FAILED (exit $status), input ${crash:+$artifacts$crash}, log $log"
      grep -m 3 -E "ERROR|invariant failed|SUMMARY" "$log" | sed 's/^/    /' || true
    } >"$results/$target.line"
    touch "$results/$target.failed"
  fi
  rm -rf "$work/$target"
}

# Each target is one process on one core, so as many run at once as there are
# cores (FUZZ_JOBS); the lines are printed in the targets' order when all are done.
parallel=${FUZZ_JOBS:-$(nproc)}
running=0
for target in $targets; do
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then wait -n || true; running=$((running - 1)); fi
done
wait
failed=0
for target in $targets; do
  if [ -e "$results/$target.line" ]; then cat "$results/$target.line"; else echo "$target: FAILED (no result)"; failed=1; fi
  if [ -e "$results/$target.failed" ]; then failed=1; fi
done

rm -rf "$work"
if [ "$failed" = 0 ]; then
  rm -rf "$results"
else
  echo "crash inputs and logs kept in $results"
fi
exit "$failed"
