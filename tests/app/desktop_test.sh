#!/usr/bin/env bash
# srv_lumbrio on a desktop: tray icon, menu, about window, exit paths, and the window shown at
# start when there is no system tray. Drives a private Xvfb + icewm with xdotool.
# Usage: desktop_test.sh SRV_LUMBRIO LUMBRIO_DB SCREENSHOT_DIR
set -euo pipefail
SRV=$1
LUMBRIO_DB=$2
SHOTS=$3
. "$(dirname "$0")/xsession.sh"
start_xsession tray

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
report() {
    if ((failures > 0)); then
        echo "$failures check(s) failed; last server log:" >&2
        cat "$XS_WORK/server.log" >&2 || true
        exit 1
    fi
}
# need DESCRIPTION COMMAND...: like wait_until, but the test cannot go on without it.
need() {
    wait_until "$@" || {
        fail "$1"
        report
    }
}

STORE="$XS_WORK/Srv_Drel.db"
"$LUMBRIO_DB" demo "$STORE" >/dev/null
PORT=$((20000 + RANDOM % 20000))
printf '[SRV_DREL]\nBASE=%s\n[TCP]\nPUERTO=%s\n' "$STORE" "$PORT" >"$XS_WORK/Conf.ini"
printf '[SRV_DREL]\nBASE=missing.db\n[TCP]\nPUERTO=%s\n' "$PORT" >"$XS_WORK/Bad.ini"

SERVER_PID=
start_server() { # CONF [ARGS...]
    local conf=$1
    shift
    LUMBRIO_CONF=$conf "$SRV" "$@" >"$XS_WORK/server.log" 2>&1 &
    SERVER_PID=$!
    XS_PIDS+=("$SERVER_PID")
}
# Waits for the server to end; its status in SERVER_STATUS.
wait_server_exit() {
    wait_until "srv_lumbrio to end" bash -c "! kill -0 $SERVER_PID"
    SERVER_STATUS=0
    wait "$SERVER_PID" || SERVER_STATUS=$?
}

# The icon: our window that the window manager's tray has embedded.
tray_icon() {
    local w
    for w in $(xdotool search --onlyvisible --classname '^srv_lumbrio$' 2>/dev/null); do
        if xwininfo -children -id "$w" | grep -q 'Parent window id: .*"YXTrayEmbedder"'; then
            echo "$w"
            return 0
        fi
    done
    return 1
}
main_window() { xdotool search --onlyvisible --name '^Srv Lumbrio$' 2>/dev/null | head -n1; }
error_box() { xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -n1; }
no_main_window() { [ -z "$(main_window)" ]; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; }
not_listening() { ! listening; }
# The popup menu: the visible srv_lumbrio window that is neither the icon nor the about window.
popup_menu() {
    local w icon
    icon=$(tray_icon)
    for w in $(xdotool search --onlyvisible --classname '^srv_lumbrio$' 2>/dev/null); do
        [ "$w" = "$icon" ] && continue
        [ "$(xdotool getwindowname "$w")" = "Srv Lumbrio" ] && continue
        echo "$w"
        return 0
    done
    return 1
}
# Absolute position and size of a window's client area: sets WX WY WW WH.
geometry() {
    local info
    [ -n "$1" ] || return 1 # xwininfo without a window would wait for a click
    info=$(xwininfo -id "$1") || return 1
    WX=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    WY=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    WW=$(awk '/Width:/ {print $2}' <<<"$info")
    WH=$(awk '/Height:/ {print $2}' <<<"$info")
}
# screenshot GEOMETRY FILE: a part of the screen. xwd takes no pointer grab, which would close
# an open popup menu.
screenshot() {
    sleep 0.3 # let the window manager's frame finish drawing
    xwd -root -silent >"$XS_WORK/screen.xwd" && convert "$XS_WORK/screen.xwd" -crop "$1" +repage "$2"
}
# The tray lays a new icon out in steps: wait until the icon stays put before using it.
LAST_ICON_PLACE=
icon_settled() {
    local place
    geometry "$(tray_icon)" || return 1
    place="$WX,$WY,$WW,$WH"
    if [ "$place" = "$LAST_ICON_PLACE" ]; then
        return 0
    fi
    LAST_ICON_PLACE=$place
    sleep 0.5
    return 1
}
click_icon() { # BUTTON [REPEAT]
    geometry "$(tray_icon)" || return 1
    xdotool mousemove $((WX + WW / 2)) $((WY + WH / 2)) click --repeat "${2:-1}" --delay 80 "$1"
}
# Opens the icon's menu. The window manager may take the first click after another window
# closed for itself, and a menu opened while the tray still lays out a new icon may close again
# at once: check that the menu stays open, else click again.
open_menu() {
    local attempt
    for attempt in 1 2 3 4 5; do
        wait_until "the tray icon to settle" icon_settled || return 1
        # Escape first: it ends whatever the window manager may still hold from the last window
        # that closed, which otherwise swallows the next click.
        xdotool key Escape
        click_icon 3 || return 1
        if WAIT_SECONDS=3 wait_until "the tray menu" popup_menu 2>/dev/null; then
            sleep 0.5
            popup_menu >/dev/null && return 0
        fi
    done
    echo "FAIL: no tray menu after 5 right-clicks" >&2
    return 1
}
click_menu_item() { # INDEX (0: "&Acerca de ...", 1: "&Salir")
    local menu
    menu=$(popup_menu) || return 1
    geometry "$menu" || return 1
    # Two items of equal height fill the menu.
    xdotool mousemove $((WX + WW / 2)) $((WY + WH * (2 * $1 + 1) / 4)) click 1
}

