# The runtime simulator with the sample plant and the OPC server under Wine, for make demo and
# make run (sourced by both). The server ends when its last client leaves, so a background
# `korvex-opc watch` (the anchor) stays connected while the session is up; the commands of the
# session are other clients beside it.
#
# Background programs run in a session of their own (setsid): a Ctrl-C reaches only the script,
# which then ends them in order. Every wait is bounded: a session that cannot start says what it
# saw and leaves nothing running.

repo=${repo:-$(cd "$(dirname "$0")/.." && pwd)}
export KORVEX_WINEPREFIX="${KORVEX_WINEPREFIX:-$repo/build/wineprefix}"
korvex_root=$repo
. "$repo/tests/wine/env.sh"
bin="$repo/build/x86_64/bin"
bin32="$repo/build/i686/bin"
logs="${KORVEX_SESSION_LOGS:-$repo/build/session}"
mkdir -p "$logs"

simulator_pid="" server_pid="" anchor_pid=""

# The command line a user types for the client.
client_command="WINEPREFIX=$WINEPREFIX WINEDEBUG=-all wine $bin/korvex-opc.exe"

client() {
    (cd "$bin" && timeout 60 wine korvex-opc.exe "$@")
}

# The 32-bit client, under WoW64.
client32() {
    (cd "$bin32" && timeout 60 wine korvex-opc.exe "$@")
}

# A child of this script that has ended but was not waited for yet still answers kill -0.
alive() {
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

# Waits up to $2 seconds for process $1 to end; 0 if it did.
wait_for_end() {
    i=0
    while alive "$1"; do
        [ "$i" -lt "$(($2 * 10))" ] || return 1
        sleep 0.1
        i=$((i + 1))
    done
    wait "$1" 2>/dev/null
    return 0
}

# What a person needs to see when the session could not start: the logs (the server writes the
# text of any message box it shows to its log) and the programs still running.
show_diagnostics() {
    for log in scadasim server anchor; do
        printf '%s\n' "--- $log.log:" >&2
        tr -d '\r' <"$logs/$log.log" >&2 2>/dev/null
    done
    printf '%s\n' "--- Wine programs running in $WINEPREFIX:" >&2
    wine_programs_of_prefix >&2
}

# Wine programs (the wineserver included) whose environment names this session's prefix: processes
# whose executable is one of Wine's. A script's own commands (a grep for "KorvexOPCServer.exe" among
# them) carry the prefix in their environment too, and must not count.
wine_programs_of_prefix() {
    for environ in $(grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
        pid_dir=${environ%/environ}
        case $(readlink "$pid_dir/exe" 2>/dev/null) in */wine*) ;; *) continue ;; esac
        { tr '\0' ' ' <"$pid_dir/cmdline"; } 2>/dev/null | sed "s|^|${pid_dir#/proc/}: |"
        echo
    done
}

start_failed() {
    echo "$1" >&2
    show_diagnostics
    return 1
}

start_session() {
    : >"$logs/scadasim.log"
    : >"$logs/server.log"
    : >"$logs/anchor.log"
    "$repo/tests/wine/server.sh" start
    # Each proxy/stub with the regsvr32 of its architecture, as on Windows.
    (cd "$bin" && timeout 60 wine regsvr32 /s korvexps.dll) || { start_failed "registering korvexps.dll failed"; return 1; }
    if [ -f "$bin32/korvexps.dll" ]; then
        (cd "$bin32" && timeout 60 wine 'C:\windows\syswow64\regsvr32.exe' /s korvexps.dll) ||
            { start_failed "registering the 32-bit korvexps.dll failed"; return 1; }
    fi

    # shellcheck disable=SC2086
    (cd "$bin" && exec setsid wine scadasim.exe --registry ${KORVEX_SIMULATOR_ARGS:-}) >"$logs/scadasim.log" 2>&1 &
    simulator_pid=$!
    i=0
    until tr -d '\r' <"$logs/scadasim.log" | grep -qx ready; do
        alive "$simulator_pid" || { start_failed "the simulator ended at start"; return 1; }
        i=$((i + 1))
        [ "$i" -lt 600 ] || { start_failed "the simulator did not start within 60 s"; return 1; }
        sleep 0.1
    done

    # The server registers itself when it starts: drop an old registration (another build's path)
    # and wait for the new one, written once its class object is up.
    timeout 30 wine reg delete 'HKCR\Korvex.OPCServer.2' /f >/dev/null 2>&1
    (cd "$bin" && exec setsid wine KorvexOPCServer.exe) >"$logs/server.log" 2>&1 &
    server_pid=$!
    i=0
    until timeout 30 wine reg query 'HKCR\Korvex.OPCServer.2\CLSID' >/dev/null 2>&1; do
        alive "$server_pid" || { start_failed "the server ended at start"; return 1; }
        i=$((i + 1))
        [ "$i" -lt 120 ] || { start_failed "the server did not register itself within 60 s"; return 1; }
        sleep 0.5
    done

    # The anchor keeps the server up. It connects alone: under Wine two clients activating a server
    # that is still starting can make one of them fail. A watch prints its item's value once its
    # group is active, so its first line says it is connected; then the server must also answer
    # for its own status.
    (cd "$bin" && exec setsid wine korvex-opc.exe watch "${KORVEX_ANCHOR_ITEM:-NorthSubstation.analog.Setpoint}" --rate 600000) \
        >"$logs/anchor.log" 2>&1 &
    anchor_pid=$!
    i=0
    until [ -s "$logs/anchor.log" ]; do
        alive "$anchor_pid" || { start_failed "the anchor client ended"; return 1; }
        alive "$server_pid" || { start_failed "the server ended"; return 1; }
        i=$((i + 1))
        [ "$i" -lt 300 ] || { start_failed "the anchor client received no data within 30 s"; return 1; }
        sleep 0.1
    done
    alive "$anchor_pid" || { start_failed "the anchor client ended"; return 1; }
    client status >/dev/null 2>&1 || { start_failed "the server did not report itself running"; return 1; }
}

# Ctrl-C for the anchor (it lets go of the server, which then ends by itself), then for the
# simulator (its Ctrl-C handler quits as its quit command does), and the wineserver last. Whatever
# does not end in time is ended, and stopping the wineserver ends every Wine program of the prefix.
stop_session() {
    if [ -n "$anchor_pid" ]; then
        kill -INT "$anchor_pid" 2>/dev/null
        wait_for_end "$anchor_pid" 5 || { echo "the anchor client did not end; ending it" >&2; kill -KILL "$anchor_pid" 2>/dev/null; }
        anchor_pid=""
    fi
    if [ -n "$server_pid" ]; then
        wait_for_end "$server_pid" 20 || { echo "the server did not end by itself; ending it" >&2; kill -KILL "$server_pid" 2>/dev/null; }
        server_pid=""
    fi
    if [ -n "$simulator_pid" ]; then
        kill -INT "$simulator_pid" 2>/dev/null
        wait_for_end "$simulator_pid" 10 || { echo "the simulator did not quit; ending it" >&2; kill -KILL "$simulator_pid" 2>/dev/null; }
        simulator_pid=""
    fi
    "$repo/tests/wine/server.sh" stop
}

# After a failed start: nothing is waited for politely.
abort_session() {
    [ -z "$anchor_pid" ] || kill -KILL "$anchor_pid" 2>/dev/null
    anchor_pid="" server_pid="" simulator_pid=""
    "$repo/tests/wine/server.sh" stop
}
