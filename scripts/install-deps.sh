#!/usr/bin/env bash
# Installs what building, running or testing CorvelFtp needs on Debian, and nothing
# that is already there. Usage: scripts/install-deps.sh [run|test|bench]
set -euo pipefail
purpose=${1:-run}

packages=(g++ cmake make pkg-config libtinyxml-dev libsystemd-dev libssl-dev libdeflate-dev libargon2-dev libssh-dev qt6-base-dev)
case "$purpose" in
  run) ;;
  test) packages+=(libgtest-dev python3 curl lftp wget procps xvfb xauth chromium clang libclang-rt-14-dev fail2ban haproxy rclone logrotate openssh-client sshpass python3-paramiko) ;;
  bench) packages+=(python3 curl lftp wget procps bc vsftpd python3-pyftpdlib nginx-light openssh-client openssh-server) ;;
  *) echo "usage: $0 [run|test|bench]" >&2; exit 2 ;;
esac

# The browser test runs under Node.js; a machine that already has node and npm (from
# any source) keeps them, since Debian's npm conflicts with other Node.js builds.
if [ "$purpose" = test ] && ! { command -v node && command -v npm; } >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
