# Starts the peer FTP servers on loopback high ports for the benchmarks.
# Sourced by the bench scripts; each function prints the PID it started.

start_vsftpd() {  # port root_dir work_dir
  local port=$1 root=$2 work=$3
  mkdir -p /var/run/vsftpd/empty
  cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
anon_root=$root
no_anon_password=YES
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=40000
pasv_max_port=49999
seccomp_sandbox=NO
max_clients=0
max_per_ip=0
xferlog_enable=NO
use_sendfile=YES
secure_chroot_dir=/var/run/vsftpd/empty
CONF
  # vsftpd refuses an anonymous root that is writable by its ftp user; it runs as root here.
  chmod 755 "$root"
  vsftpd "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
  echo $!
}

start_pyftpdlib() {  # port root_dir work_dir
  local port=$1 root=$2 work=$3
  /usr/bin/python3 - "$port" "$root" >"$work/pyftpdlib.log" 2>&1 <<'PY' &
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
port, root = int(sys.argv[1]), sys.argv[2]
auth = DummyAuthorizer()
auth.add_anonymous(root, perm="elradfmwMT")
FTPHandler.authorizer = auth
FTPHandler.use_sendfile = True
server = FTPServer(("127.0.0.1", port), FTPHandler)
server.max_cons = 0
server.serve_forever()
PY
  echo $!
}

start_corveld() {  # ftp_port web_port root_dir work_dir build_dir
  local port=$1 web=$2 root=$3 work=$4 build=$5
  mkdir -p "$work/corveld" "$work/corveld/run"
  cp "$build/corveld" "$work/corveld/corveld"
  echo "<config><listenip>127.0.0.1</listenip><ftpport>$port</ftpport><httpport>$web</httpport><maxconn>100000</maxconn><pasvmode>yes</pasvmode><welcomemsg></welcomemsg></config>" >"$work/corveld/ftpconfig.xml"
  echo "<users><user username=\"anonymous\" password=\"anonymous\" alias=\"anonymous\" privilege=\"458783\" work_dir=\"$root\" welcome_msg=\"\" disabled=\"no\" /></users>" >"$work/corveld/ftpusers.xml"
  CORVELFTP_RUNTIME_DIR="$work/corveld/run" "$work/corveld/corveld" /nontservice >"$work/corveld.log" 2>&1 &
  echo $!
}

# Runs curl and fails, naming the request, unless it succeeded and moved at least
# min_bytes (downloaded plus uploaded, summed over its transfers): a refused or
# cut-short transfer is fast for the wrong reason and must not become a figure.
curl_checked() {  # min_bytes curl-args...
  local least=$1 moved
  shift
  moved=$(curl -sSf -w '%{size_download} %{size_upload}\n' "$@" | awk '{ total += $1 + $2 } END { print total + 0 }') || {
    echo "bench: curl failed: $*" >&2
    return 1
  }
  if [ "$moved" -lt "$least" ]; then
    echo "bench: $moved of $least bytes moved: $*" >&2
    return 1
  fi
}

wait_port() {  # port
  local port=$1
  for _ in $(seq 1 100); do
    (echo >/dev/tcp/127.0.0.1/"$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "port $port never opened" >&2
  return 1
}

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
