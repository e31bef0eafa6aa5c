#!/bin/sh
# A stand-in for systemctl in tests. It keeps one unit's state in $FAKE_SYSTEMCTL_DIR:
#   log            every call's arguments, one call per line (written here)
#   state          the unit's ActiveState (inactive when missing)
#   substate       its SubState when it is not the usual one of the state
#   invocation     its InvocationID, counted up at each start
#   enabled        present while the unit is enabled
# and obeys what a test puts there:
#   manager        "offline": is-system-running answers offline, as without systemd
#   refuse_VERB    VERB fails with this file's text on standard error, status 1
#   queued_polls N a start or stop job waits in the queue for N state queries (Job= set,
#                  the state unchanged) before it begins
#   start_polls N  state queries answer "activating" N times after a start begins
#   stop_polls N   state queries answer "deactivating" N times after a stop begins
#   start_result   the state a start ends in: active (when missing), failed, or
#                  auto-restart (activating, waiting to be started again)
#   status_text    the StatusText= shown
#   main_end       "CODE STATUS" of the main process: ExecMainCode= and ExecMainStatus=
dir="${FAKE_SYSTEMCTL_DIR:?FAKE_SYSTEMCTL_DIR is not set}"
echo "$*" >> "$dir/log"
verb="$1"
[ -f "$dir/refuse_$verb" ] && { cat "$dir/refuse_$verb" >&2; exit 1; }

state() { cat "$dir/state" 2>/dev/null || echo inactive; }
setting() { cat "$dir/$1" 2>/dev/null || echo "$2"; }

# Settles the unit in a state; "auto-restart" is activating with that substate.
settle() {
    rm -f "$dir/substate"
    if [ "$1" = auto-restart ]; then
        echo activating > "$dir/state"; echo auto-restart > "$dir/substate"
    else
        echo "$1" > "$dir/state"
    fi
}

# Enters a transitional state for N polls (or settles at once when N is 0).
transition() { # transitional final polls
    rm -f "$dir/substate"
    if [ "$3" -gt 0 ]; then
        echo "$1" > "$dir/state"; echo "$2" > "$dir/final"; echo "$3" > "$dir/remaining"
    else
        settle "$2"
    fi
}

begin() { # start|stop
    if [ "$1" = start ]; then
        echo $(( $(setting invocation 0) + 1 )) > "$dir/invocation"
        transition activating "$(setting start_result active)" "$(setting start_polls 0)"
    else
        case "$(state)" in
            active|activating|reloading) transition deactivating inactive "$(setting stop_polls 0)" ;;
            *) settle inactive ;;
        esac
    fi
}

request() { # start|stop
    queued=$(setting queued_polls 0)
    if [ "$queued" -gt 0 ]; then
        echo "$1" > "$dir/queued_job"; echo "$queued" > "$dir/queued_left"
    else
        begin "$1"
    fi
}

# One state query: a queued job or a transition moves on by one step.
advance() {
    if [ -f "$dir/queued_job" ]; then
        left=$(( $(cat "$dir/queued_left") - 1 ))
        echo "$left" > "$dir/queued_left"
        if [ "$left" -le 0 ]; then job=$(cat "$dir/queued_job"); rm -f "$dir/queued_job"; begin "$job"; fi
        return
    fi
    case "$(state)" in
        activating|deactivating)
            [ -f "$dir/remaining" ] || return
            left=$(( $(cat "$dir/remaining") - 1 ))
            echo "$left" > "$dir/remaining"
            [ "$left" -le 0 ] && { rm -f "$dir/remaining"; settle "$(cat "$dir/final")"; } ;;
    esac
}

case "$verb" in
    is-system-running)
        if [ "$(setting manager running)" = offline ]; then echo offline; exit 1; fi
        echo running ;;
    daemon-reload) ;;
    enable) touch "$dir/enabled" ;;
    disable) rm -f "$dir/enabled" ;;
    start|stop) request "$verb" ;;
    reset-failed) [ "$(state)" = failed ] && settle inactive ;;
    show)
        current="$(state)"
        case "$current" in
            active) sub=running ;; activating) sub=start ;; deactivating) sub=stop-sigterm ;;
            failed) sub=failed ;; *) sub=dead ;;
        esac
        sub=$(setting substate "$sub")
        job=""
        [ -f "$dir/queued_job" ] && job=7
        set -- $(setting main_end "0 0")
        printf 'ActiveState=%s\nSubState=%s\nInvocationID=%s\nJob=%s\nStatusText=%s\nExecMainCode=%s\nExecMainStatus=%s\n' \
            "$current" "$sub" "$(setting invocation '')" "$job" "$(setting status_text '')" "$1" "$2"
        advance ;;
    *) echo "Unknown command verb $verb." >&2; exit 1 ;;
esac
exit 0
