#!/usr/bin/env bash
# Web browser speed: a 1 GiB download from corveld and from nginx (static file),
# and the time corveld takes to serve the listing of a folder of 10,000 entries.
# Usage: bench/web.sh [size_mib=1024]   (loopback only; every run is bounded)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
scripts/install-deps.sh bench >/dev/null
[ -x build/corveld ] || scripts/build.sh -DCORVEL_BUILD_TESTS=OFF
source bench/peers.sh
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

root="$work/root"; mkdir -p "$root/listing"
head -c $((size_mib << 20)) /dev/urandom >"$root/big.bin"
(cd "$root/listing" && seq -w 1 10000 | xargs touch)
# nginx's worker runs as an unprivileged user: let it read the tree.
chmod a+rx "$work" "$root"
chmod a+r "$root/big.bin"

ftp=$(free_port); web=$(free_port); nginx_port=$(free_port)
pid=$(start_corveld "$ftp" "$web" "$root" "$work" build); pids+=("$pid")
# A real account for Basic authentication ("bench" / "bench").
digest=$(/usr/bin/python3 -c 'import hashlib; d=hashlib.md5(b"bench").digest(); print("".join(d[i:i+4][::-1].hex().upper() for i in range(0,16,4)))')
echo "<users><user username=\"bench\" password=\"$digest\" alias=\"\" privilege=\"458783\" work_dir=\"$root\" welcome_msg=\"\" disabled=\"no\" /></users>" >"$work/corveld/ftpusers.xml"
# Not a child of this shell, so wait cannot see it end: poll (a second server
# started while the first still holds the ports would exit at once).
kill "$pid"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
CORVELFTP_RUNTIME_DIR="$work/corveld/run" "$work/corveld/corveld" /nontservice >"$work/corveld.log" 2>&1 &
pids+=($!)
pid=$(start_nginx "$nginx_port" "$root" "$work"); pids+=("$pid")
wait_port "$web"; wait_port "$nginx_port"

now() { date +%s.%N; }
best_of() {  # best_of MIN_BYTES curl-args...: 3 checked runs, prints the best wall time
  local least=$1 best=999 t0 t1
  shift
  for _ in 1 2 3; do
    t0=$(now); curl_checked "$least" -o /dev/null "$@" || exit 1; t1=$(now)
    best=$(echo "$t1 - $t0" | bc -l | awk -v b="$best" '{print ($1 < b) ? $1 : b}')
  done
  echo "$best"
}
bytes=$((size_mib << 20))
corveld_time=$(best_of "$bytes" --max-time 600 -u bench:bench "http://127.0.0.1:$web/download.html?path=big.bin")
nginx_time=$(best_of "$bytes" --max-time 600 "http://127.0.0.1:$nginx_port/big.bin")
list_time=$(best_of 100000 --max-time 60 -u bench:bench "http://127.0.0.1:$web/list.html?path=listing")

awk -v b="$bytes" -v c="$corveld_time" -v n="$nginx_time" -v l="$list_time" 'BEGIN{
  printf "download %d MiB: corveld %.3f GB/s, nginx %.3f GB/s, ratio %.2f\n", b/1048576, b/c/1e9, b/n/1e9, n/c
  printf "listing of 10,000 entries: %.1f ms\n", l*1000 }'
