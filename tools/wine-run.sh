#!/bin/bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# One prefix per build tree; it is created once, under a lock, on first use.
set -euo pipefail

export WINEPREFIX="$1"; shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

# Debian's wine starts the 32-bit loader whenever wine32 is installed, and
# Wine's own programs (sc, reg) then run under WOW64 even in a 64-bit prefix:
# a kernel service that such an sc registers loads in the 32-bit driver host,
# and a prefix that the 32-bit loader creates never lists the print queues.
# A 64-bit prefix gets the 64-bit loader, which still runs 32-bit programs.
loader=wine
if [ -x /usr/lib/wine/wine64 ] && [ "${WINEARCH:-win64}" != win32 ] &&
    ! grep -qs '^#arch=win32' "$WINEPREFIX/system.reg"; then
    loader=/usr/lib/wine/wine64
    export WINELOADER=$loader
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$loader" wineboot -i >/dev/null 2>&1
            # The set-up's 32-bit half drops the CUPS queues (32-bit Wine
            # finds no CUPS library); loading the 64-bit spooler lists them again
            # (rundll32 finds no such entry, so it only loads the library).
            [ "$loader" = wine ] || "$loader" rundll32 winspool.drv,LoadOnly >/dev/null 2>&1 || true
            wineserver -w
        fi
        bash "$(dirname "$0")/wine-prefix-setup.sh"
    ) 9>"$WINEPREFIX.lock"
fi

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$loader" "$@"
fi
exec "$loader" "$@"
