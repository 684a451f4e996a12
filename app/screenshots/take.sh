#!/bin/sh
# make screenshots: the main window's view of three clients, one of them stalled in its callback,
# and the About box, drawn by Wine under Xvfb, into build/screenshots/*.png. Run after the x86_64
# build.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${KORVEX_SCREENSHOT_BIN:-$root/build/x86_64/bin}
out=$root/build/screenshots
work=$root/build/screenshots/work

# What only this target needs: an X server, a screen grabber and a font with the Chinese glyphs.
missing=""
for p in xvfb xauth imagemagick fonts-wqy-microhei; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# A prefix of its own: the test prefix uses the null display driver, which draws nothing.
export KORVEX_WINEPREFIX="${KORVEX_SCREENSHOT_PREFIX:-$root/build/wineprefix-screenshots}"
export KORVEX_KEEP_DISPLAY=1
. "$root/tests/wine/env.sh"

display=:${KORVEX_SCREENSHOT_DISPLAY:-97}
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

wineserver -k 2>/dev/null || true
if ! korvex_prefix_is_current; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 180 wine wineboot --init >/dev/null 2>&1
    timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    # One desktop window drawn by Wine: title bars and the tray without a window manager.
    timeout 60 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
    timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null
    # The dialogs ask for SimSun, which Debian does not ship.
    timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d 'WenQuanYi Micro Hei' /f >/dev/null
    wineserver -w
    korvex_wine_version >"$WINEPREFIX/korvex-wine-version"
fi

# The clients call the server, and it calls their sinks, through the proxy/stub of this build.
(cd "$bin" && timeout 60 wine regsvr32 /s korvexps.dll)

rm -rf "$work"
mkdir -p "$work"
wait_for_line() {  # file line seconds
    for _ in $(seq $(($3 * 10))); do tr -d '\r' <"$1" 2>/dev/null | grep -qx "$2" && return 0; sleep 0.1; done
    echo "screenshots: no \"$2\" in $1" >&2
    cat "$1" >&2
    return 1
}

# The plant's values move, so that the view counts data changes.
timeout 120 wine "$bin/scadasim.exe" --registry >"$work/scadasim.log" 2>&1 &
wait_for_line "$work/scadasim.log" ready 60
timeout 120 wine "$bin/KorvexOPCServer.exe" >"$work/server.log" 2>&1 &
timeout 120 wine "$bin/ui_driver.exe" connect 90 >"$work/clients.log" 2>&1 &
wait_for_line "$work/clients.log" ready 60

timeout 30 wine "$bin/ui_driver.exe" command 32775  # show the main window
timeout 30 wine "$bin/ui_driver.exe" view 780 330   # room for the view; the stalled client selected
# The third client counts as stalled 2 s into its call; the view shows it at its next refresh.
sleep 4
import -window root "$work/desktop-main.png"
convert "$work/desktop-main.png" -crop 780x330+0+0 +repage "$out/main-window.png"

timeout 30 wine "$bin/ui_driver.exe" command 57664  # About
sleep 2
import -window root "$out/about-box.png"

echo "screenshots: $out/main-window.png $out/about-box.png"
