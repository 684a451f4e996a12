#!/bin/sh
# The setup program in a fresh prefix without our proxy/stubs, installed and removed silently as a
# deployment tool runs it. Round 1: every file and registry key it writes (both registry views)
# against the expected list, a read through the installed client from the server that COM starts by
# its ProgID (after which the server's own registration must still match the list), and an
# uninstall that leaves nothing. Round 2: proxies for the OPC interfaces registered first by
# another product survive both the install and the uninstall.
#   setup_test.sh SETUP.EXE VERSION
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1 version=$2
[ -f "$setup" ] || { echo "no setup program $setup: make installer builds it"; exit 1; }
work=$(mktemp -d)
export KORVEX_WINEPREFIX="$work/prefix" KORVEX_SESSION_LOGS="$work/logs"
. "$repo/scripts/opc-session.sh"
# Shortcuts stay in the prefix: no menu entries on the host.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

passed=0 failed=0
check() {
    if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $2"; fi
}

inst='C:\Program Files\Korvex OPC Server'
dir="$WINEPREFIX/drive_c/Program Files/Korvex OPC Server"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvex OPC Server"
clsid='{B445967B-4C3E-4E38-9C91-6A8DDD94430C}'
classes='HKLM\Software\Classes'
iids='{39C13A4D-011E-11D0-9675-0020AFD8ADB3} {F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}'

# reg_value VIEW KEY [NAME]: the data of a value (the default value without NAME); fails when absent.
reg_value() {
    if [ -n "${3:-}" ]; then set -- "$1" "$2" /v "$3"; else set -- "$1" "$2" /ve; fi
    out=$(timeout 30 wine reg query "$2" "$3" ${4:+"$4"} "/reg:$1" 2>/dev/null) || return 1
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^.*    REG_[A-Z_]*    //p'
}
reg_key_exists() { timeout 30 wine reg query "$2" "/reg:$1" >/dev/null 2>&1; }

# view|key|value name ("" the default value, "-" none: the key only)|data
expected_keys() {
    cat <<EOF
64|$classes\\Korvex.OPCServer.2||KorvexOPCServer
64|$classes\\Korvex.OPCServer.2\\CLSID||$clsid
64|$classes\\Korvex.OPCServer.2\\OPC|-|
64|$classes\\CLSID\\$clsid||KorvexOPCServer
64|$classes\\CLSID\\$clsid|AppID|$clsid
64|$classes\\CLSID\\$clsid\\ProgID||Korvex.OPCServer.2
64|$classes\\CLSID\\$clsid\\LocalServer32||$inst\\KorvexOPCServer.exe
64|$classes\\CLSID\\$clsid\\Implemented Categories\\{CC603642-66D7-48F1-B69A-B625E73652D7}|-|
64|$classes\\CLSID\\$clsid\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}|-|
64|$classes\\CLSID\\$clsid\\Implemented Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}|-|
64|$classes\\AppID\\$clsid||KorvexOPCServer
64|$classes\\AppID\\$clsid|AuthenticationLevel|0x5
64|$classes\\AppID\\KorvexOPCServer.exe|AppID|$clsid
64|HKLM\\Software\\Korvex\\OPC Server|InstallDir|$inst
64|HKLM\\Software\\Korvex\\OPC Server|ProxyStub64Registered|0x1
64|HKLM\\Software\\Korvex\\OPC Server|ProxyStub32Registered|0x1
64|HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KorvexOPCServer|DisplayVersion|$version
64|HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KorvexOPCServer|Publisher|Korvex
EOF
}

# Every key and value of the list, and each view's proxy/stub: both interfaces' proxy class served
# by the DLL of that view's architecture in the install directory.
check_registry() {
    expected_keys | while IFS='|' read -r view key name data; do
        if [ "$name" = - ]; then reg_key_exists "$view" "$key"; else [ "$(reg_value "$view" "$key" "$name")" = "$data" ]; fi ||
            echo "$1: $key [$name] is not \"$data\" (view $view): $(reg_value "$view" "$key" "$name")"
    done >"$work/mismatches"
    for view in 64 32; do
        arch=x64; [ "$view" = 32 ] && arch=x86
        for iid in $iids; do
            proxy=$(reg_value "$view" "HKCR\\Interface\\$iid\\ProxyStubClsid32")
            server=$(reg_value "$view" "HKCR\\CLSID\\$proxy\\InprocServer32")
            [ "$server" = "$inst\\$arch\\korvexps.dll" ] ||
                echo "$1: the proxy of $iid (view $view) is $proxy in \"$server\"" >>"$work/mismatches"
        done
    done
    [ ! -s "$work/mismatches" ]
    check $? "$(cat "$work/mismatches")"
}

