#!/bin/bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# One prefix per build tree; it is created once, under a lock, on first use.
set -euo pipefail

export WINEPREFIX="$1"; shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
        bash "$(dirname "$0")/wine-prefix-setup.sh"
    ) 9>"$WINEPREFIX.lock"
fi

# Debian's wine starts the 32-bit loader whenever wine32 is installed, and
# Wine's own programs (sc, reg) then run under WOW64 even in a 64-bit prefix:
# a kernel service that such an sc registers loads in the 32-bit driver host.
# A 64-bit prefix gets the 64-bit loader, which still runs 32-bit programs.
loader=wine
if [ -x /usr/lib/wine/wine64 ] && ! grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
    loader=/usr/lib/wine/wine64
    export WINELOADER=$loader
fi

# A 64-bit prefix made before the 32-bit Wine was installed has no 32-bit
# system files yet: an update, forced past its time stamp, adds them.
if [ "$loader" != wine ] && [ -d /usr/lib/i386-linux-gnu/wine ] &&
    [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    (
        flock 9
        if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
            rm -f "$WINEPREFIX/.update-timestamp"
            "$loader" wineboot -u >/dev/null 2>&1
            wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
fi

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$loader" "$@"
fi
exec "$loader" "$@"
