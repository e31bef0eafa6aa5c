#!/usr/bin/env bash
# Session throughput and greeting of a crowd, corveld beside vsftpd and pyftpdlib.
# Usage: bench/sessions.sh [seconds per run]   (loopback only; every run is bounded)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
scripts/install-deps.sh bench >/dev/null
[ -x build/corveld ] || scripts/build.sh -DCORVEL_BUILD_TESTS=OFF
source bench/peers.sh
work=$(mktemp -d)
root="$work/root"; mkdir -p "$root"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

declare -A port
port[corveld]=$(free_port); pid=$(start_corveld "${port[corveld]}" "$(free_port)" "$root" "$work" build); pids+=("$pid")
port[vsftpd]=$(free_port); pid=$(start_vsftpd "${port[vsftpd]}" "$root" "$work"); pids+=("$pid")
port[pyftpdlib]=$(free_port); pid=$(start_pyftpdlib "${port[pyftpdlib]}" "$root" "$work"); pids+=("$pid")
for s in corveld vsftpd pyftpdlib; do wait_port "${port[$s]}"; done

declare -A rate greet_time greeted
for s in corveld vsftpd pyftpdlib; do
  rate[$s]=$(/usr/bin/python3 bench/ftp_load.py sessions "${port[$s]}" "$seconds" 4)
  read -r greet_time[$s] greeted[$s] < <(/usr/bin/python3 bench/ftp_load.py greet "${port[$s]}" 200 20)
  sleep 1
done

printf '%-10s %14s %22s %10s\n' server "sessions/s" "200 greeted in (s)" greeted
for s in corveld vsftpd pyftpdlib; do
  printf '%-10s %14s %22s %10s\n' "$s" "${rate[$s]}" "${greet_time[$s]}" "${greeted[$s]}/200"
done
for peer in vsftpd pyftpdlib; do
  awk -v a="${rate[corveld]}" -v b="${rate[$peer]}" -v p="$peer" 'BEGIN{ if (b>0) printf "sessions/s ratio corveld/%s: %.2f\n", p, a/b }'
done
