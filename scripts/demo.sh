#!/bin/sh
# make demo: a scripted session of the command-line client against the simulator's sample plant
# and the OPC server, then everything ends in order. Every step runs even when one fails; the
# exit code says whether all did what they should.
set -u
. "$(dirname "$0")/opc-session.sh"

failed=""
# step TITLE EXPECTED-EXIT-CODE ARGS...; step32 runs the 32-bit client instead.
step() {
    run_step client "$@"
}
step32() {
    run_step client32 "$@"
}
run_step() {
    how=$1 title=$2 expected=$3
    shift 3
    printf '\n== %s\n$ %skorvex-opc %s\n' "$title" "$([ "$how" = client32 ] && echo 'i686/')" "$*"
    "$how" "$@"
    rc=$?
    if [ "$rc" -ne "$expected" ]; then
        printf '!! exit code %s, expected %s\n' "$rc" "$expected"
        failed="$failed [$title]"
    fi
}

trap 'stop_session; exit 130' INT TERM
echo "Starting the SCADA runtime simulator (sample plant: plant/sample-plant.toml) and the OPC server..."
if ! start_session; then
    abort_session
    exit 1
fi

step "The server's status" 0 status
step "The points of one station" 0 browse NorthSubstation --flat
step "A read from the device: two analog points and a breaker" 0 \
    read NorthSubstation.analog.Setpoint NorthSubstation.analog.BusbarVoltage NorthSubstation.switch.Breaker1
step "A write: the server sends it to the runtime, which applies it" 0 \
    write NorthSubstation.analog.Setpoint=62.5 NorthSubstation.switch.Breaker1=off
step "The next read shows the written values" 0 read NorthSubstation.analog.Setpoint NorthSubstation.switch.Breaker1
step "A refused read: the server's own error text for an unknown item" 1 read NorthSubstation.analog.Nothing
step "Ten seconds of live data changes (the simulator moves the values)" 0 \
    watch NorthSubstation.analog.BusbarVoltage NorthSubstation.analog.FeederCurrent NorthSubstation.switch.Breaker2 \
    --duration 10
step "The same as JSON, one object per line" 0 --json read NorthSubstation.analog.FeederCurrent
step32 "A 32-bit client (the i686 build under WoW64) reads the same points through the 32-bit proxy" 0 \
    read NorthSubstation.analog.Setpoint NorthSubstation.switch.Breaker1
step32 "... and watches them, the callbacks crossing from the 64-bit server" 0 \
    watch NorthSubstation.analog.BusbarVoltage NorthSubstation.analog.FeederCurrent --duration 5

printf '\nEnding the session: the last client leaves, the server ends by itself, the simulator is told to quit.\n'
trap - INT TERM
stop_session
if [ -n "$failed" ]; then
    printf '\nSteps that did not do what they should:%s\n' "$failed"
    exit 1
fi
printf '\nDemo done.\n'
