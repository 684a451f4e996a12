# Environment of every Wine run of the project: one prefix per build tree, fixed locale (the host
# locale becomes Wine's user locale and changes VariantChangeType's number parsing), no Mono/Gecko
# installers, no display unless a caller brings Xvfb.
# The repository: given by a script that knows it, else found from the caller's path.
korvex_root=${korvex_root:-$(cd "$(dirname "$0")/../.." && pwd)}
case ":$PATH:" in *":$korvex_root/tests/wine/bin:"*) ;; *) PATH="$korvex_root/tests/wine/bin:$PATH" ;; esac
export PATH
: "${KORVEX_WINEPREFIX:=$korvex_root/build/wineprefix}"
export WINEPREFIX="$KORVEX_WINEPREFIX"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
[ -n "${KORVEX_KEEP_DISPLAY:-}" ] || unset DISPLAY

# The installed Wine packages, with their versions: a prefix records the Wine that made it.
korvex_wine_version() {
    dpkg-query -W -f='${binary:Package} ${Version}\n' 'wine*' 'libwine*' 2>/dev/null | sort
}
korvex_prefix_is_current() {
    [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/korvex-wine-version" ] &&
        [ "$(korvex_wine_version)" = "$(cat "$WINEPREFIX/korvex-wine-version")" ]
}
