# The runtime simulator with the sample plant and the OPC server under Wine, for make demo and
# make run (sourced by both). The server ends when its last client leaves, so a background
# `korvex-opc watch` (the anchor) stays connected while the session is up; the commands of the
# session are other clients beside it.
#
# Background programs run in a session of their own (setsid): a Ctrl-C reaches only the script,
# which then ends them in order.

repo=$(cd "$(dirname "$0")/.." && pwd)
export KORVEX_WINEPREFIX="${KORVEX_WINEPREFIX:-$repo/build/wineprefix}"
# env.sh looks for the repository from its caller's path; the prefix is given, so that does not matter.
. "$repo/tests/wine/env.sh" 2>/dev/null
bin="$repo/build/x86_64/bin"
logs="$repo/build/session"
mkdir -p "$logs"

simulator_pid="" server_pid="" anchor_pid=""

# The command line a user types for the client.
client_command="WINEPREFIX=$WINEPREFIX WINEDEBUG=-all wine $bin/korvex-opc.exe"

client() {
    (cd "$bin" && timeout 60 wine korvex-opc.exe "$@")
}

# Waits up to $2 seconds for the file $1 to hold the line $3 (Windows programs end lines with CR LF).
wait_for_line() {
    i=0
    while [ "$i" -lt "$(($2 * 10))" ]; do
        tr -d '\r' 2>/dev/null <"$1" | grep -qx "$3" && return 0
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}

start_session() {
    "$repo/tests/wine/server.sh" start
    (cd "$bin" && timeout 60 wine regsvr32 /s korvexps.dll) || { echo "registering korvexps.dll failed" >&2; return 1; }

    (cd "$bin" && exec setsid wine scadasim.exe --registry) >"$logs/scadasim.log" 2>&1 &
    simulator_pid=$!
    wait_for_line "$logs/scadasim.log" 30 ready || { echo "the simulator did not start:" >&2; cat "$logs/scadasim.log" >&2; return 1; }

    # The server registers itself when it starts: drop an old registration (another build's path)
    # and wait for the new one, written once its class object is up.
    timeout 30 wine reg delete 'HKCR\Korvex.OPCServer.2' /f >/dev/null 2>&1
    (cd "$bin" && exec setsid wine KorvexOPCServer.exe) >"$logs/server.log" 2>&1 &
    server_pid=$!
    i=0
    until timeout 30 wine reg query 'HKCR\Korvex.OPCServer.2\CLSID' >/dev/null 2>&1; do
        i=$((i + 1))
        [ "$i" -lt 240 ] || { echo "the server did not register itself" >&2; return 1; }
        sleep 0.5
    done

    (cd "$bin" && exec setsid wine korvex-opc.exe watch NorthSubstation.analog.Setpoint --rate 600000) \
        >"$logs/anchor.log" 2>&1 &
    anchor_pid=$!
    i=0
    until [ -s "$logs/anchor.log" ]; do
        i=$((i + 1))
        [ "$i" -lt 200 ] || { echo "the anchor client did not connect" >&2; return 1; }
        sleep 0.1
    done
    kill -0 "$anchor_pid" 2>/dev/null || { echo "the anchor client ended:" >&2; cat "$logs/anchor.log" >&2; return 1; }
}

# Ctrl-C for the anchor (it lets go of the server, which then ends by itself), then for the
# simulator (its Ctrl-C handler quits as its quit command does), and the wineserver last.
stop_session() {
    if [ -n "$anchor_pid" ]; then
        kill -INT "$anchor_pid" 2>/dev/null
        wait "$anchor_pid" 2>/dev/null
        anchor_pid=""
    fi
    if [ -n "$server_pid" ]; then
        i=0
        while kill -0 "$server_pid" 2>/dev/null && [ "$i" -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
        if kill -0 "$server_pid" 2>/dev/null; then
            echo "the server did not end by itself; ending it" >&2
            kill "$server_pid" 2>/dev/null
        fi
        wait "$server_pid" 2>/dev/null
        server_pid=""
    fi
    if [ -n "$simulator_pid" ]; then
        kill -INT "$simulator_pid" 2>/dev/null
        i=0
        while kill -0 "$simulator_pid" 2>/dev/null && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        if kill -0 "$simulator_pid" 2>/dev/null; then
            echo "the simulator did not quit; ending it" >&2
            kill "$simulator_pid" 2>/dev/null
        fi
        wait "$simulator_pid" 2>/dev/null
        simulator_pid=""
    fi
    "$repo/tests/wine/server.sh" stop
}
