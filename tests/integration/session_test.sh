#!/bin/sh
# The demo's session, started and stopped twice in a prefix of its own made for this run, the way
# a newcomer's first `make demo` meets it: the first start is the slow one. Each start must find
# the server running, each stop must leave no Wine program of the prefix behind.
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
export KORVEX_WINEPREFIX="$work/prefix" KORVEX_SESSION_LOGS="$work/logs"
. "$repo/scripts/opc-session.sh"

passed=0 failed=0
check() {
    if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $2"; fi
}

"$repo/tests/wine/prefix.sh" >/dev/null
for run in 1 2; do
    start_session
    check $? "run $run: the session did not start"
    client status >/dev/null
    check $? "run $run: korvex-opc status did not report the server running"
    stop_session
    left=$(wine_programs_of_prefix)
    [ -z "$left" ]
    check $? "run $run: programs left running after the stop: $left"
done
"$repo/tests/wine/server.sh" stop
rm -rf "$work"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