echo "== a failed connection shows the error box and never the icon"
start_server "$XS_WORK/Bad.ini"
if wait_until "the error box" error_box; then
    [ -z "$(tray_icon)" ] && pass "no tray icon while the error is shown" || fail "tray icon shown"
    # The box may still be settling when first seen: press OK until the server has gone.
    dismiss() {
        xdotool search --onlyvisible --name '^Error$' windowactivate --sync key Return 2>/dev/null
        ! kill -0 "$SERVER_PID" 2>/dev/null
    }
    wait_until "the error box to be dismissed" dismiss || fail "error box not dismissed"
    wait_server_exit
    [ "$SERVER_STATUS" = 0 ] && pass "status 0 after the error box" ||
        fail "status $SERVER_STATUS after the error box"
else
    fail "no error box"
    kill "$SERVER_PID" 2>/dev/null || true
fi

echo "== started: icon shown, window hidden, port open"
start_server "$XS_WORK/Conf.ini"
need "the tray icon" tray_icon
need "the listener" listening
no_main_window && pass "window hidden at start" || fail "window shown at start"

echo "== the tray menu"
open_menu && pass "right-click opens the menu" || report
mkdir -p "$SHOTS"
geometry "$(popup_menu)" || report
screenshot 1024x768+$((WX - 60))+$((WY - 40)) "$SHOTS/tray-menu.png"
click_menu_item 0 || fail "menu closed before its first item was clicked"
need "the about window after \"Acerca de ...\"" main_window

W=$(main_window)
geometry "$W" || report
[ "$WW" = 264 ] && [ "$WH" = 144 ] && pass "client area 264 x 144" ||
    fail "client area ${WW}x${WH}"
centre_x=$((WX + WW / 2))
((centre_x >= 502 && centre_x <= 522)) && pass "centred" || fail "not centred (x $WX)"
screenshot $((WW + 40))x$((WH + 60))+$((WX - 20))+$((WY - 35)) "$SHOTS/about-window.png"

echo "== \"&Aceptar\" hides, double-click shows, a second double-click keeps it shown"
xdotool key --window "$W" alt+a
wait_until "the window to hide" no_main_window && pass "Alt+A hides the window" ||
    fail "window still shown after Alt+A"
[ -n "$(tray_icon)" ] && listening && pass "icon and listener stay" || fail "icon or listener gone"
need "the tray icon to settle" icon_settled
click_icon 1 2 || fail "no icon to double-click"
need "the window after a double-click" main_window
click_icon 1 2 || fail "no icon to double-click"
sleep 0.5 # nothing should happen; give a wrong toggle the chance to show
[ -n "$(main_window)" ] && pass "second double-click leaves it shown" || fail "window toggled off"

echo "== the close box ends the server with status 0"
geometry "$(main_window)" || report
xdotool mousemove $((WX + WW - 14)) $((WY - 10)) click 1
wait_server_exit
[ "$SERVER_STATUS" = 0 ] && pass "close box: status 0" || fail "close box: status $SERVER_STATUS"
wait_until "the port to close" not_listening || fail "port still open"

echo "== \"&Salir\" ends the server with status 0 (window never shown)"
start_server "$XS_WORK/Conf.ini"
need "the tray icon" tray_icon
need "the listener" listening
open_menu || report
click_menu_item 1 || fail "menu closed before its second item was clicked"
wait_server_exit
[ "$SERVER_STATUS" = 0 ] && pass "Salir: status 0" || fail "Salir: status $SERVER_STATUS"

echo "== without a system tray the window is shown at start"
kill "${XS_PIDS[1]}" # the window manager and its tray
wait "${XS_PIDS[1]}" 2>/dev/null || true
start_server "$XS_WORK/Conf.ini"
wait_until "the window" main_window && pass "window shown without a tray" ||
    fail "no window without a tray"
wait_until "the listener" listening || fail "port not open"
kill -TERM "$SERVER_PID"
wait_server_exit
[ "$SERVER_STATUS" = 0 ] && pass "SIGTERM: status 0" || fail "SIGTERM: status $SERVER_STATUS"

report
echo "all desktop checks passed"
