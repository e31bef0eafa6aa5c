#!/usr/bin/env bash
# The unit that "corveld -i" writes, through a whole life under a real systemd: run as
# root inside the container of /work/shared/tools/systemd-container.sh with the source
# tree at /src (tests/integration/test_systemd_unit.py starts it). Both units (root,
# and an account on ports 21 and 80) must be rated OK by systemd-analyze security, and
# real clients (tests/systemd/client_flows.py) upload, download, list and use TLS in
# homes below /srv and /home without the system call filter ending the process.
#
#   usage: unit_lifecycle.sh [BUILD_DIR]   (relative to /src; default build)
#
# Prints one line per step; the first failed check ends it with status 1.
# The container's root file system is kept between runs, so this leaves nothing
# behind: no unit, no program directory, no homes, no group.
set -u

build=/src/${1:-build}
optprog=/opt/corvelftp
prog=$optprog
corveld=$prog/corveld
# The second life runs from below /usr, which ProtectSystem=full makes read-only.
usrprog=/usr/local/corvelftp
# Homes of the root service: one where nothing hides it, one below /home.
srvhome=/srv/ftp/alice
homehome=/home/bob/ftp
# A home added below /home after the account service was installed.
latehome=/home/dave
flows="python3 /src/tests/systemd/client_flows.py"
name=corvelftpservice
unit=/etc/systemd/system/$name.service
runtime=/run/corvelftp
listener=''

step() { echo "== $*"; }
fail() {
    echo "FAIL: $*"
    systemctl status "$name" --no-pager -n 20 2>&1 | sed 's/^/  | /'
    exit 1
}
# wait_for SECONDS COMMAND...: polls COMMAND ten times a second until it succeeds.
wait_for() {
    local tenths=$(($1 * 10))
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}
expect_output() { # what expected actual
    [ "$3" = "$2" ] || fail "$1: expected '$2', got '$3'"
}
expect_line() { # file-or-text-label text line
    grep -qxF -- "$3" <<<"$2" || fail "$1 lacks the line '$3'"
}
expect_no_key() { # label text key
    ! grep -q "^$3" <<<"$2" || fail "$1 has $3 but should not"
}

cleanup() {
    [ -n "$listener" ] && kill "$listener" 2>/dev/null
    systemctl stop "$name" 2>/dev/null
    systemctl disable "$name" 2>/dev/null
    rm -f "$unit"
    systemctl daemon-reload
    systemctl reset-failed "$name" 2>/dev/null
    rm -rf "$optprog" "$usrprog" "$runtime" /usr/local/corvelftp-probe /srv/ftp /home/bob "$latehome"
    getent group corvelftp >/dev/null && groupdel corvelftp
}
trap cleanup EXIT
cleanup 2>/dev/null # a run that was killed may have left its unit

write_settings() { # ftpport httpport [extra elements]
    printf '<config><listenip></listenip><ftpport>%d</ftpport><httpport>%d</httpport><maxconn>32</maxconn>' "$1" "$2" \
        >"$prog/ftpconfig.xml"
    printf '<pasvmode>yes</pasvmode><welcomemsg>systemd test</welcomemsg>%s</config>' "${3:-}" >>"$prog/ftpconfig.xml"
}
ftp_greeting() { # port: exits 0 when a 220 greeting arrives within 5 s
    python3 - "$1" <<'PY'
import socket, sys
try:
    with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) as s:
        sys.exit(0 if s.recv(512).startswith(b"220") else 1)
except OSError:
    sys.exit(1)
