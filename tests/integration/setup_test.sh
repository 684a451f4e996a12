#!/bin/sh
# The setup program in a fresh prefix without our proxy/stubs, installed and removed silently as a
# deployment tool runs it. Round 1: every file and registry key it writes (both registry views)
# against the expected list, the remote clients' permissions, a read through the installed client
# from the server that COM starts by its ProgID (after which the server's own registration must still
# match the list); an uninstall that meets the server with a client connected gives up and leaves
# everything, one that meets it without clients ends it and leaves nothing. Round 2: proxies for the
# OPC interfaces registered first by another product survive an install into a folder of one's
# choice, a reinstall (which finds that folder) and the uninstall.
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

# install_dir WINDOWS-PATH: where the checks below look.
install_dir() {
    inst=$1
    dir="$WINEPREFIX/drive_c/$(printf '%s' "${inst#C:\\}" | tr '\\' /)"
}
install_dir 'C:\Program Files\Korvex OPC Server'
default_dir=$dir
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvex OPC Server"
clsid='{B445967B-4C3E-4E38-9C91-6A8DDD94430C}'
server_list='{13486D51-4821-11D2-A494-3CB306C10000}'
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
64|$classes\\CLSID\\$clsid\\LocalServer32||"$inst\\KorvexOPCServer.exe"
64|$classes\\CLSID\\$clsid\\Implemented Categories\\{CC603642-66D7-48F1-B69A-B625E73652D7}|-|
64|$classes\\CLSID\\$clsid\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}|-|
64|$classes\\CLSID\\$clsid\\Implemented Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}|-|
64|$classes\\AppID\\$clsid||KorvexOPCServer
64|$classes\\AppID\\$clsid|AuthenticationLevel|0x5
64|$classes\\AppID\\KorvexOPCServer.exe|AppID|$clsid
64|$classes\\CLSID\\$server_list\\LocalServer32||"$inst\\KorvexServerList.exe"
64|$classes\\OPC.ServerList\\CurVer||OPC.ServerList.1
64|HKLM\\Software\\Korvex\\OPC Server|ServerListRegistered|0x1
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

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails after SECONDS.
wait_until() {
    limit=$(($1 * 10)) i=0
    shift
    until "$@"; do
        [ "$i" -lt "$limit" ] || return 1
        sleep 0.1
        i=$((i + 1))
    done
}
# log_has LOG PATTERN: a line of a Windows program's log matches.
log_has() { tr -d '\r' <"$1" | grep -q "$2"; }
server_pid() { wine_programs_of_prefix | sed -n 's/^\([0-9]*\): .*KorvexOPCServer\.exe.*/\1/p'; }
no_server() { [ -z "$(server_pid)" ]; }
no_uninstaller_copy() { ! wine_programs_of_prefix | grep -q '~nsu.*Un\.exe'; }
server_registered() { [ -n "$(reg_value 64 "$classes\\Korvex.OPCServer.2")" ]; }

# start_simulator DIR: the runtime simulator of DIR with its sample plant, until it says "ready".
start_simulator() {
    : >"$work/scadasim.log"
    (cd "$1" && exec setsid wine scadasim.exe --registry) >"$work/scadasim.log" 2>&1 &
    simulator_pid=$!
    wait_until 60 log_has "$work/scadasim.log" '^ready$'
}
stop_simulator() {
    kill -INT "$simulator_pid" 2>/dev/null
    wait_for_end "$simulator_pid" 10 || kill -KILL "$simulator_pid" 2>/dev/null
}

# read_value ROUND: a read through the installed client, which makes COM start the server.
read_value() {
    (cd "$dir" && timeout 60 wine korvex-opc.exe --server Korvex.OPCServer.2 read NorthSubstation.analog.Setpoint) \
        >"$work/read.log" 2>&1
    tr -d '\r' <"$work/read.log" | grep -Eq '  NorthSubstation\.analog\.Setpoint  50(\.0*)?  good$'
    check $? "$1: the installed client's read: $(cat "$work/read.log")"
}

# The ACEs of a binary security descriptor given in hex, one "type mask SID" per line.
dacl_entries() {
    python3 -c '
import struct, sys
sd = bytes.fromhex(sys.argv[1])
def sid(at):
    authority = int.from_bytes(sd[at + 2:at + 8], "big")
    return "S-1-%d" % authority + "".join("-%d" % s for s in struct.unpack_from("<%dI" % sd[at + 1], sd, at + 8))
acl = struct.unpack_from("<I", sd, 16)[0]
at = acl + 8
for _ in range(struct.unpack_from("<H", sd, acl + 4)[0]):
    kind, _, size, mask = struct.unpack_from("<BBHI", sd, at)
    print(kind, hex(mask), sid(at + 8))
    at += size' "$1"
}

