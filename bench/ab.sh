#!/usr/bin/env bash
# Two builds (or a build and a peer) side by side, in turns.
# Usage: bench/ab.sh OLD NEW [WORKLOADS]
#   OLD, NEW   a corveld binary (path), or a peer of the shared harness by name
#              (vsftpd, pureftpd, pyftpdlib, proftpd, nginx)
#   WORKLOADS  the shared harness's workloads, default "W1 W2 W3 W4 W5 W6 W7"
# Each round runs both contenders in turn (ABBA): the harness's workloads, then a
# download of the 1 GiB file with curl, wget, lftp and Python (ftplib; http.client)
# over FTP and HTTP, and with W2 an upload with curl, lftp and ftplib, each with the
# server's CPU seconds per GiB. With W3 and W6 it also measures, on a server of its
# own, the server's CPU per 100 sequential sessions and per 200-client burst. It
# prints each figure's median and range over the rounds, and "faster"/"slower"
# ("less CPU"/"more CPU") only where the ranges do not overlap.
# Env: ROUNDS (default and least 4), RUNS per client and round (3), QUICK=1 (the
# harness's small sizes), CLIENTS (default "curl wget lftp python"), BENCH_HARNESS
# (default ../shared/bench beside the repository). Runs as root, loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; fi
if [ "$(id -u)" != 0 ]; then echo "bench/ab.sh: must run as root (the servers switch users)" >&2; exit 2; fi
harness=${BENCH_HARNESS:-$(cd .. && pwd)/shared/bench}
[ -x "$harness/run.sh" ] || { echo "bench/ab.sh: no harness at $harness (set BENCH_HARNESS)" >&2; exit 2; }
for tool in curl wget lftp; do
  command -v "$tool" >/dev/null || { echo "bench/ab.sh: $tool is missing (scripts/install-deps.sh bench)" >&2; exit 2; }
done
"$harness/setup.sh"  # the peers, the bench account
BENCH_HARNESS=$harness exec /usr/bin/python3 bench/ab.py "$@"
