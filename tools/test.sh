#!/bin/bash
# Builds and runs every test: native (AddressSanitizer + UndefinedBehaviorSanitizer),
# native ThreadSanitizer for the concurrency suites, and the Windows build under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc)

bash tools/setup.sh || exit 1

passed=0; failed=0
run_ctest() {  # run_ctest BUILD_DIR [ctest args...]
    local dir=$1; shift
    local log="$dir/ctest.log"
    (cd "$dir" && ctest --output-on-failure -j"$JOBS" --timeout 600 "$@") 2>&1 | tee "$log"
    local summary f total
    summary=$(grep -oP '\d+ tests failed out of \d+' "$log" | tail -1)
    if [ -z "$summary" ]; then
        grep -q 'No tests were found' "$log" || failed=$((failed + 1))
        return
    fi
    f=${summary%% *}; total=${summary##* }
    passed=$((passed + total - f)); failed=$((failed + f))
}

build() {  # build DIR [cmake args...]; prints the build's output only when it fails
    local dir=$1; shift
    mkdir -p "$dir"
    if ! cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"; return 1
    fi
    if ! cmake --build "$dir" -j"$JOBS" >"$dir/build.log" 2>&1; then
        grep -v '^\[' "$dir/build.log"; return 1
    fi
}

echo "== native (address, undefined)"
if build build/native-asan -DVANTREL_SANITIZE=address; then run_ctest build/native-asan; else failed=$((failed + 1)); fi

echo "== native (thread)"
if build build/native-tsan -DVANTREL_SANITIZE=thread; then run_ctest build/native-tsan -L threads; else failed=$((failed + 1)); fi

echo "== windows (wine)"
if build build/mingw -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-mingw64.cmake"; then
    source tools/xvfb.sh
    start_xvfb
    run_ctest build/mingw
    stop_xvfb
else
    failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
test "$failed" -eq 0
