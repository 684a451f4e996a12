#!/bin/sh
# Installs the build and test tools on Debian 12 when any is missing; quiet when all are present.
# The 32-bit Wine (wine32:i386, for the 32-bit clients and server under WoW64) needs the i386
# architecture, which is added first. Installing it makes every older Wine prefix unusable; the
# scripts that reuse a prefix notice and make a new one.
set -eu
packages="clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine wine64 wine32:i386
cmake ninja-build googletest python3 make xvfb xauth libtomlplusplus-dev nlohmann-json3-dev libcli11-dev nsis"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing the build tools with apt (first run only, about two minutes):$missing"
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
