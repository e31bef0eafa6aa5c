# Starts the peer FTP servers on loopback high ports for the benchmarks.
# Sourced by the bench scripts; each function prints the PID it started.

start_vsftpd() {  # port root_dir work_dir [cert_pem key_pem: FTPS]
  local port=$1 root=$2 work=$3 cert=${4:-} key=${5:-}
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
  if [ -n "$cert" ]; then
    # Explicit FTPS with vsftpd's defaults otherwise (require_ssl_reuse=YES among them);
    # anonymous sessions may use TLS only when allowed.
    cat >>"$work/vsftpd.conf" <<CONF
ssl_enable=YES
allow_anon_ssl=YES
rsa_cert_file=$cert
rsa_private_key_file=$key
ssl_ciphers=HIGH
CONF
  fi
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

start_corveld() {  # ftp_port web_port root_dir work_dir build_dir [extra config elements] [extra users]
  local port=$1 web=$2 root=$3 work=$4 build=$5 extra=${6:-} users=${7:-}
  mkdir -p "$work/corveld" "$work/corveld/run"
  cp "$build/corveld" "$work/corveld/corveld"
  # Every client of a benchmark is 127.0.0.1, and no peer limits one address: the
  # limits per address are off here.
  local unlimited="<maxprelogin>0</maxprelogin><webmaxperip>0</webmaxperip>"
  echo "<config><listenip>127.0.0.1</listenip><ftpport>$port</ftpport><httpport>$web</httpport><maxconn>100000</maxconn><pasvmode>yes</pasvmode><welcomemsg></welcomemsg>$unlimited$extra</config>" >"$work/corveld/ftpconfig.xml"
  echo "<users><user username=\"anonymous\" password=\"anonymous\" alias=\"anonymous\" privilege=\"458783\" work_dir=\"$root\" welcome_msg=\"\" disabled=\"no\" />$users</users>" >"$work/corveld/ftpusers.xml"
  CORVELFTP_RUNTIME_DIR="$work/corveld/run" "$work/corveld/corveld" /nontservice >"$work/corveld.log" 2>&1 &
  echo $!
}

# nginx serving root_dir as static files, with HTTPS when a certificate is given.
start_nginx() {  # port root_dir work_dir [cert_pem key_pem]
  local port=$1 root=$2 work=$3 cert=${4:-} key=${5:-} listen tls=""
  listen="127.0.0.1:$port"
  if [ -n "$cert" ]; then
    listen="$listen ssl"
    tls="ssl_certificate $cert; ssl_certificate_key $key;"
  fi
  mkdir -p "$work/nginx"
  cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  server { listen $listen; $tls root $root; }
}
CONF
  nginx -c "$work/nginx/nginx.conf" -g 'daemon off;' >"$work/nginx.log" 2>&1 &
  echo $!
}

# Pure-FTPd and ProFTPD conflict with vsftpd (and with each other) as Debian packages,
# so they are not installed: their packages, and the libraries ProFTPD needs that a
# plain system lacks, are downloaded once into dir and unpacked there (no system
# integration). Prints nothing; fails when the download fails.
unpacked_peer_packages=(pure-ftpd proftpd-core libhiredis0.14 libmemcached11 libmemcachedutil2 libhashkit2 libpcre2-posix3)
fetch_unpacked_peers() {  # dir
  local dir=$1 deb
  [ -x "$dir/tree/usr/sbin/pure-ftpd" ] && [ -x "$dir/tree/usr/sbin/proftpd" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir/debs" "$dir/tree"
  # As root apt hands the download to its sandbox user, who cannot write here.
  if ! (cd "$dir/debs" && apt-get -q -o APT::Sandbox::User=root download "${unpacked_peer_packages[@]}") >/dev/null; then
    local sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -q >/dev/null
    (cd "$dir/debs" && apt-get -q -o APT::Sandbox::User=root download "${unpacked_peer_packages[@]}") >/dev/null || return 1
  fi
  for deb in "$dir"/debs/*.deb; do dpkg -x "$deb" "$dir/tree"; done
}

# Says why an unpacked peer cannot run here (a library missing), or nothing.
unpacked_peer_problem() {  # dir binary
  local missing
  missing=$(LD_LIBRARY_PATH="$1/tree/usr/lib/x86_64-linux-gnu" ldd "$1/tree/usr/sbin/$2" 2>&1 | awk '/not found/{print $1}' | tr '\n' ' ')
  [ -z "$missing" ] || echo "$2 needs libraries this system lacks: $missing"
}

# Pure-FTPd serves anonymous sessions from the home of the system's ftp account only,
# so it gets one virtual account, bench/bench, rooted at root_dir (runs as nobody).
start_pureftpd() {  # port root_dir work_dir unpacked_dir
  local port=$1 root=$2 work=$3 dir=$4
  mkdir -p "$work/pureftpd"
  # A plain SHA-512 crypt: pure-pw's default (argon2id) makes every login cost seconds.
  echo "bench:$(openssl passwd -6 -salt benchsalt bench):65534:65534::$root/./::::::::::::" >"$work/pureftpd/passwd"
  "$dir/tree/usr/bin/pure-pw" mkdb "$work/pureftpd/passwd.pdb" -f "$work/pureftpd/passwd" >/dev/null
  "$dir/tree/usr/sbin/pure-ftpd" -S "127.0.0.1,$port" -l "puredb:$work/pureftpd/passwd.pdb" -E -H \
    -p 40000:49999 -c 1000 -C 1000 -g "$work/pureftpd/pid" >"$work/pureftpd.log" 2>&1 &
  echo $!
}

# ProFTPD's anonymous session runs as nobody, chrooted to root_dir.
start_proftpd() {  # port root_dir work_dir unpacked_dir
  local port=$1 root=$2 work=$3 dir=$4
  mkdir -p "$work/proftpd"
  cat >"$work/proftpd/proftpd.conf" <<CONF
ServerType standalone
ServerName "bench"
DefaultAddress 127.0.0.1
SocketBindTight on
Port $port
User nobody
Group nogroup
PidFile $work/proftpd/proftpd.pid
ScoreboardFile $work/proftpd/proftpd.scoreboard
DelayTable none
WtmpLog off
UseReverseDNS off
AuthPAM off
AuthOrder mod_auth_unix.c
UseFtpUsers off
MaxInstances none
MaxClients none
MaxClientsPerHost none
PassivePorts 40000 49999
UseSendfile on
TransferLog none
Umask 022
<Anonymous $root>
  User nobody
  Group nogroup
  UserAlias anonymous nobody
  RequireValidShell off
  AnonRequirePassword off
  <Limit WRITE>
    AllowAll
  </Limit>
</Anonymous>
CONF
  LD_LIBRARY_PATH="$dir/tree/usr/lib/x86_64-linux-gnu" "$dir/tree/usr/sbin/proftpd" -n -q \
    -c "$work/proftpd/proftpd.conf" >"$work/proftpd.log" 2>&1 &
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
