#!/bin/bash
# Builds Vantrel.exe and starts it under Wine with the test port driver
# (COM11 <-> COM12) and demo traffic on COM11, which Vantrel captures. With a
# display the windows stay until the user closes them; without one the run
# happens on a private Xvfb, saves screenshots/vantrel-main.png and
# screenshots/vantrel-monitor.png, stops capture, prints the stopped monitor
# to the PDF queue and saves the first printed page as
# screenshots/vantrel-print.png, closes the application and ends. Vantrel's
# settings file is $BUILD/run/Vantrel.ini.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${VANTREL_RUN_BUILD:-build/mingw}  # another build tree for side-by-side work
EXE=$ROOT/$BUILD/app/Vantrel.exe
DEMO=$ROOT/$BUILD/testport/VtrlDemo.exe
TESTPORT=$ROOT/$BUILD/testport/VtrlTestPort.sys
RUN_DIR=$ROOT/$BUILD/run
PRINT_DIR=$RUN_DIR/print
PRINT_QUEUE=VantrelRun
SHOTS=screenshots
WINDOW_TIMEOUT_S=60
PRINT_TIMEOUT_S=60

bash tools/setup.sh
# The print command of a monitor prints to a PDF queue, default for Wine.
bash tools/cups-setup.sh "$PRINT_QUEUE" "$PRINT_DIR"

echo "run: building $EXE"
mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-mingw64.cmake" >"$BUILD/configure.log" 2>&1 \
    || { cat "$BUILD/configure.log"; exit 1; }
cmake --build "$BUILD" -j2 --target Vantrel VtrlTestPort VtrlDemo >"$BUILD/build.log" 2>&1 \
    || { grep -v '^\[' "$BUILD/build.log"; exit 1; }

export WINEPREFIX="$ROOT/$BUILD/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# The loader that suits the prefix; it creates the prefix on first use.
wine_cmd() { bash "$ROOT/tools/wine-run.sh" "$WINEPREFIX" "$@"; }

# Two capture items on COM11: a monitor window, and text on the virtual port
# COM21 for a terminal program. Kept when the user has changed them.
write_demo_settings() {
    mkdir -p "$RUN_DIR"
    [ -f "$RUN_DIR/Vantrel.ini" ] && return
    printf '%s\r\n' '[System]' 'DataCount=2' '[Data0]' 'COM=COM11' 'Size=100000' 'Type=0' 'Port=' \
        '[Data1]' 'COM=COM11' 'Size=100000' 'Type=1' 'Port=COM21' >"$RUN_DIR/Vantrel.ini"
}

prepare_prefix() {
    bash tools/wine-service-setup.sh
    bash tools/wine-prefix-setup.sh
    bash tools/wine-testport-setup.sh "$TESTPORT"
    write_demo_settings
}

start_vantrel() {
    (cd "$RUN_DIR" && exec bash "$ROOT/tools/wine-run.sh" "$WINEPREFIX" "$EXE") &
    app=$!
}

if [ -n "${DISPLAY:-}" ]; then
    prepare_prefix
    # The prefix is set up for Xvfb; on a real display the window manager
    # frames Vantrel's windows.
    wine_cmd reg add 'HKCU\Software\Wine\AppDefaults\Vantrel.exe\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
    echo "run: starting Vantrel on $DISPLAY; demo traffic on COM11 for five minutes"
    echo "run: the capture as text lines on COM21: open \\\\.\\COM21 with a terminal program run as"
    echo "     WINEPREFIX=$WINEPREFIX wine <terminal.exe> (one that sets its port timeouts; see README)"
    start_vantrel
    sleep 5
    wine_cmd "$DEMO" 1500 --start-capture || true
    wait "$app"
    exit 0
fi

source tools/xvfb.sh
start_xvfb
trap 'wineserver -k 2>/dev/null || true; stop_xvfb' EXIT
prepare_prefix
wine_cmd reg delete 'HKCU\Software\Wine\AppDefaults\Vantrel.exe' /f >/dev/null 2>&1 || true

echo "run: starting Vantrel on a private display $DISPLAY"
start_vantrel

window_shown() { xwininfo -root -tree 2>/dev/null | grep -q '"Vantrel": ("vantrel.exe"'; }
for _ in $(seq $((WINDOW_TIMEOUT_S * 10))); do
    window_shown && break
    kill -0 "$app" 2>/dev/null || { echo "run: Vantrel ended before showing its window" >&2; exit 1; }
    sleep 0.1
done
window_shown || { echo "run: no Vantrel window after ${WINDOW_TIMEOUT_S}s" >&2; exit 1; }
sleep 1  # let the first paint finish

mkdir -p "$SHOTS"
import -window root "$SHOTS/vantrel-main.png"
echo "run: screenshot saved to $SHOTS/vantrel-main.png"

echo "run: starting capture and demo traffic on COM11"
wine_cmd "$DEMO" 25 --start-capture
sleep 1  # the monitor's next refresh
import -window root "$SHOTS/vantrel-monitor.png"
echo "run: screenshot saved to $SHOTS/vantrel-monitor.png"

# The document is complete once the queue has handed it to its folder.
printed_document() { ls "$PRINT_DIR"/*.pdf 2>/dev/null | head -1; }
rm -f "$PRINT_DIR"/*.pdf
echo "run: stopping capture and printing the monitor to $PRINT_QUEUE"
wine_cmd "$DEMO" 0 --stop-capture --print "$PRINT_QUEUE"
for _ in $(seq $((PRINT_TIMEOUT_S * 10))); do
    [ -n "$(printed_document)" ] && ! lpstat -o "$PRINT_QUEUE" 2>/dev/null | grep -q . && break
    sleep 0.1
done
[ -n "$(printed_document)" ] || { echo "run: no document in $PRINT_DIR after ${PRINT_TIMEOUT_S}s" >&2; exit 1; }
pdftoppm -f 1 -l 1 -r 100 -png -singlefile "$(printed_document)" "$SHOTS/vantrel-print"
echo "run: $(pdfinfo "$(printed_document)" | awk '/^Pages:/ {print $2}') printed pages, the first saved to $SHOTS/vantrel-print.png"

# Without /f taskkill asks the window to close, as the user would.
wine_cmd taskkill /im Vantrel.exe >/dev/null 2>&1 || true
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then
    echo "run: Vantrel did not close" >&2
    exit 1
fi
wait "$app" || true
echo "run: Vantrel closed"
