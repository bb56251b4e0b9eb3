# Shared by the desktop tests: a private X server (Xvfb) with a window manager that has a system
# tray (icewm), started on a free display and stopped, with everything started here, on exit.
# Source it, then call start_xsession [notray]. Needs: Xvfb, icewm, xdotool, xwininfo.

XS_WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumbrio-x.XXXXXX")
XS_PIDS=()

stop_xsession() {
    local pid
    for ((i = ${#XS_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${XS_PIDS[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    XS_PIDS=()
    rm -rf "$XS_WORK"
}
trap stop_xsession EXIT

# wait_until DESCRIPTION COMMAND...: runs COMMAND until it succeeds; gives up after
# WAIT_SECONDS (30 s), which only guards against a hang and says nothing about speed.
wait_until() {
    local what=$1
    shift
    local deadline=$((SECONDS + ${WAIT_SECONDS:-30}))
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then
            echo "FAIL: timed out waiting for: $what" >&2
            return 1
        fi
        sleep 0.1
    done
}

start_xsession() {
    local mode=${1:-tray}
    mkdir -p "$XS_WORK/home" "$XS_WORK/run"
    chmod 700 "$XS_WORK/run"
    export HOME="$XS_WORK/home" XDG_RUNTIME_DIR="$XS_WORK/run"
    # No session bus: the tray icon then uses the X11 tray protocol of the window manager.
    unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY LUMBRIO_HEADLESS

    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$XS_WORK/display" \
        >"$XS_WORK/xvfb.log" 2>&1 &
    XS_PIDS+=($!)
    wait_until "the X server" test -s "$XS_WORK/display"
    export DISPLAY=":$(head -n1 "$XS_WORK/display")"

    if [ "$mode" = tray ]; then
        icewm >"$XS_WORK/icewm.log" 2>&1 &
        XS_PIDS+=($!)
        wait_until "the system tray" xdotool search --name '^SystemTray$'
    fi
}
