#!/bin/sh
# make soak: clients that connect, subscribe, read, write and leave again and again for a chosen
# time (SOAK_SECONDS, SOAK_CLIENTS, SOAK_ITEMS), against the simulator with a generated plant and
# the server. Beside them korvex-hostile calls every method with boundary and random arguments for
# the same time (SOAK_HOSTILE=0 leaves it out). Prints the server's memory and thread count every
# few seconds; fails when a client call failed, the hostile client found a fault, or the memory
# grew by more than 10% after the first quarter (the warm-up).
set -u
seconds=${SOAK_SECONDS:-120} clients=${SOAK_CLIENTS:-10} items=${SOAK_ITEMS:-1000}
repo=$(cd "$(dirname "$0")/.." && pwd)
work="$repo/build/soak"
mkdir -p "$work"

# 10 stations of 100 writable analog points that move.
plant="$work/plant.toml"
python3 - "$plant" <<'PLANT'
import sys
with open(sys.argv[1], "w") as f:
    for s in range(10):
        f.write(f'[[station]]\nname = "Soak{s:02}"\ntransfer = false\n\n')
        for p in range(100):
            f.write(f'  [[station.analog]]\n  name = "P{p:03}"\n  writable = true\n  high_limit = 1000.0\n'
                    f'  low_limit = 0.0\n  value = 1.0\n  signal = {{ kind = "random_walk", period = 1.0, amplitude = 5.0 }}\n\n')
PLANT

export KORVEX_ANCHOR_ITEM=Soak00.analog.P000
. "$repo/scripts/opc-session.sh"
KORVEX_SIMULATOR_ARGS="--plant=$(winepath -w "$plant" 2>/dev/null)"
export KORVEX_SIMULATOR_ARGS

trap 'abort_session; exit 130' INT TERM
echo "Starting the simulator (plant: 1,000 points) and the server..."
start_session || { abort_session; exit 1; }

for s in 0 1 2 3 4 5 6 7 8 9; do
    for p in $(seq 0 99); do printf 'Soak0%s.analog.P%03d\n' "$s" "$p"; done
done >"$work/items.txt"
echo "$clients clients for $seconds s, each cycling: connect, add a group of $items items, subscribe, read, write 20, remove, disconnect"
(cd "$bin" && exec timeout $((seconds + 120)) wine korvex-soak.exe "$seconds" "$clients" "$items" "$(winepath -w "$work/items.txt")") \
    >"$logs/soak.log" 2>&1 &
soak_pid=$!
hostile_pid=""
if [ "${SOAK_HOSTILE:-1}" != 0 ]; then
    (cd "$bin" && exec timeout $((seconds + 120)) wine korvex-hostile.exe --calls 1000000000 --seconds "$seconds" \
        --item Soak00.analog.P000) >"$logs/hostile.log" 2>&1 &
    hostile_pid=$!
fi

rss() { awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$server_pid/status" 2>/dev/null; }
threads() { awk '/^Threads/ {print $2}' "/proc/$server_pid/status" 2>/dev/null; }
printf '%8s %10s %8s\n' "time s" "memory MB" threads
t=0 warm="" peak=0
while alive "$soak_pid"; do
    sleep 5
    t=$((t + 5))
    m=$(rss) n=$(threads)
    [ -n "$m" ] || continue
    printf '%8s %10s %8s\n' "$t" "$m" "$n"
    if [ -z "$warm" ] && [ "$t" -ge $((seconds / 4)) ]; then warm=$m; fi
    if [ -n "$warm" ] && [ "$m" -gt "$peak" ]; then peak=$m; fi
done
wait "$soak_pid"
soak_rc=$?
hostile_rc=0
[ -z "$hostile_pid" ] || { wait "$hostile_pid"; hostile_rc=$?; }
tr -d '\r' <"$logs/soak.log"
[ -z "$hostile_pid" ] || tr -d '\r' <"$logs/hostile.log" | grep -v '^  '
stop_session

failed=0
[ "$soak_rc" -eq 0 ] || { echo "soak: client calls failed (exit $soak_rc)"; failed=1; }
# A client that crashed may still end with 0 under Wine: only its summary says it finished.
grep -q '^cycles ' "$logs/soak.log" || { echo "soak: the soak client did not finish"; failed=1; }
[ "$hostile_rc" -eq 0 ] || { echo "soak: the hostile client failed (exit $hostile_rc)"; failed=1; }
if [ -n "$warm" ]; then
    limit=$((warm + warm / 10))
    echo "memory after the warm-up ${warm} MB, highest later ${peak} MB (limit ${limit} MB)"
    [ "$peak" -le "$limit" ] || { echo "soak: the server's memory grew by more than 10%"; failed=1; }
fi
exit $failed
