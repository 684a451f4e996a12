#!/bin/sh
# Creates a fresh Wine prefix for a test run: null graphics driver (windows and messages work
# without X), no crash dialog (a crashing program would hang on it), and waits for the wineserver
# (otherwise the first COM activation finds RpcSs not started and hangs).
set -eu
. "$(dirname "$0")/env.sh"
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
timeout 180 wine wineboot --init >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
wineserver -w
echo "wine prefix ready: $WINEPREFIX"