# The uninstall the list of installed programs runs silently: the uninstaller copies itself to the
# temporary folder (~nsuN.tmp\Un.exe), starts the copy and returns; the copy is waited for.
uninstall() {
    quiet=$(reg_value 64 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvexOPCServer' QuietUninstallString)
    [ "$quiet" = "\"$inst\\uninstall.exe\" /S" ] && timeout 60 wine "$dir/uninstall.exe" /S
    check $? "$1: the uninstaller failed"
    i=0
    while wine_programs_of_prefix | grep -q '~nsu.*Un\.exe' && [ "$i" -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
    [ ! -e "$dir" ] && [ ! -e "$menu" ]
    check $? "$1: left on disk: $(find "$dir" "$menu" 2>/dev/null | tr '\n' ' ')"
}

# Whatever happens, the prefix's programs end with its wineserver, and the prefix goes.
trap '"$repo/tests/wine/server.sh" stop; rm -rf "$work"' EXIT
"$repo/tests/wine/prefix.sh" --bare >/dev/null
"$repo/tests/wine/server.sh" start

# Round 1.
timeout 120 wine "$setup" /S /SIMULATOR
check $? "round 1: the setup failed"
(cd "$dir" && find . -type f | sort) >"$work/files"
printf '%s\n' ./KorvexOPCServer.exe ./Simulator/sample-plant.toml ./Simulator/scadasim.exe ./korvex-opc.exe \
    ./uninstall.exe ./x64/korvexps.dll ./x86/korvexps.dll | diff - "$work/files"
check $? "round 1: the installed files differ from the list"
cmp -s "$dir/KorvexOPCServer.exe" "$bin/KorvexOPCServer.exe" && cmp -s "$dir/korvex-opc.exe" "$bin/korvex-opc.exe" &&
    cmp -s "$dir/x64/korvexps.dll" "$bin/korvexps.dll" && cmp -s "$dir/x86/korvexps.dll" "$bin32/korvexps.dll" &&
    cmp -s "$dir/Simulator/scadasim.exe" "$bin/scadasim.exe"
check $? "round 1: an installed program is not the build of its architecture"
ls "$menu" | sort | tr '\n' '|' >"$work/menu"
[ "$(cat "$work/menu")" = "Command-line client help.lnk|Korvex OPC Server.lnk|Runtime simulator (sample plant).lnk|Uninstall Korvex OPC Server.lnk|" ]
check $? "round 1: start menu: $(cat "$work/menu")"
check_registry "round 1, installed"

: >"$work/scadasim.log"
(cd "$dir/Simulator" && exec setsid wine scadasim.exe --registry) >"$work/scadasim.log" 2>&1 &
simulator_pid=$!
i=0
until tr -d '\r' <"$work/scadasim.log" | grep -qx ready || [ "$i" -ge 600 ]; do sleep 0.1; i=$((i + 1)); done
(cd "$dir" && timeout 60 wine korvex-opc.exe --server Korvex.OPCServer.2 read NorthSubstation.analog.Setpoint) \
    >"$work/read.log" 2>&1
tr -d '\r' <"$work/read.log" | grep -Eq '  NorthSubstation\.analog\.Setpoint  50(\.0*)?  good$'
check $? "round 1: the installed client's read: $(cat "$work/read.log")"
# The uninstaller must not meet the server running: with the runtime gone it ends within a tick.
kill -INT "$simulator_pid" 2>/dev/null
wait_for_end "$simulator_pid" 10 || kill -KILL "$simulator_pid" 2>/dev/null
i=0
while wine_programs_of_prefix | grep -q KorvexOPCServer.exe && [ "$i" -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
[ "$i" -lt 200 ]
check $? "round 1: the server did not end when the simulator quit"
check_registry "round 1, after the server registered itself"

uninstall "round 1"
for key in "$classes\\Korvex.OPCServer.2" "$classes\\CLSID\\$clsid" "$classes\\AppID\\$clsid" \
    "$classes\\AppID\\KorvexOPCServer.exe" 'HKLM\Software\Korvex' \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvexOPCServer'; do
    for view in 64 32; do echo "$view $key"; done
done >"$work/gone"
for iid in $iids; do printf '64 %s\n32 %s\n' "HKCR\\Interface\\$iid" "HKCR\\Interface\\$iid"; done >>"$work/gone"
while read -r view key; do
    reg_key_exists "$view" "$key" && echo "$key (view $view)"
done <"$work/gone" >"$work/left"
[ ! -s "$work/left" ]
check $? "round 1: left in the registry: $(cat "$work/left")"

# Round 2: another product's proxies, in both views, before the install.
other='{0F0E0D0C-0B0A-0908-0706-050403020100}'
for view in 64 32; do
    for iid in $iids; do
        timeout 30 wine reg add "HKCR\\Interface\\$iid\\ProxyStubClsid32" /ve /d "$other" /f "/reg:$view" >/dev/null
    done
done
timeout 120 wine "$setup" /S
check $? "round 2: the setup failed"
[ -f "$dir/KorvexOPCServer.exe" ] && [ ! -e "$dir/Simulator" ]
check $? "round 2: the default components are not the server without the simulator"
[ "$(reg_value 64 'HKLM\Software\Korvex\OPC Server' ProxyStub64Registered)$(reg_value 64 'HKLM\Software\Korvex\OPC Server' ProxyStub32Registered)" = 0x00x0 ]
check $? "round 2: the setup claims another product's proxies"
for phase in installed uninstalled; do
    [ "$phase" = uninstalled ] && uninstall "round 2"
    for view in 64 32; do
        for iid in $iids; do
            [ "$(reg_value "$view" "HKCR\\Interface\\$iid\\ProxyStubClsid32")" = "$other" ]
            check $? "round 2, $phase: another product's proxy of $iid (view $view) is gone"
        done
    done
done
reg_key_exists 64 'HKLM\Software\Korvex'
[ $? -ne 0 ]
check $? "round 2: the product key is left"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
