#!/usr/bin/env bash
# SFTP speed and server CPU, corveld's <sftpport> beside OpenSSH's sshd with
# internal-sftp, on loopback with one cipher (aes128-gcm@openssh.com) and one client
# (OpenSSH's sftp, signing in with one Ed25519 key on both): one download and one
# upload of a size_mib file, and 16 parallel downloads of a parallel_mib file.
# Usage: bench/sftp.sh [size_mib=1024] [parallel_mib=64] [runs=3]
# Each figure is the median of runs (at least 3), taken in turns (one per server,
# then the next round), with the range beside it; server CPU is the user and system
# seconds of the server's processes (sshd's session children counted as they are
# reaped) per GiB moved, from /proc/PID/stat.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
parallel_mib=${2:-64}
runs=${3:-3}
[ "$runs" -ge 3 ] || { echo "bench/sftp.sh: at least 3 runs, for a median with a range" >&2; exit 2; }
scripts/install-deps.sh bench >/dev/null
[ -x build/corveld ] || scripts/build.sh -DCORVEL_BUILD_TESTS=OFF
source bench/peers.sh
cipher=aes128-gcm@openssh.com
parallel=16
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
chmod 755 "$work"

# One client key for both servers.
ssh-keygen -q -t ed25519 -N "" -f "$work/client_key"
servers=(corveld sshd)
declare -A port root prefix pid_of user
for s in "${servers[@]}"; do
  root[$s]="$work/root-$s"
  mkdir -p "${root[$s]}/up"
  head -c $((size_mib << 20)) /dev/urandom >"${root[$s]}/big.bin"
  head -c $((parallel_mib << 20)) /dev/urandom >"${root[$s]}/mid.bin"
  port[$s]=$(free_port)
done
head -c $((size_mib << 20)) /dev/urandom >"$work/upload.bin"

# corveld: an account whose home is its tree, signing in with the client key. Paths
# are the account's own, from its home.
ftp_port=$(free_port)
account="<user username=\"bench\" password=\"x\" alias=\"\" privilege=\"458783\" work_dir=\"${root[corveld]}\" welcome_msg=\"\" disabled=\"no\"><sshkey>$(cat "$work/client_key.pub")</sshkey></user>"
pid_of[corveld]=$(start_corveld "$ftp_port" "$(free_port)" "${root[corveld]}" "$work" build \
  "<sftpport>${port[corveld]}</sftpport><maxperip>0</maxperip>" "$account")
pids+=("${pid_of[corveld]}")
prefix[corveld]=""
user[corveld]=bench