# A silent uninstall: the uninstaller copies itself to the temporary folder (~nsuN.tmp\Un.exe),
# starts the copy and returns; the copy is waited for.
run_uninstaller() {
    timeout 60 wine "$dir/uninstall.exe" /S || return
    wait_until 60 no_uninstaller_copy
}

# The uninstall the list of installed programs runs silently.
uninstall() {
    quiet=$(reg_value 64 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvexOPCServer' QuietUninstallString)
    [ "$quiet" = "\"$inst\\uninstall.exe\" /S" ]
    check $? "$1: the quiet uninstall command is \"$quiet\""
    run_uninstaller
    rc=$?
    check $rc "$1: the uninstaller failed with exit code $rc"
    [ ! -e "$dir" ] && [ ! -e "$menu" ]
    check $? "$1: left on disk: $(find "$dir" "$menu" 2>/dev/null | tr '\n' ' ')"
}

# Whatever happens, the prefix's programs end with its wineserver, and the prefix goes.
trap '"$repo/tests/wine/server.sh" stop; rm -rf "$work"' EXIT
"$repo/tests/wine/prefix.sh" --bare >/dev/null
"$repo/tests/wine/server.sh" start

# Round 1.
timeout 120 wine "$setup" /S /SIMULATOR /REMOTE
check $? "round 1: the setup failed"
(cd "$dir" && find . -type f | sort) >"$work/files"
printf '%s\n' ./KorvexOPCServer.exe ./KorvexServerList.exe ./Simulator/sample-plant.toml ./Simulator/scadasim.exe ./korvex-opc.exe \
    ./uninstall.exe ./x64/korvexps.dll ./x86/korvexps.dll | diff - "$work/files"
check $? "round 1: the installed files differ from the list"
cmp -s "$dir/KorvexOPCServer.exe" "$bin/KorvexOPCServer.exe" && cmp -s "$dir/KorvexServerList.exe" "$bin/KorvexServerList.exe" &&
    cmp -s "$dir/korvex-opc.exe" "$bin/korvex-opc.exe" &&
    cmp -s "$dir/x64/korvexps.dll" "$bin/korvexps.dll" && cmp -s "$dir/x86/korvexps.dll" "$bin32/korvexps.dll" &&
    cmp -s "$dir/Simulator/scadasim.exe" "$bin/scadasim.exe"
check $? "round 1: an installed program is not the build of its architecture"
ls "$menu" | sort | tr '\n' '|' >"$work/menu"
[ "$(cat "$work/menu")" = "Command-line client help.lnk|Korvex OPC Server.lnk|Runtime simulator (sample plant).lnk|Uninstall Korvex OPC Server.lnk|" ]
check $? "round 1: start menu: $(cat "$work/menu")"
check_registry "round 1, installed"
# Launch: local and remote launch and activation (0x1f); access: local and remote calls (0x7).
for permission in LaunchPermission:0x1f AccessPermission:0x7; do
    name=${permission%:*} mask=${permission#*:}
    dacl_entries "$(reg_value 64 "$classes\\AppID\\$clsid" "$name")" >"$work/acl" 2>/dev/null
    { [ "$name" = AccessPermission ] && echo "0 $mask S-1-5-10"
      for sid in S-1-5-18 S-1-5-32-544 S-1-5-4 S-1-5-32-562; do echo "0 $mask $sid"; done; } | diff - "$work/acl"
    check $? "round 1: the $name of the server's AppID"
done

start_simulator "$dir/Simulator"
read_value "round 1"
# The installed server list, started by COM, lists the server.
(cd "$dir" && timeout 60 wine korvex-opc.exe servers) >"$work/servers.log" 2>&1
tr -d '\r' <"$work/servers.log" | grep -q "^Korvex\.OPCServer\.2 *$clsid *KorvexOPCServer$"
check $? "round 1: the server list does not list the server: $(cat "$work/servers.log")"
stop_simulator
check_registry "round 1, after the server registered itself"

# The server running with a client connected: the uninstaller asks it to close, the server asks its
# user (nobody answers here), and the uninstall gives up with everything in place. The build's
# simulator stands in for the installed one, whose file the uninstall removes.
: >"$work/watch.log"
start_simulator "$bin"
(cd "$dir" && exec setsid wine korvex-opc.exe watch NorthSubstation.analog.Setpoint --rate 1000) >"$work/watch.log" 2>&1 &
watch_pid=$!
wait_until 30 log_has "$work/watch.log" good
run_uninstaller
[ -n "$(server_pid)" ] && [ -f "$dir/KorvexOPCServer.exe" ] && [ "$(reg_value 64 "$classes\\Korvex.OPCServer.2")" = KorvexOPCServer ]
check $? "round 1: an uninstall that met a server with a client did not give up with everything in place"
# The server's question stays open; the runtime's end still ends it.
kill -KILL "$watch_pid" 2>/dev/null
stop_simulator
wait_until 20 no_server
check $? "round 1: the server asking its user did not end when the simulator quit"
# Started by hand from the Start menu and without clients, the server ends when asked and the
# uninstall goes on. It registers itself once its window is up.
start_simulator "$bin"
timeout 30 wine reg delete "$classes\\Korvex.OPCServer.2" /f /reg:64 >/dev/null 2>&1
(cd "$dir" && exec setsid wine KorvexOPCServer.exe) >"$work/server.log" 2>&1 &
wait_until 30 server_registered
[ -n "$(server_pid)" ]
check $? "round 1: the server started by hand does not run: $(cat "$work/server.log")"
uninstall "round 1"
no_server
check $? "round 1: the uninstall left the server running"
stop_simulator
for key in "$classes\\Korvex.OPCServer.2" "$classes\\CLSID\\$clsid" "$classes\\AppID\\$clsid" \
    "$classes\\AppID\\KorvexOPCServer.exe" "$classes\\CLSID\\$server_list" "$classes\\AppID\\$server_list" \
    "$classes\\AppID\\KorvexServerList.exe" "$classes\\OPC.ServerList" "$classes\\OPC.ServerList.1" 'HKLM\Software\Korvex' \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvexOPCServer'; do
    for view in 64 32; do echo "$view $key"; done
done >"$work/gone"
for iid in $iids; do printf '64 %s\n32 %s\n' "HKCR\\Interface\\$iid" "HKCR\\Interface\\$iid"; done >>"$work/gone"
while read -r view key; do
    reg_key_exists "$view" "$key" && echo "$key (view $view)"
done <"$work/gone" >"$work/left"
[ ! -s "$work/left" ]
check $? "round 1: left in the registry: $(cat "$work/left")"

# Round 2: another product's proxies, in both views, before the install: for a DA 3.0 interface and
# for IOPCShutdown, of all the interfaces our proxy/stub serves; and its server list.
other='{0F0E0D0C-0B0A-0908-0706-050403020100}'
other_server_list='C:\Other\OpcEnum.exe'
timeout 30 wine reg add "HKCR\\CLSID\\$server_list\\LocalServer32" /ve /d "$other_server_list" /f /reg:64 >/dev/null
other_iids='{85C0B427-2893-4CBC-BD78-E5FC5146F08F} {F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}'
for view in 64 32; do
    for iid in $other_iids; do
        timeout 30 wine reg add "HKCR\\Interface\\$iid\\ProxyStubClsid32" /ve /d "$other" /f "/reg:$view" >/dev/null
    done
done
install_dir 'C:\Plant\KorvexOPC'  # wine would quote a /D= with a space
timeout 120 wine "$setup" /S "/D=$inst"
check $? "round 2: the setup failed"
[ -f "$dir/KorvexOPCServer.exe" ] && [ ! -e "$dir/Simulator" ] && [ ! -e "$dir/KorvexServerList.exe" ] &&
    [ -z "$(reg_value 64 "$classes\\AppID\\$clsid" LaunchPermission)" ]
check $? "round 2: the default components are not the server without the simulator and remote permissions"
timeout 120 wine "$setup" /S
[ $? -eq 0 ] && [ ! -e "$default_dir" ] && [ "$(reg_value 64 'HKLM\Software\Korvex\OPC Server' InstallDir)" = "$inst" ]
check $? "round 2: a reinstall did not find the folder of the first install"
[ "$(reg_value 64 'HKLM\Software\Korvex\OPC Server' ProxyStub64Registered)$(reg_value 64 'HKLM\Software\Korvex\OPC Server' ProxyStub32Registered)$(reg_value 64 'HKLM\Software\Korvex\OPC Server' ServerListRegistered)" = 0x00x00x0 ]
check $? "round 2: the setup claims another product's proxies or server list"
for phase in installed uninstalled; do
    [ "$phase" = uninstalled ] && uninstall "round 2"
    for view in 64 32; do
        for iid in $other_iids; do
            [ "$(reg_value "$view" "HKCR\\Interface\\$iid\\ProxyStubClsid32")" = "$other" ]
            check $? "round 2, $phase: another product's proxy of $iid (view $view) is gone"
        done
    done
    [ "$(reg_value 64 "HKCR\\CLSID\\$server_list\\LocalServer32")" = "$other_server_list" ]
    check $? "round 2, $phase: another product's server list is gone"
done
reg_key_exists 64 'HKLM\Software\Korvex'
[ $? -ne 0 ]
check $? "round 2: the product key is left"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
