#!/usr/bin/env bash
# Speed over TLS with one certificate for all: a 1 GiB RETR over explicit FTPS from
# corveld and from vsftpd (ssl_enable=YES), and a 1 GiB web download over HTTPS from
# corveld (<webtls>yes</webtls>) and from nginx. Medians of runs, taken in turns.
# Usage: bench/tls.sh [size_mib=1024] [runs=5]   (loopback only; every run is bounded)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
runs=${2:-5}
scripts/install-deps.sh bench >/dev/null
[ -x build/corveld ] || scripts/build.sh -DCORVEL_BUILD_TESTS=OFF
source bench/peers.sh
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
chmod a+rx "$work"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -subj /CN=127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
chmod a+r "$work/cert.pem" "$work/key.pem"
declare -A root port
for s in corveld vsftpd nginx; do
  root[$s]="$work/root-$s"; mkdir -p "${root[$s]}"; chmod 755 "${root[$s]}"
  head -c $((size_mib << 20)) /dev/urandom >"${root[$s]}/big.bin"; chmod a+r "${root[$s]}/big.bin"
  port[$s]=$(free_port)
done
web=$(free_port)
# A real account for Basic authentication ("bench" / "bench").
digest=$(/usr/bin/python3 -c 'import hashlib; d=hashlib.md5(b"bench").digest(); print("".join(d[i:i+4][::-1].hex().upper() for i in range(0,16,4)))')
bench_user="<user username=\"bench\" password=\"$digest\" alias=\"\" privilege=\"458783\" work_dir=\"${root[corveld]}\" welcome_msg=\"\" disabled=\"no\" />"
pid=$(start_corveld "${port[corveld]}" "$web" "${root[corveld]}" "$work" build \
  "<tls>explicit</tls><tlscert>$work/cert.pem</tlscert><tlskey>$work/key.pem</tlskey><webtls>yes</webtls>" "$bench_user")
pids+=("$pid")
pid=$(start_vsftpd "${port[vsftpd]}" "${root[vsftpd]}" "$work" "$work/cert.pem" "$work/key.pem"); pids+=("$pid")
pid=$(start_nginx "${port[nginx]}" "${root[nginx]}" "$work" "$work/cert.pem" "$work/key.pem"); pids+=("$pid")
for p in "${port[corveld]}" "${port[vsftpd]}" "${port[nginx]}" "$web"; do wait_port "$p"; done

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
rate() { awk -v b="$1" -v t="$2" 'BEGIN{ printf "%.3f", b / t / 1e9 }'; }   # GB/s
bytes=$((size_mib << 20))
timed() {  # curl args...: one checked transfer, prints its wall time
  local t0 t1
  t0=$(now); curl_checked "$bytes" --max-time 600 -k -o /dev/null "$@" || exit 1; t1=$(now)
  echo "$t1 - $t0" | bc -l
}
declare -A times
for _ in $(seq 1 "$runs"); do
  times[ftps_corveld]+=" $(timed --ssl-reqd "ftp://anonymous:a@127.0.0.1:${port[corveld]}/big.bin")"
  times[ftps_vsftpd]+=" $(timed --ssl-reqd "ftp://anonymous:a@127.0.0.1:${port[vsftpd]}/big.bin")"
  times[https_corveld]+=" $(timed -u bench:bench "https://127.0.0.1:$web/download.html?path=big.bin")"
  times[https_nginx]+=" $(timed "https://127.0.0.1:${port[nginx]}/big.bin")"
done
declare -A speed
for k in ftps_corveld ftps_vsftpd https_corveld https_nginx; do
  # shellcheck disable=SC2086  # the list is space-separated on purpose
  speed[$k]=$(rate "$bytes" "$(median ${times[$k]})")
done
echo "median of $runs runs of $size_mib MiB each ($(nproc) CPUs, load $(cut -d' ' -f1 /proc/loadavg))"
printf 'RETR over FTPS:  corveld %s GB/s, vsftpd %s GB/s, ratio %s\n' "${speed[ftps_corveld]}" "${speed[ftps_vsftpd]}" \
  "$(awk -v a="${speed[ftps_corveld]}" -v b="${speed[ftps_vsftpd]}" 'BEGIN{printf "%.2f", a/b}')"
printf 'HTTPS download:  corveld %s GB/s, nginx %s GB/s, ratio %s\n' "${speed[https_corveld]}" "${speed[https_nginx]}" \
  "$(awk -v a="${speed[https_corveld]}" -v b="${speed[https_nginx]}" 'BEGIN{printf "%.2f", a/b}')"