PY
}
main_pid() { systemctl show -p MainPID --value "$name"; }
status_field() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
journal_has() { journalctl -b -u "$name" --no-pager -q 2>/dev/null | grep -qF -- "$1"; }
port_listened() { ss -ltnH "sport = :$1" | grep -q .; }
stopped_state() { [ "$(systemctl is-active "$name")" != active ]; }
restarted() { # old-pid: a new main process serves
    local now
    now=$(main_pid)
    [ "$now" != 0 ] && [ "$now" != "$1" ] && [ "$(systemctl is-active "$name")" = active ]
}
# expect_score WHAT ARGUMENTS...: systemd-analyze security rates the unit OK or better
# (exposure below 5.0: OK, SAFE or PERFECT).
expect_score() {
    local what=$1 verdict
    shift
    verdict=$(systemd-analyze security "$@" 2>&1 | grep -F 'Overall exposure level')
    echo "  $what: ${verdict#*: }"
    grep -qE ': [0-9.]+ (OK|SAFE|PERFECT) ' <<<"$verdict" || fail "$what is not rated OK: ${verdict:-no rating}"
}
# The confinement every unit gets, whoever it runs as.
confinement=(PrivateDevices=yes PrivateMounts=yes ProtectProc=invisible ProtectKernelTunables=yes
    ProtectKernelModules=yes ProtectKernelLogs=yes ProtectControlGroups=yes ProtectClock=yes ProtectHostname=yes
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6" RestrictNamespaces=yes RestrictRealtime=yes
    RestrictSUIDSGID=yes LockPersonality=yes MemoryDenyWriteExecute=yes SystemCallArchitectures=native
    SystemCallFilter=@system-service NoNewPrivileges=yes ProtectSystem=full RestartSec=5s
    StartLimitIntervalSec=60 StartLimitBurst=5)

mkdir -p "$prog" "$srvhome" "$homehome" && cp "$build/corveld" "$corveld" || fail "cannot copy $build/corveld"
write_settings 2121 8081 '<tls>explicit</tls><sftpport>2222</sftpport>'
$flows users "alice:$srvhome" "bob:$homehome" >"$prog/ftpusers.xml" || fail "cannot write the accounts"

# ---- root service ----
step "install"
getent group corvelftp >/dev/null && fail "the group corvelftp is there before the install"
expect_output "corveld -i" "CorvelFtp Service installed." "$("$corveld" -i 2>&1)"
getent group corvelftp >/dev/null || fail "corveld -i did not create the group corvelftp"
[ "$(systemctl is-enabled "$name")" = enabled ] || fail "the unit is not enabled"
text=$(cat "$unit") || fail "no unit file at $unit"
for line in "Wants=network-online.target" "After=network-online.target" "Type=notify" "ExecStart=$corveld" \
    "Restart=on-failure" "Group=corvelftp" "UMask=0007" "LimitNOFILE=65536" "RuntimeDirectory=corvelftp" \
    "RuntimeDirectoryMode=2770" "RuntimeDirectoryPreserve=yes" "PrivateTmp=yes" "${confinement[@]}" \
    "CapabilityBoundingSet=CAP_NET_BIND_SERVICE CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_CHOWN CAP_FOWNER" \
    "WantedBy=multi-user.target"; do
    expect_line "the unit" "$text" "$line"
done
# bob's home lies below /home, which ProtectHome= would hide.
for key in User= AmbientCapabilities= ReadWritePaths= ProtectHome=; do expect_no_key "the root unit" "$text" "$key"; done
complaints=$(systemd-analyze verify "$unit" 2>&1 | grep -F "$name.service" | grep -v 'network-online')
[ -z "$complaints" ] || fail "systemd-analyze verify: $complaints"
expect_score "the root unit's file" --offline=yes "$unit"

