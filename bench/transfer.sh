#!/usr/bin/env bash
# Transfer speed and memory, corveld beside vsftpd, pyftpdlib, Pure-FTPd and ProFTPD on
# loopback: RETR and STOR of a 1 GiB file, 64 clients x 4 downloads of 16 MiB, LIST of
# 10,000 entries, and corveld's resident memory per idle logged-in session.
# Usage: bench/transfer.sh [size_mib=1024] [runs=5]
# RETR and STOR are the median of runs transfers per server, taken in turns (one per
# server, then the next round), the 64-client figure the median of 3 rounds.
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
# The peers that drop to nobody (ProFTPD, Pure-FTPd) must reach their trees.
chmod a+rx "$work"

servers=(corveld vsftpd pyftpdlib)
unpacked=build/bench-peers
if fetch_unpacked_peers "$unpacked"; then
  for peer in pure-ftpd:pureftpd proftpd:proftpd; do
    problem=$(unpacked_peer_problem "$unpacked" "${peer%%:*}")
    if [ -z "$problem" ]; then servers+=("${peer##*:}"); else echo "left out: $problem"; fi
  done
else
  echo "left out: Pure-FTPd and ProFTPD (apt-get download pure-ftpd proftpd-core failed)"
fi

declare -A port root login
for s in "${servers[@]}"; do
  root[$s]="$work/root-$s"; mkdir -p "${root[$s]}/listing" "${root[$s]}/up"
  chmod 755 "${root[$s]}"; chmod 777 "${root[$s]}/up"
  head -c $((size_mib << 20)) /dev/zero | tr '\0' 'x' >"${root[$s]}/big.bin" 2>/dev/null || true
  head -c $((16 << 20)) /dev/urandom >"${root[$s]}/mid.bin"
  (cd "${root[$s]}/listing" && seq -w 1 10000 | xargs touch)
  port[$s]=$(free_port)
  login[$s]=anonymous:a
done
pid=$(start_corveld "${port[corveld]}" "$(free_port)" "${root[corveld]}" "$work" build); pids+=("$pid"); corveld_pid=$pid
pid=$(start_vsftpd "${port[vsftpd]}" "${root[vsftpd]}" "$work"); pids+=("$pid")
pid=$(start_pyftpdlib "${port[pyftpdlib]}" "${root[pyftpdlib]}" "$work"); pids+=("$pid")
if [ -n "${port[pureftpd]:-}" ]; then
  pid=$(start_pureftpd "${port[pureftpd]}" "${root[pureftpd]}" "$work" "$unpacked"); pids+=("$pid")
  login[pureftpd]=bench:bench
fi
if [ -n "${port[proftpd]:-}" ]; then
  pid=$(start_proftpd "${port[proftpd]}" "${root[proftpd]}" "$work" "$unpacked"); pids+=("$pid")
fi
for s in "${servers[@]}"; do wait_port "${port[$s]}"; done
head -c $((size_mib << 20)) /dev/urandom >"$work/upload.bin"
# The trees just written are still being flushed to disk; a run that shares the
# machine with that flush is slow for a reason that is nobody's.
sync

