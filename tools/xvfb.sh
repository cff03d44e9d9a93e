# Sourced: start_xvfb gives the run one virtual display unless one exists.
XVFB_PID=
start_xvfb() {
    if [ -n "${DISPLAY:-}" ]; then return; fi
    local n=99
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=:$n
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
}
stop_xvfb() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; unset DISPLAY; XVFB_PID=; fi
    return 0
}