step "start"
out=$(timeout 90 "$corveld" -s 2>&1)
[ "${out##*$'\n'}" = "CorvelFtp Service started." ] || fail "corveld -s said: $out"
systemctl status "$name" --no-pager >/tmp/status.txt 2>&1 || fail "systemctl status: $(cat /tmp/status.txt)"
grep -q "Active: active (running)" /tmp/status.txt || fail "systemctl status: $(cat /tmp/status.txt)"
wait_for 10 ftp_greeting 2121 || fail "no FTP greeting on port 2121"
pid=$(main_pid)
# LimitNOFILE= cannot go past what systemd itself may have (a container's own limit).
ceiling=$(awk '/^Max open files/ { print $5 }' /proc/1/limits)
want=$((ceiling < 65536 ? ceiling : 65536))
expect_output "the descriptor limit (soft hard)" "$want $want" "$(awk '/^Max open files/ { print $4, $5 }' "/proc/$pid/limits")"
[ "$(status_field "$pid" NoNewPrivs)" = 1 ] || fail "NoNewPrivs is not set"
# NET_BIND_SERVICE, DAC_OVERRIDE, DAC_READ_SEARCH, CHOWN, FOWNER and nothing else
expect_output "the root service's bounding set" 000000000000040f "$(status_field "$pid" CapBnd)"
expect_output "seccomp mode" 2 "$(status_field "$pid" Seccomp)"
nsenter -t "$pid" -m touch /usr/local/corvelftp-probe 2>/dev/null && fail "the service may write to /usr"
expect_score "the running root unit" "$name.service"

step "runtime directory and named objects"
expect_output "$runtime owner, group and mode" "root corvelftp 2770" "$(stat -c '%U %G %a' "$runtime" 2>&1)"
# PENDING until the named-object directory rule is merged: with CORVELFTP_RUNTIME_DIR
# unset the server then uses /run/corvelftp when it exists, with group-only modes. A
# binary from before that rule still makes its objects in /dev/shm, open to everyone;
# that case is reported and only their group is checked. Drop this branch once the
# rule is on every branch that runs this test.
objects=$runtime
shape='^corvelftp [0-7]*0$'
if [ ! -e "$runtime/CORVELFTP_STATUS" ] && [ -e /dev/shm/CORVELFTP_STATUS ] &&
    ! grep -qaF "$runtime" "$corveld"; then
    echo "PENDING: the named objects are still in /dev/shm (this corveld predates the /run/corvelftp rule)"
    objects=/dev/shm
    shape='^corvelftp [0-7]+$'
fi
for object in CORVELFTP_STATUS CORVELFTP_STATUSMutex CORVELFTP_PIPE CORVELFTP_BASICSVRSTOP_EVENT; do
    [ -e "$objects/$object" ] || fail "no $object in $objects: $(ls -l "$objects")"
    mode=$(stat -c '%G %a' "$objects/$object")
    [[ $mode =~ $shape ]] || fail "$object is '$mode', not group corvelftp with no access for others"
done

step "clients under the confinement"
$flows ftp 2121 alice "$srvhome" || fail "FTP as alice into $srvhome"
$flows ftp 2121 alice "$srvhome" tls || fail "FTP over TLS as alice into $srvhome"
$flows ftp 2121 bob "$homehome" || fail "FTP as bob into $homehome (below /home)"
$flows web 8081 bob "$homehome" || fail "web download as bob from $homehome"
for made in corveld-cert.pem corveld-key.pem; do [ -s "$prog/$made" ] || fail "the server did not make $prog/$made"; done
# A call outside the filter would have ended the process (SIGSYS) and systemd restarted it.
expect_output "main process after the clients" "$pid 0" "$(main_pid) $(systemctl show -p NRestarts --value "$name")"
journal_has "cannot be written by the service" && fail "a home was reported unusable: $(journalctl -b -u "$name" -n 5)"

step "SFTP under the confinement"
wait_for 10 port_listened 2222 || fail "nothing listens on the SFTP port 2222"
for key in corveld-sftp-ed25519.key corveld-sftp-rsa.key; do
    expect_output "$key owner and mode" "root 600" "$(stat -c '%U %a' "$prog/$key" 2>&1)"
