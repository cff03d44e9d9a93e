#!/bin/bash
# Builds and runs every test: native (AddressSanitizer + UndefinedBehaviorSanitizer),
# native ThreadSanitizer for the concurrency suites, and the Windows builds
# (32-bit and 64-bit) under Wine.
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

build() {  # build DIR [cmake args...] [--target T]; prints the build's output only when it fails
    local dir=$1; shift
    local args=() targets=()
    while (($#)); do
        if [ "$1" = --target ]; then targets+=(--target "$2"); shift 2; else args+=("$1"); shift; fi
    done
    mkdir -p "$dir"
    if ! cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Debug "${args[@]}" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"; return 1
    fi
    if ! cmake --build "$dir" -j"$JOBS" "${targets[@]}" >"$dir/build.log" 2>&1; then
        grep -v '^\[' "$dir/build.log"; return 1
    fi
}

echo "== native (address, undefined)"
if build build/native-asan -DVANTREL_SANITIZE=address; then run_ctest build/native-asan; else failed=$((failed + 1)); fi

echo "== native (thread)"
if build build/native-tsan -DVANTREL_SANITIZE=thread; then run_ctest build/native-tsan -L threads; else failed=$((failed + 1)); fi

echo "== driver fuzzing (clang, libFuzzer, address, undefined)"
# One pass or fail: a minute of fuzzing from the kept corpus, in a copy of it.
if CC=clang CXX=clang++ build build/fuzz -DVANTREL_SANITIZE=fuzz --target driver_fuzz; then
    rm -rf build/fuzz/corpus && cp -r tests/fuzz/corpus build/fuzz/corpus
    if build/fuzz/tests/fuzz/driver_fuzz -detect_leaks=0 -entropic=0 -max_total_time=60 \
        -artifact_prefix=build/fuzz/ build/fuzz/corpus > build/fuzz/fuzz.log 2>&1; then
        passed=$((passed + 1)); tail -1 build/fuzz/fuzz.log
    else
        failed=$((failed + 1)); tail -40 build/fuzz/fuzz.log
    fi
else
    failed=$((failed + 1))
fi

echo "== windows 32-bit (wine32)"
# The program for every Windows, with a chosen few suites in a 32-bit prefix;
# the 64-bit suites below also run it under WOW64.
x86_build=-DVANTREL_X86_BUILD=
if build build/mingw32 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-mingw32.cmake"; then
    x86_build=-DVANTREL_X86_BUILD="$ROOT/build/mingw32"
    source tools/xvfb.sh
    start_xvfb
    run_ctest build/mingw32
    stop_xvfb
else
    failed=$((failed + 1))
fi

echo "== windows (wine)"
if build build/mingw -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-mingw64.cmake" "$x86_build"; then
    source tools/xvfb.sh
    start_xvfb
    run_ctest build/mingw
    stop_xvfb
else
    failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
test "$failed" -eq 0