now() { date +%s.%N; }
rate() { awk -v b="$1" -v t="$2" 'BEGIN{ printf "%.3f", b / t / 1e9 }'; }   # GB/s
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
url() { echo "ftp://${login[$1]}@127.0.0.1:${port[$1]}/$2"; }
loads=()
note_load() { loads+=("$(cut -d' ' -f1 /proc/loadavg)"); }
# The servers in round i's order: each round starts one further along, so no server
# always runs first (or always right after another's upload).
in_turn() {  # round
  local n=${#servers[@]} k
  for k in $(seq 0 $((n - 1))); do echo "${servers[$(((k + $1) % n))]}"; done
}

declare -A retr_times stor_times agg_times list
bytes=$((size_mib << 20))
note_load
for i in $(seq 1 "$runs"); do
  for s in $(in_turn "$i"); do
    t0=$(now); curl_checked "$bytes" --max-time 600 -o /dev/null "$(url "$s" big.bin)"; t1=$(now)
    retr_times[$s]+=" $(echo "$t1 - $t0" | bc -l)"
  done
  note_load
done
for i in $(seq 1 "$runs"); do
  for s in $(in_turn "$i"); do
    # Every upload starts with nothing of the last one left to write back: the kernel
    # makes the writer that crosses its dirty-page limit wait for the disk.
    sync
    t0=$(now); curl_checked "$bytes" --max-time 600 -T "$work/upload.bin" "$(url "$s" "up/u$i.bin")"; t1=$(now)
    stor_times[$s]+=" $(echo "$t1 - $t0" | bc -l)"
    rm -f "${root[$s]}/up/u$i.bin"
  done
  note_load
done
for round in 1 2 3; do
  for s in $(in_turn "$round"); do
    t0=$(now)
    clients=()
    # Each client downloads four times, one curl after the other. One curl given the
    # four URLs reuses its control connection, but then waits out its own one-second
    # poll before connecting about every other data connection of a server that
    # answers fast (seen against vsftpd, Pure-FTPd, ProFTPD and corveld, never against
    # the slower-answering pyftpdlib): that figure measured curl.
    for c in $(seq 1 64); do
      (for _ in 1 2 3 4; do curl_checked $((16 << 20)) --max-time 600 -o /dev/null "$(url "$s" mid.bin)" || exit 1; done) &
      clients+=($!)
    done
    for c in "${clients[@]}"; do wait "$c"; done
    t1=$(now)
    agg_times[$s]+=" $(echo "$t1 - $t0" | bc -l)"
  done
  note_load
done
for s in "${servers[@]}"; do
  best=999
  for i in 1 2 3; do
    t0=$(now); curl_checked 100000 --max-time 60 -o /dev/null "$(url "$s" listing/)"; t1=$(now)
    best=$(echo "$t1 - $t0" | bc -l | awk -v b="$best" '{print ($1 < b) ? $1 : b}')
  done
  list[$s]=$best
done

rss_before=$(awk '/VmRSS/{print $2}' "/proc/$corveld_pid/status")
per_session=$(/usr/bin/python3 - "${port[corveld]}" "$corveld_pid" "$rss_before" <<'PY'
import socket, sys, time
port, pid, before = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
def reply(s):
    data = b""
    while not any(l[:3].isdigit() and l[3:4] == b" " for l in data.split(b"\r\n")):
        data += s.recv(4096)
socks = []
for _ in range(500):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    reply(s); s.sendall(b"USER anonymous\r\n"); reply(s); s.sendall(b"PASS a\r\n"); reply(s)
    socks.append(s)
time.sleep(1)
after = int([l.split()[1] for l in open("/proc/%s/status" % pid) if l.startswith("VmRSS")][0])
print("%.1f" % ((after - before) / 500.0))
for s in socks: s.close()
PY
)

declare -A retr stor agg
for s in "${servers[@]}"; do
  # shellcheck disable=SC2086  # the lists are space-separated on purpose
  retr[$s]=$(rate "$bytes" "$(median ${retr_times[$s]})")
  # shellcheck disable=SC2086
  stor[$s]=$(rate "$bytes" "$(median ${stor_times[$s]})")
  # shellcheck disable=SC2086
  agg[$s]=$(rate $((64 * 4 * (16 << 20))) "$(median ${agg_times[$s]})")
done
# The spread behind each median, slowest first, in seconds.
for s in "${servers[@]}"; do
  # shellcheck disable=SC2086
  printf '%-10s RETR %s | STOR %s | 64 clients %s\n' "$s" "$(printf '%.2f ' $(printf '%s\n' ${retr_times[$s]} | sort -gr))" \
    "$(printf '%.2f ' $(printf '%s\n' ${stor_times[$s]} | sort -gr))" "$(printf '%.2f ' $(printf '%s\n' ${agg_times[$s]} | sort -gr))"
done
echo "RETR/STOR: median of $runs runs each, 64 clients: median of 3 rounds; 1-min load during the runs: $(printf '%s\n' "${loads[@]}" | sort -g | sed -n '1p;$p' | paste -sd- -) ($(nproc) CPUs)"
printf '%-10s %12s %12s %16s %14s\n' server "RETR GB/s" "STOR GB/s" "64x4x16MiB GB/s" "LIST 10k (s)"
for s in "${servers[@]}"; do
  printf '%-10s %12s %12s %16s %14.3f\n' "$s" "${retr[$s]}" "${stor[$s]}" "${agg[$s]}" "${list[$s]}"
done
for peer in "${servers[@]:1}"; do
  awk -v p="$peer" -v r1="${retr[corveld]}" -v r2="${retr[$peer]}" -v s1="${stor[corveld]}" -v s2="${stor[$peer]}" \
      -v a1="${agg[corveld]}" -v a2="${agg[$peer]}" -v l1="${list[corveld]}" -v l2="${list[$peer]}" \
      'BEGIN{ printf "corveld/%-9s ratios: RETR %.2f  STOR %.2f  aggregate %.2f  LIST speed %.2f\n", p, r1/r2, s1/s2, a1/a2, l2/l1 }'
done
echo "corveld resident memory per idle logged-in session: ${per_session} KiB (500 sessions)"