done
echo "sftp through the unit" >"$srvhome/sftp.txt"
# curl speaks SFTP through libssh2; --insecure: the host key is new to it.
got=$(curl -sS --insecure --max-time 30 -u alice:pw-alice "sftp://127.0.0.1:2222/sftp.txt" 2>&1) ||
    fail "curl sftp:// download: $got"
expect_output "the SFTP download" "sftp through the unit" "$got"
printf 'uploaded by sftp' >/tmp/sftp-up.txt
curl -sS --insecure --max-time 30 -u alice:pw-alice -T /tmp/sftp-up.txt "sftp://127.0.0.1:2222/up.txt" ||
    fail "curl sftp:// upload"
expect_output "the SFTP upload" "uploaded by sftp" "$(cat "$srvhome/up.txt" 2>&1)"
rm -f "$srvhome/sftp.txt" "$srvhome/up.txt" /tmp/sftp-up.txt
wait_for 10 journal_has 'login succeeded: service=sftp address=127.0.0.1 user="alice"' ||
    fail "no SFTP login in the journal: $(journalctl -b -u "$name" --no-pager -n 20)"
expect_output "main process after the SFTP clients" "$pid 0" "$(main_pid) $(systemctl show -p NRestarts --value "$name")"

step "journal"
python3 - <<PY || fail "the failed login was not refused"
import ftplib
ftp = ftplib.FTP()
ftp.connect("127.0.0.1", 2121, timeout=20)
try:
    ftp.login("intruder-$$", "wrong")
    raise SystemExit(1)
except ftplib.error_perm:
    pass
PY
wait_for 10 journal_has "login failed: service=ftp address=127.0.0.1 user=\"intruder-$$\"" ||
    fail "no login failure in the journal: $(journalctl -b -u "$name" --no-pager -n 20)"

step "restart after kill -9"
kill -KILL "$pid"
wait_for 20 restarted "$pid" || fail "no new main process 20 s after kill -9: $(systemctl is-active "$name")"
wait_for 10 ftp_greeting 2121 || fail "no FTP greeting after the restart"

step "stop"
out=$(timeout 90 "$corveld" -e 2>&1)
[[ $out == "Stopping CorvelFtp Service."* ]] && [ "${out##*$'\n'}" = "CorvelFtp Service stopped." ] ||
    fail "corveld -e said: $out"
expect_output "state after the stop" inactive "$(systemctl is-active "$name")"
[ -d "$runtime" ] || fail "$runtime went away with the stop"

step "start-up failure"
# SO_REUSEADDR: the clients above left connections of port 2121 in TIME_WAIT.
python3 -c 'import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", 2121)); s.listen(1); time.sleep(120)' &
listener=$!
wait_for 5 port_listened 2121 || fail "the stand-in listener did not come up"
started=$SECONDS
out=$(timeout 90 "$corveld" -s 2>&1)
took=$((SECONDS - started))
expect_output "corveld -s with the port taken" \
    "CorvelFtp Service failed to start: cannot listen on FTP port 2121: Address already in use" "${out##*$'\n'}"
echo "  corveld -s told the failure after ${took} s"
[ "$took" -le 20 ] || fail "corveld -s took $took s to tell the failed start"
shown=$(systemctl show -p StatusText,Result "$name")
echo "$shown" | sed 's/^/  /'
expect_line "systemctl show" "$shown" \
    "StatusText=CorvelFtp Service failed to start: cannot listen on FTP port 2121: Address already in use"
expect_line "systemctl show" "$shown" "Result=exit-code"
systemctl status "$name" --no-pager >/tmp/status.txt 2>&1
grep -qE "Active: (failed|activating \(auto-restart\))" /tmp/status.txt || fail "systemctl status: $(cat /tmp/status.txt)"
# systemd tries again after RestartSec=; a stop ends that.
out=$(timeout 90 "$corveld" -e 2>&1)
[ "${out##*$'\n'}" = "CorvelFtp Service stopped." ] || fail "corveld -e after the failed start said: $out"
kill "$listener"
wait "$listener" 2>/dev/null
listener=''
systemctl reset-failed "$name"

