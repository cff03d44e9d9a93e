#!/bin/bash
# Builds Vantrel.exe and starts it under Wine. With a display the window
# stays until the user closes it; without one the run happens on a private
# Xvfb, saves screenshots/vantrel-main.png, closes the application and ends.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${VANTREL_RUN_BUILD:-build/mingw}  # another build tree for side-by-side work
EXE=$BUILD/app/Vantrel.exe
SHOT=screenshots/vantrel-main.png
WINDOW_TIMEOUT_S=60

bash tools/setup.sh

echo "run: building $EXE"
mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-mingw64.cmake" >"$BUILD/configure.log" 2>&1 \
    || { cat "$BUILD/configure.log"; exit 1; }
cmake --build "$BUILD" -j2 --target Vantrel >"$BUILD/build.log" 2>&1 \
    || { grep -v '^\[' "$BUILD/build.log"; exit 1; }

export WINEPREFIX="$ROOT/$BUILD/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

if [ -n "${DISPLAY:-}" ]; then
    bash tools/wine-prefix-setup.sh
    bash tools/wine-service-setup.sh
    # The prefix is set up for Xvfb; on a real display the window manager
    # frames Vantrel's windows.
    wine reg add 'HKCU\Software\Wine\AppDefaults\Vantrel.exe\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
    echo "run: starting Vantrel on $DISPLAY"
    exec wine "$EXE"
fi

source tools/xvfb.sh
start_xvfb
trap 'wineserver -k 2>/dev/null || true; stop_xvfb' EXIT
bash tools/wine-prefix-setup.sh
bash tools/wine-service-setup.sh
wine reg delete 'HKCU\Software\Wine\AppDefaults\Vantrel.exe' /f >/dev/null 2>&1 || true

echo "run: starting Vantrel on a private display $DISPLAY"
wine "$EXE" &
app=$!

window_shown() { xwininfo -root -tree 2>/dev/null | grep -q '"Vantrel": ("vantrel.exe"'; }
for _ in $(seq $((WINDOW_TIMEOUT_S * 10))); do
    window_shown && break
    kill -0 "$app" 2>/dev/null || { echo "run: Vantrel ended before showing its window" >&2; exit 1; }
    sleep 0.1
done
window_shown || { echo "run: no Vantrel window after ${WINDOW_TIMEOUT_S}s" >&2; exit 1; }
sleep 1  # let the first paint finish

mkdir -p "$(dirname "$SHOT")"
import -window root "$SHOT"
echo "run: screenshot saved to $SHOT"

# Without /f taskkill asks the window to close, as the user would.
wine taskkill /im Vantrel.exe >/dev/null 2>&1 || true
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then
    echo "run: Vantrel did not close" >&2
    exit 1
fi
wait "$app" || true
echo "run: Vantrel closed"
