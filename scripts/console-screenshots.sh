#!/usr/bin/env bash
# Pictures the console under Xvfb in three states: a running server, a server with
# one FTP connection, and a stopped server -> docs/console-{running,connection,stopped}.png.
# The console saves its own window on every tick (CORVELPANEL_SCREENSHOT) and says
# what it shows (CORVELPANEL_STATUS_DUMP); this script waits for each state, then
# keeps that tick's picture. Usage: scripts/console-screenshots.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

if [ -z "${CORVEL_SCREENSHOTS_UNDER_XVFB:-}" ]; then
  CORVEL_SCREENSHOTS_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

work=$(mktemp -d /tmp/corvel-shots-XXXXXX)
console_pid="" client_pid="" server_pid=""
cleanup() {
  for pid in $client_pid $console_pid $server_pid; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/run" "$work/units"
cp "$build/corvelpanel" "$build/corveld" "$work/"
printf '#!/bin/sh\necho inactive\nexit 3\n' > "$work/systemctl" && chmod +x "$work/systemctl"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
web=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/ftpconfig.xml" <<XML
<config><listenip></listenip><ftpport>$port</ftpport><httpport>$web</httpport><maxconn>32</maxconn><pasvmode>yes</pasvmode><welcomemsg>Welcome to my ftp server</welcomemsg></config>
XML

# Waits (at most 10 s) until the dump holds the given line, then keeps that tick's picture.
shoot() {
  local line=$1 target=$2
  for _ in $(seq 100); do
    if grep -qxF -- "$line" "$work/status.txt" 2>/dev/null; then
      sleep 0.3  # one more tick, so the saved picture has settled too
      cp "$work/shot.png" "$root/docs/$target"
      echo "wrote docs/$target"
      return 0
    fi
    sleep 0.1
  done
  echo "timed out waiting for: $line" >&2
  return 1
}

cd "$work"
CORVELFTP_RUNTIME_DIR="$work/run" CORVELFTP_UNIT_DIR="$work/units" CORVELFTP_SYSTEMCTL="$work/systemctl" \
  CORVELPANEL_STATUS_DUMP="$work/status.txt" CORVELPANEL_SCREENSHOT="$work/shot.png" \
  ./corvelpanel >/dev/null 2>&1 &
console_pid=$!
mkdir -p "$root/docs"

shoot "  CURRENT CONN: 0" console-running.png
server_pid=$(sed -n 's/^serverpid=//p' "$work/status.txt")

python3 -c "import socket,time,sys; s=socket.create_connection(('127.0.0.1',int(sys.argv[1]))); s.recv(1024); time.sleep(30)" "$port" &
client_pid=$!
shoot "  CURRENT CONN: 1" console-connection.png
kill "$client_pid"; client_pid=""

kill -TERM "$server_pid"
shoot "CorvelFtp Service is stoped." console-stopped.png

kill -TERM "$console_pid"
wait "$console_pid" || true
console_pid=""
