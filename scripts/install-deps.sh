#!/bin/sh
# Installs the build and test tools on Debian 12 when any is missing; quiet when all are present.
set -eu
packages="g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine wine64
cmake ninja-build googletest python3 make xvfb xauth libtomlplusplus-dev nlohmann-json3-dev libcli11-dev"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing the build tools with apt (first run only, about two minutes):$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
