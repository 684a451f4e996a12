# Environment of every Wine run of the project: one prefix per build tree, fixed locale (the host
# locale becomes Wine's user locale and changes VariantChangeType's number parsing), no Mono/Gecko
# installers, no display unless a caller brings Xvfb.
korvex_root=$(cd "$(dirname "$0")/../.." && pwd)
: "${KORVEX_WINEPREFIX:=$korvex_root/build/wineprefix}"
export WINEPREFIX="$KORVEX_WINEPREFIX"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
[ -n "${KORVEX_KEEP_DISPLAY:-}" ] || unset DISPLAY
