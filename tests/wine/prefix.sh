#!/bin/sh
# Makes the Wine prefix of a build tree: null graphics driver (windows and messages work without
# X), no crash dialog (a crashing program would hang on it), and waits for the wineserver
# (otherwise the first COM activation finds RpcSs not started and hangs). Registers the proxy/stub
# DLLs that are built, each with the regsvr32 of its architecture, as a Windows user would.
#   prefix.sh           a fresh prefix, always
#   prefix.sh --reuse   keeps the prefix when it was made by the Wine installed now
#   prefix.sh --bare    a fresh prefix without our proxy/stubs (for the setup program's test)
# A prefix made by another Wine must go: once the 32-bit Wine is installed, a prefix made before it
# fails every program, 64-bit ones included ("could not load kernel32.dll").
set -eu
. "$(dirname "$0")/env.sh"
if [ "${1:-}" = "--reuse" ] && korvex_prefix_is_current; then exit 0; fi
if [ "${1:-}" = "--reuse" ]; then
    if [ -f "$WINEPREFIX/system.reg" ]; then
        echo "Making a new Wine prefix: the installed Wine changed since this one was made (about 10 s)..."
    else
        echo "Making the Wine prefix (first run only, about 10 s)..."
    fi
fi
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
timeout 180 wine wineboot --init >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
for arch in x86_64 i686; do
    [ "${1:-}" = "--bare" ] && break
    dll="$korvex_root/build/$arch/bin/korvexps.dll"
    [ -f "$dll" ] || continue
    regsvr32='C:\windows\system32\regsvr32.exe'
    [ "$arch" = i686 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
    timeout 60 wine "$regsvr32" /s "$(winepath -w "$dll")" || echo "registering $dll failed" >&2
done
wineserver -w
korvex_wine_version >"$WINEPREFIX/korvex-wine-version"
echo "wine prefix ready: $WINEPREFIX"
