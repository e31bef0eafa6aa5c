#!/bin/sh
# A stand-in for systemctl in tests. It keeps one unit's state in $FAKE_SYSTEMCTL_DIR:
#   log            every call's arguments, one call per line (written here)
#   state          the unit's ActiveState (inactive when missing)
#   enabled        present while the unit is enabled
# and obeys what a test puts there:
#   manager        "offline": is-system-running answers offline, as without systemd
#   refuse_VERB    VERB fails with this file's text on standard error, status 1
#   start_polls N  is-active answers "activating" N times after a start
#   stop_polls N   is-active answers "deactivating" N times after a stop
#   start_result   the state a start ends in (active when missing)
dir="${FAKE_SYSTEMCTL_DIR:?FAKE_SYSTEMCTL_DIR is not set}"
echo "$*" >> "$dir/log"
verb="$1"
[ -f "$dir/refuse_$verb" ] && { cat "$dir/refuse_$verb" >&2; exit 1; }

state() { cat "$dir/state" 2>/dev/null || echo inactive; }
setting() { cat "$dir/$1" 2>/dev/null || echo "$2"; }

# Enters a transitional state for N polls (or settles at once when N is 0).
transition() { # transitional final polls
    if [ "$3" -gt 0 ]; then
        echo "$1" > "$dir/state"; echo "$2" > "$dir/final"; echo "$3" > "$dir/remaining"
    else
        echo "$2" > "$dir/state"
    fi
}

case "$verb" in
    is-system-running)
        if [ "$(setting manager running)" = offline ]; then echo offline; exit 1; fi
        echo running ;;
    daemon-reload) ;;
    enable) touch "$dir/enabled" ;;
    disable) rm -f "$dir/enabled" ;;
    start) transition activating "$(setting start_result active)" "$(setting start_polls 0)" ;;
    stop)
        case "$(state)" in
            active|activating|reloading) transition deactivating inactive "$(setting stop_polls 0)" ;;
            *) echo inactive > "$dir/state" ;;
        esac ;;
    is-active)
        current="$(state)"
        echo "$current"
        case "$current" in
            activating|deactivating)
                left=$(( $(cat "$dir/remaining") - 1 ))
                echo "$left" > "$dir/remaining"
                [ "$left" -le 0 ] && cp "$dir/final" "$dir/state" ;;
        esac
        [ "$current" = active ] ;;
    show) echo "Job=" ;;
    *) echo "Unknown command verb $verb." >&2; exit 1 ;;
esac
