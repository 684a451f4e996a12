#!/bin/sh
# Runs a Windows program of the build under Wine in the project's prefix, bounded in time.
# Used by ctest as the cross-compiling emulator.
here=$(dirname "$0")
. "$here/env.sh"
timeout --kill-after=10 "${KORVEX_RUN_TIMEOUT:-900}" wine "$@"
rc=$?
[ $rc -eq 124 ] || [ $rc -eq 137 ] && echo "run.sh: $1 did not end within ${KORVEX_RUN_TIMEOUT:-900} s" >&2
if [ -n "${KORVEX_RESTART_WINESERVER:-}" ]; then
    # A test that killed a server leaves its class registration behind in the wineserver; a test
    # that timed out may leave programs behind. Start the next test from a clean wineserver.
    "$here/server.sh" restart
fi
exit $rc
