#!/bin/bash
# Prepares the Wine prefix in $WINEPREFIX for Vantrel, once per prefix:
# - the Japanese Windows fonts that the application asks for by name
#   ("ＭＳ ゴシック", "ＭＳ Ｐゴシック", "MS UI Gothic") are drawn with the IPA fonts;
# - caption buttons and scroll arrows are drawn with Wine's Marlett, which
#   Debian's Wine does not find in the folder of fonts-wine on its own;
# - windows draw their own frame and title: the prefixes run on Xvfb, where no
#   window manager exists, and a managed window waits 2 s for one whenever it
#   is hidden or destroyed (every message box, every dialog).
# Creates the prefix when it does not exist yet.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

link_marlett() {
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    [ -e "$fonts/marlett.ttf" ] || ln -s /usr/share/wine/fonts/marlett.ttf "$fonts/marlett.ttf"
}

marker="$WINEPREFIX/.vantrel-prefix-setup"
if [ -f "$marker" ]; then
    link_marlett
    exit 0
fi

reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
# regedit reads version 5 files as UTF-16 with a byte-order mark.
printf '\xff\xfe' >"$reg"
iconv -f UTF-8 -t UTF-16LE >>"$reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ ゴシック"="IPAGothic"
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ 明朝"="IPAMincho"
"ＭＳ Ｐ明朝"="IPAPMincho"
"MS Gothic"="IPAGothic"
"MS PGothic"="IPAPGothic"
"MS UI Gothic"="IPAPGothic"
"MS Mincho"="IPAMincho"
"MS PMincho"="IPAPMincho"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
"${WINELOADER:-wine}" regedit /S "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
wineserver -w
link_marlett
touch "$marker"