# sshd: its own host key and configuration, internal-sftp only, the same cipher,
# signing in the user running this script with the client key. Paths are absolute.
mkdir -p "$work/sshd"
ssh-keygen -q -t ed25519 -N "" -f "$work/sshd/host_ed25519"
cp "$work/client_key.pub" "$work/sshd/authorized_keys"
cat >"$work/sshd/sshd_config" <<CONF
ListenAddress 127.0.0.1
Port ${port[sshd]}
HostKey $work/sshd/host_ed25519
PidFile $work/sshd/sshd.pid
AuthorizedKeysFile $work/sshd/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
Ciphers $cipher
Subsystem sftp internal-sftp
ForceCommand internal-sftp
AllowTcpForwarding no
X11Forwarding no
MaxStartups 64:30:128
MaxSessions 64
CONF
# As root, sshd wants its privilege-separation directory.
[ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$work/sshd/sshd_config" 2>"$work/sshd.log" &
pid_of[sshd]=$!
pids+=("${pid_of[sshd]}")
prefix[sshd]=${root[sshd]}
user[sshd]=$(id -un)
for s in "${servers[@]}"; do wait_port "${port[$s]}"; done
sync

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
range() { printf '%s\n' "$@" | sort -g | sed -n '1p;$p' | paste -sd- -; }
in_turn() {  # round
  local n=${#servers[@]} k
  for k in $(seq 0 $((n - 1))); do echo "${servers[$(((k + $1) % n))]}"; done
}
# User and system seconds of pid and of its live descendants, plus what its reaped
# children used (sshd forks a process per connection and waits for it).
cpu_seconds() {  # pid
  local ticks
  ticks=$(/usr/bin/python3 - "$1" <<'PY'
import os, sys
root = int(sys.argv[1])
def stat(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[1]), [int(x) for x in fields[11:15]]  # ppid; utime stime cutime cstime
children, total = {}, 0
for name in os.listdir("/proc"):
    if name.isdigit():
        try:
            ppid, _ = stat(int(name))
        except OSError:
            continue
        children.setdefault(ppid, []).append(int(name))
todo = [root]
while todo:
    pid = todo.pop()
    try:
        _, times = stat(pid)
    except OSError:
        continue
    total += times[0] + times[1] + (times[2] + times[3] if pid == root else 0)
    todo += children.get(pid, [])
print(total)
PY
)
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / hz }'
}
# Waits (up to 10 s) until the server has no connection process left: sshd's session
# children must be reaped before their CPU time shows in the listener's.
settle() {  # server
  [ "$1" = sshd ] || return 0
  for _ in $(seq 1 100); do
    [ -z "$(pgrep -P "${pid_of[sshd]}")" ] && return 0
    sleep 0.1
  done
}
# One sftp client running the batch commands (one per argument); fails, naming the
# server, unless every command succeeded.
sftp_batch() {  # server command...
  local s=$1
  shift
  printf '%s\n' "$@" | sftp -q -b - -F /dev/null -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
    -o BatchMode=yes -o IdentitiesOnly=yes -o IdentityAgent=none -i "$work/client_key" -o "Ciphers=$cipher" \
    -o LogLevel=ERROR -P "${port[$s]}" "${user[$s]}@127.0.0.1" >/dev/null || {
    echo "bench: sftp against $s failed: $*" >&2
    return 1
  }
}
size_of() { stat -c %s "$1"; }

declare -A down_times up_times par_times down_cpu up_cpu par_cpu
bytes=$((size_mib << 20))
# One warm-up download each, so the page cache holds both trees alike.
for s in "${servers[@]}"; do sftp_batch "$s" "get ${prefix[$s]}/big.bin /dev/null"; settle "$s"; done
for i in $(seq 1 "$runs"); do
  for s in $(in_turn "$i"); do
    c0=$(cpu_seconds "${pid_of[$s]}"); t0=$(now)
    sftp_batch "$s" "get ${prefix[$s]}/big.bin $work/down-$s.bin"
    t1=$(now); settle "$s"; c1=$(cpu_seconds "${pid_of[$s]}")
    [ "$(size_of "$work/down-$s.bin")" -eq "$bytes" ] || { echo "bench: short download from $s" >&2; exit 1; }
    rm -f "$work/down-$s.bin"
    down_times[$s]+=" $(echo "$t1 - $t0" | bc -l)"
    down_cpu[$s]+=" $(echo "$c1 - $c0" | bc -l)"
  done
done
for i in $(seq 1 "$runs"); do
  for s in $(in_turn "$i"); do
    sync
    c0=$(cpu_seconds "${pid_of[$s]}"); t0=$(now)
    sftp_batch "$s" "put $work/upload.bin ${prefix[$s]}/up/u$i.bin"
    t1=$(now); settle "$s"; c1=$(cpu_seconds "${pid_of[$s]}")
    [ "$(size_of "${root[$s]}/up/u$i.bin")" -eq "$bytes" ] || { echo "bench: short upload to $s" >&2; exit 1; }
    rm -f "${root[$s]}/up/u$i.bin"
    up_times[$s]+=" $(echo "$t1 - $t0" | bc -l)"
    up_cpu[$s]+=" $(echo "$c1 - $c0" | bc -l)"
  done
done
for i in $(seq 1 "$runs"); do
  for s in $(in_turn "$i"); do
    c0=$(cpu_seconds "${pid_of[$s]}"); t0=$(now)
    clients=()
    for c in $(seq 1 "$parallel"); do
      sftp_batch "$s" "get ${prefix[$s]}/mid.bin $work/par-$s-$c.bin" &
      clients+=($!)
    done
    for c in "${clients[@]}"; do wait "$c"; done
    t1=$(now); settle "$s"; c1=$(cpu_seconds "${pid_of[$s]}")
    for c in $(seq 1 "$parallel"); do
      [ "$(size_of "$work/par-$s-$c.bin")" -eq $((parallel_mib << 20)) ] || { echo "bench: short download from $s" >&2; exit 1; }
      rm -f "$work/par-$s-$c.bin"
    done
    par_times[$s]+=" $(echo "$t1 - $t0" | bc -l)"
    par_cpu[$s]+=" $(echo "$c1 - $c0" | bc -l)"
  done
done

gib_single=$(echo "$size_mib / 1024" | bc -l)
gib_parallel=$(echo "$parallel * $parallel_mib / 1024" | bc -l)
mbs() { awk -v mib="$1" -v t="$2" 'BEGIN { printf "%.0f", mib / t }'; }                # MiB/s
per_gib() { awk -v c="$1" -v g="$2" 'BEGIN { printf "%.2f", c / g }'; }                # CPU s per GiB
echo "sftp client: OpenSSH $(ssh -V 2>&1 | cut -d, -f1), cipher $cipher; $runs runs each, in turns; $(nproc) CPUs"
printf '%-8s %-24s %10s %18s %12s\n' server workload "MiB/s" "seconds (range)" "CPU s/GiB"
declare -A rate
for s in "${servers[@]}"; do
  for w in down up par; do
    case $w in
      down) name="download ${size_mib} MiB"; times=${down_times[$s]}; cpus=${down_cpu[$s]}; mib=$size_mib; gib=$gib_single ;;
      up) name="upload ${size_mib} MiB"; times=${up_times[$s]}; cpus=${up_cpu[$s]}; mib=$size_mib; gib=$gib_single ;;
      par) name="${parallel} x ${parallel_mib} MiB down"; times=${par_times[$s]}; cpus=${par_cpu[$s]}
           mib=$((parallel * parallel_mib)); gib=$gib_parallel ;;
    esac
    # shellcheck disable=SC2086  # the lists are space-separated on purpose
    t=$(median $times)
    rate[$s.$w]=$(mbs "$mib" "$t")
    # shellcheck disable=SC2086
    printf '%-8s %-24s %10s %18s %12s\n' "$s" "$name" "${rate[$s.$w]}" \
      "$(printf '%.2f' "$t") ($(range $times | awk -F- '{ printf "%.2f-%.2f", $1, $2 }'))" \
      "$(per_gib "$(median $cpus)" "$gib")"
  done
done
awk -v d1="${rate[corveld.down]}" -v d2="${rate[sshd.down]}" -v u1="${rate[corveld.up]}" -v u2="${rate[sshd.up]}" \
    -v p1="${rate[corveld.par]}" -v p2="${rate[sshd.par]}" -v n="$parallel" \
    'BEGIN { printf "corveld/sshd ratios: download %.2f  upload %.2f  %d parallel %.2f\n", d1/d2, u1/u2, n, p1/p2 }'