step "remove"
out=$(timeout 90 "$corveld" -u 2>&1)
[ "${out##*$'\n'}" = "CorvelFtp Service removed." ] || fail "corveld -u said: $out"
[ ! -e "$unit" ] || fail "the unit file is still there"
systemctl cat "$name" >/dev/null 2>&1 && fail "systemd still knows the unit"
getent group corvelftp >/dev/null || fail "corveld -u removed the group corvelftp"

# ---- as an unprivileged account on ports 21 and 80, from below /usr ----
step "install as nobody below /usr"
mkdir -p "$usrprog" && mv "$corveld" "$usrprog/" || fail "cannot move corveld to $usrprog"
prog=$usrprog
corveld=$prog/corveld
write_settings 21 80
rm -f "$prog/ftpusers.xml"  # the default anonymous account, at home in $prog/anonymous
expect_output "corveld -i -l nobody" "CorvelFtp Service installed." "$("$corveld" -i -l nobody 2>&1)"
text=$(cat "$unit")
for line in "ExecStart=$corveld" "User=nobody" "Group=corvelftp" "AmbientCapabilities=CAP_NET_BIND_SERVICE" \
    "CapabilityBoundingSet=CAP_NET_BIND_SERVICE" "ReadWritePaths=-$prog" "ReadWritePaths=-$prog/anonymous" \
    "ProtectHome=yes" "PrivateTmp=yes" "${confinement[@]}"; do
    expect_line "the account unit" "$text" "$line"
done
expect_score "the account unit's file" --offline=yes "$unit"
# What an administrator does for an account: the program directory belongs to the group.
chgrp -R corvelftp "$prog" && chmod -R g+rwX,o-rwx "$prog" || fail "cannot hand $prog to the group"

step "start as nobody"
out=$(timeout 90 "$corveld" -s 2>&1)
[ "${out##*$'\n'}" = "CorvelFtp Service started." ] || fail "corveld -s (nobody) said: $out"
wait_for 10 ftp_greeting 21 || fail "no FTP greeting on port 21"
curl -s -o /dev/null -m 5 http://127.0.0.1:80/ || fail "no web answer on port 80"
pid=$(main_pid)
expect_output "the service's user and group" "nobody corvelftp" "$(ps -o user=,group= -p "$pid" | tr -s ' ')"
expect_output "effective capabilities" 0000000000000400 "$(status_field "$pid" CapEff)"
expect_output "bounding set" 0000000000000400 "$(status_field "$pid" CapBnd)"
expect_output "$runtime owner, group and mode" "nobody corvelftp 2770" "$(stat -c '%U %G %a' "$runtime")"
nsenter -t "$pid" -m touch "$prog/anonymous/probe" || fail "the service may not write to $prog/anonymous"
nsenter -t "$pid" -m touch /usr/local/corvelftp-probe 2>/dev/null && fail "the service may write beside $prog"
expect_score "the running account unit" "$name.service"

step "a home added below /home after the install"
mkdir -p "$latehome" && chown nobody "$latehome"
$flows users "dave:$latehome" >"$prog/ftpusers.xml" && chgrp corvelftp "$prog/ftpusers.xml" ||
    fail "cannot add the account dave"
systemctl restart "$name" || fail "the restart with dave failed"
wait_for 10 journal_has "The home directory $latehome of the account dave cannot be written by the service" ||
    fail "no warning about $latehome: $(journalctl -b -u "$name" --no-pager -n 5)"

step "remove as nobody"
out=$(timeout 90 "$corveld" -u 2>&1)
[ "${out##*$'\n'}" = "CorvelFtp Service removed." ] || fail "corveld -u (nobody) said: $out"
wait_for 10 stopped_state || fail "the service still runs after -u"
[ ! -e "$unit" ] || fail "the unit file is still there"
echo "ALL PASSED"
